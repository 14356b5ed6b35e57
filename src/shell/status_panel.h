// The status line along the bottom of the window (SNR, squelch, peak frequency, receive
// and transmit speed) and the decoder's diagnostic read-outs, which live below the visible
// client area. Construction and the per-block updates from the receiver. GUI thread only.
#pragma once

#include <QFrame>
#include <QLabel>

namespace kestrix {
class Receiver;
}

namespace kestrix::shell {

struct StatusPanel {
  QFrame* Panel = nullptr;  // StatusPanel
  QLabel* AvgSignalCntr = nullptr;
  QLabel* RawSNR_Label = nullptr;
  QLabel* FreqDisplay = nullptr;
  QLabel* TestString = nullptr;
  QLabel* CodeLabel = nullptr;

  // Diagnostic read-outs (never seen at the window's fixed size).
  QLabel* DotCntr = nullptr;
  QLabel* DashCntr = nullptr;
  QLabel* NoiseCntr = nullptr;
  QLabel* SignalCntr = nullptr;
  QLabel* SigThreshCntr3 = nullptr;
  QLabel* Timeout = nullptr;
  QLabel* DotDash = nullptr;
  QLabel* AvgNoiseCntr = nullptr;
  QLabel* AvgSignalCntr3 = nullptr;
  QLabel* Dotcounter = nullptr;
  QLabel* Dashcounter = nullptr;
  QLabel* Avgdotcounter = nullptr;
  QLabel* Avgdashcounter = nullptr;
  QLabel* Sumdotcounter = nullptr;
  QLabel* Sumdashcounter = nullptr;
  QLabel* Counterdot = nullptr;
  QLabel* Counterdash = nullptr;
  QLabel* Oncounter = nullptr;
  QLabel* Offcounter = nullptr;
  QLabel* AvgHysterisis = nullptr;
  QLabel* CodeLetter = nullptr;

  void Build(QWidget* form);

  // After the keying detector: "SNR (dB)" is the detector's contrast (its noise contrast
  // while idle), integer part.
  void ShowLevels(const Receiver& rx);
  // End of a block: the timing counters, Timeout, the last finished code and, when the
  // speed update has displayed a new speed, "Rec WPM".
  void ShowBlockCounters(const Receiver& rx);

 private:
  int shownWpm_ = 0;
};

}  // namespace kestrix::shell
