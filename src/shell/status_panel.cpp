#include "shell/status_panel.h"

#include <QHBoxLayout>
#include <cmath>

#include "receive/receiver.h"
#include "shell/layout.h"
#include "shell/ui_helpers.h"

namespace kestrix::shell {
namespace {

void SetNumber(QLabel* label, long long value) {
  const QString text = QString::number(value);
  if (label->text() != text) label->setText(text);
}

// The integer part of a double, saturated to what a label can show.
long long IntegerPart(double v) {
  if (!std::isfinite(v)) return 0;
  if (v > 9e18) return 9000000000000000000LL;
  if (v < -9e18) return -9000000000000000000LL;
  return static_cast<long long>(v);
}

}  // namespace

void StatusPanel::Build(QWidget* form) {
  Panel = new QFrame(form);
  Panel->setObjectName("StatusPanel");
  Panel->setGeometry(kStatusPanel);
  Panel->setAutoFillBackground(true);
  QPalette white = Panel->palette();
  white.setColor(QPalette::Window, kWhite);
  white.setColor(QPalette::WindowText, kBlack);
  Panel->setPalette(white);
  QFont f = Panel->font();
  f.setPixelSize(13);
  Panel->setFont(f);

  auto* row = new QHBoxLayout(Panel);
  row->setContentsMargins(4, 0, 4, 0);
  row->setSpacing(0);
  auto text = [&](const char* name, const QString& caption) {
    auto* l = new QLabel(caption, Panel);
    l->setObjectName(QString::fromLatin1(name));
    row->addWidget(l);
    return l;
  };
  auto value = [&](const char* name, const QString& initial, const QString& hint) {
    QLabel* l = text(name, initial);
    l->setToolTip(hint);
    l->setMinimumWidth(30);
    return l;
  };
  text("SnrCaption", "SNR (dB) = ");
  AvgSignalCntr = value("AvgSignalCntr", "0", "Average received signal level");
  text("SquelchCaption", " Squelch  =");
  RawSNR_Label = value("RawSNR_Label", "0", "Average threshold of the signal level");
  text("PeakFreqCaption", " Peak Freq=");
  FreqDisplay = value("FreqDisplay", "?", "Peak frequency in the spectrum");
  text("RecWpmCaption", " Rec WPM=");
  TestString = value("TestString", "?", "Received words per minute");
  text("XmitWpmCaption", " Xmit WPM=");
  CodeLabel = value("CodeLabel", "25", "Transmit words per minute");
  row->addStretch(1);

  // Diagnostic read-outs: caption and value pairs below the bottom edge.
  int index = 0;
  auto pair = [&](const char* caption, const char* name, const QString& initial = "0") {
    const int x = (index % 3) * 180;
    const int y = kDiagnosticTop + (index / 3) * 20;
    MakeLabel(form, (QByteArray(name) + "Caption").constData(), caption, QRect(x, y, 90, 18));
    QLabel* l = MakeLabel(form, name, initial, QRect(x + 92, y, 80, 18));
    ++index;
    return l;
  };
  DotCntr = pair("Dots", "DotCntr");
  DashCntr = pair("Dashes", "DashCntr");
  NoiseCntr = pair("Noise", "NoiseCntr");
  SignalCntr = pair("Signal", "SignalCntr");
  SigThreshCntr3 = pair("SigThres", "SigThreshCntr3");
  Timeout = pair("Timeout", "Timeout");
  DotDash = pair("DotDash", "DotDash");
  AvgNoiseCntr = pair("AvgNoise", "AvgNoiseCntr");
  AvgSignalCntr3 = pair("TotalAvg", "AvgSignalCntr3");
  Dotcounter = pair("Dots", "Dotcounter");
  Dashcounter = pair("Dashes", "Dashcounter");
  Avgdotcounter = pair("AvgDot", "Avgdotcounter");
  Avgdashcounter = pair("AvgDash", "Avgdashcounter");
  Sumdotcounter = pair("Sumdots", "Sumdotcounter");
  Sumdashcounter = pair("SumDashes", "Sumdashcounter");
  Counterdot = pair("Counterdot", "Counterdot");
  Counterdash = pair("Counterdash", "Counterdash");
  Oncounter = pair("OnCounter", "Oncounter");
  Offcounter = pair("OffCounter", "Offcounter");
  AvgHysterisis = pair("Hysterisis", "AvgHysterisis");
  CodeLetter = pair("Code", "CodeLetter", "CODE");
}

void StatusPanel::ShowLevels(const Receiver& rx) {
  const DetectorState& d = rx.Detector;
  SetNumber(AvgSignalCntr, IntegerPart(d.IdleFlag ? d.NoiseContrast : d.Contrast));
  SetNumber(Timeout, d.Timeout);
}

void StatusPanel::ShowBlockCounters(const Receiver& rx) {
  const TimingState& t = rx.Timing;
  SetNumber(Dotcounter, t.DotHistory[1]);
  SetNumber(Dashcounter, t.DashHistory[1]);
  SetNumber(Avgdotcounter, t.AvgDot);
  SetNumber(Avgdashcounter, t.AvgDash);
  SetNumber(Sumdotcounter, t.Sumdots);
  SetNumber(Sumdashcounter, t.SumDashes);
  SetNumber(Counterdot, t.Counterdot);
  SetNumber(Counterdash, t.Counterdash);
  SetNumber(Oncounter, t.OnCounter);
  SetNumber(Offcounter, t.OffCounter);
  SetNumber(DotDash, static_cast<long long>(t.DotDash) * t.AvgDot);
  SetNumber(Timeout, rx.Detector.Timeout);
  if (t.CodeLetter >= 0) SetNumber(CodeLetter, t.CodeLetter);
  // The label keeps its last text while the speed limiter holds the display back.
  if (t.ShownWpm != shownWpm_) {
    shownWpm_ = t.ShownWpm;
    SetNumber(TestString, t.ShownWpm);
  }
}

}  // namespace kestrix::shell
