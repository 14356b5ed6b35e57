// The logic of the sound card selection dialog (label SoundCardManf, up-down WaveUpDown
// 0..32, button CloseBtn "Select"). The window builds the widgets and, after each call,
// shows what View() returns. GUI thread only.
//
// While the dialog is up the receive loop idles (TxActive); choosing a device that opens,
// or closing the dialog by its frame, lets the loop run out and restart one SystemTimer
// interval later on the chosen device.
#pragma once

#include <string>

#include "receive/receive_loop.h"

namespace kestrix {

inline constexpr int kWaveUpDownMax = 32;
inline constexpr const char* kTryDifferentDeviceText =
    "Error Opening Input wave device, try a different device";

enum class NameColour { kBlack, kBlue };

struct SoundCardView {
  bool Visible = false;
  int Position = 0;  // WaveUpDown
  std::string Name;  // SoundCardManf caption
  NameColour Colour = NameColour::kBlack;
};

class SoundCardSelect {
 public:
  explicit SoundCardSelect(ReceiveLoop& loop);

  // Options > Select Sound Card: pauses the loop and shows the dialog.
  const SoundCardView& SelectSoundCardClick();
  // The dialog appears: the current InputDevice and its name, when it is a valid index.
  const SoundCardView& FormShow();
  // The up-down moved to `position`; kept below the device count.
  const SoundCardView& WaveUpDownClick(int position);
  // "Select": trial open of the chosen device; on failure a message and device 0, and the
  // dialog stays; on success the dialog closes and the loop restarts on the device.
  const SoundCardView& CloseBtnClick();
  // Closed by the window frame: the loop restarts on the current InputDevice.
  const SoundCardView& FormClose();

  const SoundCardView& View() const { return view_; }

 private:
  void ShowName(int index);
  void ResumeReception();

  ReceiveLoop& loop_;
  SoundCardView view_;
};

}  // namespace kestrix
