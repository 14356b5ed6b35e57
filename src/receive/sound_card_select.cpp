#include "receive/sound_card_select.h"

#include <algorithm>

namespace kestrix {

namespace {
constexpr auto kRelaxed = std::memory_order_relaxed;
}

SoundCardSelect::SoundCardSelect(ReceiveLoop& loop) : loop_(loop) {}

const SoundCardView& SoundCardSelect::SelectSoundCardClick() {
  loop_.Host().DisarmTimer(LoopTimer::kSystemTimer);
  loop_.ReceiveHalted.store(0, kRelaxed);
  // The loop idles while the dialog is up, so the trial open does not compete with it.
  loop_.TxActive.store(1, kRelaxed);
  FormShow();
  loop_.RestartRequested.store(1, kRelaxed);
  return view_;
}

const SoundCardView& SoundCardSelect::FormShow() {
  view_.Visible = true;
  const int device = loop_.Rx().Capture.InputDevice;
  if (device >= 0 && device < loop_.Device().DeviceCount()) {
    view_.Position = device;
    ShowName(device);
  }
  return view_;
}

const SoundCardView& SoundCardSelect::WaveUpDownClick(int position) {
  const int count = loop_.Device().DeviceCount();
  position = std::clamp(position, 0, kWaveUpDownMax);
  if (position >= count) position = std::max(count - 1, 0);
  view_.Position = position;
  if (position < count) ShowName(position);
  view_.Colour = NameColour::kBlue;
  return view_;
}

const SoundCardView& SoundCardSelect::CloseBtnClick() {
  CaptureSettings& capture = loop_.Rx().Capture;
  capture.InputDevice = view_.Position;
  view_.Colour = NameColour::kBlack;
  CaptureDevice& device = loop_.Device();
  // The query's answer is not used: some devices refuse the query and open anyway.
  device.QueryFormat(view_.Position, capture.Format);
  if (device.TrialOpen(view_.Position, capture.Format) != kCaptureOk) {
    loop_.Host().ShowMessage(kWaveDeviceTitle, kTryDifferentDeviceText);
    capture.InputDevice = 0;
    view_.Position = 0;
    ShowName(0);
    return view_;
  }
  ResumeReception();
  return view_;
}

const SoundCardView& SoundCardSelect::FormClose() {
  view_.Colour = NameColour::kBlack;
  ResumeReception();
  return view_;
}

void SoundCardSelect::ShowName(int index) {
  view_.Name = loop_.Device().ProductName(index);
}

void SoundCardSelect::ResumeReception() {
  view_.Visible = false;
  loop_.AutoStartPending.store(1, kRelaxed);
  loop_.ReceiveHalted.store(0, kRelaxed);
  loop_.TxActive.store(0, kRelaxed);
  loop_.Host().ArmTimer(LoopTimer::kSystemTimer);
}

}  // namespace kestrix
