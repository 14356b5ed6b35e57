// Loading the settings file: every value the file holds applied in file order through the
// handler of the part of the window it belongs to, and the file made when it is missing.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string_view>

#include "decoder/options.h"
#include "shell/settings_file.h"

namespace kestrix {

namespace so = settings_offset;

namespace {

using WindowPart = SettingsWindowHandlers;
using ReceivePart = SettingsReceiveHandlers;
using TextPart = SettingsTextHandlers;
using KeyingPart = SettingsKeyingHandlers;
using TonePart = SettingsToneHandlers;
using MemoryPart = SettingsMemoryHandlers;

// A two-way choice: `first` runs `yes`, otherwise `no`.
template <typename Part>
void Either(bool first, Part& part, void (Part::*yes)(), void (Part::*no)()) {
  (part.*(first ? yes : no))();
}

// A menu of items numbered from `base`: the item for `value`; a value off the menu runs
// nothing.
template <typename Part, size_t N>
void Item(int32_t value, int32_t base, Part& part, void (Part::*const (&items)[N])()) {
  const int64_t i = static_cast<int64_t>(value) - base;
  if (i >= 0 && i < static_cast<int64_t>(N)) (part.*items[i])();
}

// Field 30 and its second copy, field 61.
void ApplyWordSpaces(int32_t value, TextPart& text) {
  Either(value == kOn3, text, &TextPart::SpacesOnClick, &TextPart::SpacesOffClick);
}

// After the buffers: the scratch pad and the two call-sign boxes show theirs, and the
// report and closing texts always start out as "5nn " and "tu ". This runs even when the
// file ended earlier, so those two buffers are the same after every load.
void ApplyBufferTexts(const uint8_t* data, size_t size, const SettingsRecord& r,
                      const SettingsTargets& p) {
  const SettingsRecord* shown = &r;
  std::unique_ptr<SettingsRecord> current;
  if (SendBufferOffset(17) + kSendBufferSize > size) {
    // Some of the three buffers were not in the file: they show what they hold now.
    current = std::make_unique<SettingsRecord>(p.window.CurrentSettings());
    ParseSettings(data, size, *current);
    shown = current.get();
  }
  p.memories.SetScratchPadText(FieldText(shown->SendBuffer(10)));
  p.memories.SetRemoteCallText(FieldText(shown->SendBuffer(16)));
  p.memories.SetMyCallText(FieldText(shown->SendBuffer(17)));
  p.memories.CopyTextToSendBuffer(19, "5nn ");
  p.memories.CopyTextToSendBuffer(20, "tu ");
}

// Field 29: 1 Auto, 2..4 the presets, anything else "50+ wpm".
void ApplyReceiveSpeed(int32_t value, ReceivePart& receive) {
  static constexpr void (ReceivePart::*kItems[])() = {
      &ReceivePart::Auto3Click, &ReceivePart::N25WPM1Click, &ReceivePart::N35wpm1Click,
      &ReceivePart::N50wpm1Click};
  if (value >= 1 && value <= 4) {
    Item(value, 1, receive, kItems);
  } else {
    receive.N50wpm2Click();
  }
}

// Field 35: "LPT1"/"LPT2" the parallel port, "NONE" no port, any other name a serial
// device.
void ApplyPortName(const PortNameBytes& stored, KeyingPart& keying) {
  keying.StorePortName(stored);
  const std::string_view name = FieldText(stored);
  if (name == "LPT1" || name == "LPT2") {
    keying.Printer11Click();
  } else if (name == "NONE") {
    keying.None1Click();
  } else {
    keying.OpenNamedComPort(name);
  }
}

// Field 60: the tuning goes to bin 112 (about 602 Hz) whatever the stored start frequency;
// the marker label shows the stored value. This overrides field 6.
void ApplyAfcStart(int32_t hz, ReceivePart& receive) {
  constexpr int32_t kStartBin = 112;
  receive.SetAfcStartSpinBtn(hz);
  receive.SetFrequencyBar(kStartBin);
  receive.SetMarkerFrequency(kStartBin * 22050 / 4096);
  receive.ShowMkrLabel(hz);
}

// Field 65: exact comparisons; any other frequency (800 Hz, say) is kept with no item
// checked.
void ApplyToneFrequency(float hz, TonePart& tone) {
  tone.StoreToneFrequency(hz);
  if (hz == 600.0f) {
    tone.Freq1Click();
  } else if (hz == 750.0f) {
    tone.Freq2Click();
  } else if (hz == 1000.0f) {
    tone.Freq3Click();
  }
}

std::string ErrnoText(int err) {
  return std::strerror(err);
}

}  // namespace

int ApplySettings(const uint8_t* data, size_t size, const SettingsTargets& p) {
  // Everything the file holds is parsed first; the actions below then run in file order,
  // each only when its field was wholly inside the file.
  // The record is 82 KB; keep it off the stack.
  const auto record = std::make_unique<SettingsRecord>();
  SettingsRecord& r = *record;
  ParseSettings(data, size, r);
  int applied = 0;
  auto has = [&](size_t offset, size_t width) {
    const bool present = offset + width <= size;
    applied += present;
    return present;
  };
  WindowPart& window = p.window;
  ReceivePart& receive = p.receive;
  TextPart& text = p.text;
  KeyingPart& keying = p.keying;
  TonePart& tone = p.tone;
  MemoryPart& memories = p.memories;

  if (has(so::kPrinterPortAddress, 4)) keying.StorePrinterPortAddress(r.PrinterPortAddress);
  if (has(so::kSignalGainBar, 4)) receive.SetSignalGainBar(r.SignalGainBar);
  if (has(so::kSpeedTrackBar, 4)) keying.SetSpeedTrackBar(r.SpeedTrackBar);
  // The stored volume is ignored: the side tone always comes back at 63.
  if (has(so::kToneVolume, 4)) tone.SetToneVolume(63);
  if (has(so::kToneFreqBar2, 4)) tone.SetToneFreqBar2(r.ToneFreqBar2);
  if (has(so::kFrequencyBar, 4)) receive.SetFrequencyBar(r.FrequencyBar);
  for (int n = 1; n <= kStoredSendBuffers; ++n) {
    if (has(SendBufferOffset(n), kSendBufferSize)) memories.SetSendBuffer(n, r.SendBuffer(n));
  }
  ApplyBufferTexts(data, size, r, p);

  if (has(so::kLetterCase, 4)) {
    Either(r.LetterCase == 1, text, &TextPart::Upper1Click, &TextPart::Lower1Click);
  }
  if (has(so::kFontStyle, 4)) {
    Either(r.FontStyle != 0, text, &TextPart::Bold1Click, &TextPart::Normal1Click);
  }
  if (has(so::kReceiveSpeed, 4)) ApplyReceiveSpeed(r.ReceiveSpeed, receive);
  if (has(so::kWordSpaces, 4)) ApplyWordSpaces(r.WordSpaces, text);
  if (has(so::kSpaceTime, 4)) {
    static constexpr void (TextPart::*kItems[])() = {
        &TextPart::Short1Click, &TextPart::Medium2Click, &TextPart::Long1Click};
    text.StoreSpaceTime(r.SpaceTime);
    Item(r.SpaceTime, 0, text, kItems);
  }
  if (has(so::kAfcMode, 4)) {
    static constexpr void (ReceivePart::*kItems[])() = {
        &ReceivePart::Off1Click, &ReceivePart::Narrow1Click, &ReceivePart::Medium1Click,
        &ReceivePart::Wide1Click};
    receive.StoreAfcMode(r.AfcMode);
    Item(r.AfcMode, 0, receive, kItems);
  }
  if (has(so::kFontSize, 4)) {
    static constexpr void (TextPart::*kItems[])() = {
        &TextPart::SmallFont1Click, &TextPart::NormalFont1Click, &TextPart::MediumFont1Click,
        &TextPart::LargeFont1Click};
    text.StoreFontSize(r.FontSize);
    Item(r.FontSize, 1, text, kItems);
  }
  if (has(so::kPortKind, 4)) keying.StorePortKind(r.PortKind);
  if (has(so::kPortName, kPortNameSize)) ApplyPortName(r.PortName, keying);
  if (has(so::kTimelineTop, 4)) window.SetTimelineTop(r.TimelineTop);
  if (has(so::kTimelineLeft, 4)) window.SetTimelineLeft(r.TimelineLeft);
  if (has(so::kTimelineHeight, 4)) window.SetTimelineHeight(r.TimelineHeight);
  if (has(so::kTimelineWidth, 4)) window.SetTimelineWidth(r.TimelineWidth);
  if (has(so::kMainTop, 4)) window.SetMainTop(r.MainTop);
  if (has(so::kMainLeft, 4)) window.SetMainLeft(r.MainLeft);
  if (has(so::kCoarseGain, 4)) {
    static constexpr void (ReceivePart::*kItems[])() = {
        &ReceivePart::Rx01BtnClick, &ReceivePart::Rx1BtnClick, &ReceivePart::Rx10BtnClick,
        &ReceivePart::Rx001BtnClick};
    receive.StoreCoarseGain(r.CoarseGain);
    Item(r.CoarseGain, 1, receive, kItems);
  }
  if (has(so::kThresholdType, 4)) {
    // 4 is what "Quiet" stores; it is kept without moving a check mark.
    static constexpr void (ReceivePart::*kItems[])() = {
        &ReceivePart::Normal2Click, &ReceivePart::Noisy2Click, &ReceivePart::Manual3Click,
        &ReceivePart::Auto4Click};
    receive.StoreThresholdType(r.ThresholdType);
    Item(r.ThresholdType, 0, receive, kItems);
  }
  if (has(so::kBlanking, 1)) {
    // The button toggles, so start from the opposite of the wanted state.
    receive.SetBlankingFlag(r.Blanking != 1);
    receive.BlankBtnClick();
  }
  if (has(so::kNoiseFilter, 4)) {
    Either(r.NoiseFilter != 0, receive, &ReceivePart::FilterOn1Click,
           &ReceivePart::FilterOff1Click);
  }
  if (has(so::kDisplayGain, 4)) {
    receive.SetCoarseGainTrackBar(r.DisplayGain);
    receive.CoarseGainTrackBarChange();
  }
  if (has(so::kFadeControl, 1)) {
    Either(r.FadeControl == 1, receive, &ReceivePart::Fade_OnClick, &ReceivePart::Fade_OffClick);
  }
  if (has(so::kInputChannel, 4)) {
    static constexpr void (ReceivePart::*kItems[])() = {
        &ReceivePart::MicInputClick, &ReceivePart::LeftInputClick, &ReceivePart::RightInputClick};
    receive.StoreInputChannel(r.InputChannel);
    Item(r.InputChannel, 1, receive, kItems);
  }
  if (has(so::kKeyPolarity, 4)) {
    Either(r.KeyPolarity == 1, keying, &KeyingPart::Normal3Click, &KeyingPart::Invert2Click);
  }
  if (has(so::kProsigns, 1)) {
    Either(r.Prosigns == 1, text, &TextPart::ProsignEnableClick, &TextPart::ProsignDisableClick);
  }
  if (has(so::kSquelch, 1)) receive.SetSquelch(r.Squelch == 1);
  if (has(so::kNonEnglish, 1)) {
    Either(r.NonEnglish == 1, text, &TextPart::EnableEnglishClick, &TextPart::DisableEnglishClick);
  }
  if (has(so::kSideTone, 1)) {
    Either(r.SideTone == 1, keying, &KeyingPart::SideToneOnClick, &KeyingPart::SideToneOFFClick);
  }
  if (has(so::kStayOnTop, 1)) {
    Either(r.StayOnTop != 0, window, &WindowPart::On1Click, &WindowPart::Off2Click);
  }
  if (has(so::kManualThreshold, 4)) {
    receive.SetThresholdBar2(ThresholdBar2FromStored(r.ManualThreshold));
    receive.ThresholdBar2Change();
  }
  if (has(so::kMessaging, 1)) {
    Either(r.Messaging == 1, text, &TextPart::MsgsONClick, &TextPart::MsgsOFFClick);
  }
  if (has(so::kTimelineShown, 1)) {
    if (r.TimelineShown == 1) {
      window.ShowTimeline(r.TimelineTop, r.TimelineLeft, r.TimelineHeight, r.TimelineWidth);
    } else {
      window.HideTimeline();
    }
  }
  if (has(so::kInputDevice, 4)) receive.StoreInputDevice(r.InputDevice);
  if (has(so::kComPortNumber, 4)) keying.SetComPortSpinBtn(r.ComPortNumber);
  if (has(so::kAfcStartFrequency, 4)) ApplyAfcStart(r.AfcStartFrequency, receive);
  if (has(so::kWordSpaces2, 4)) ApplyWordSpaces(r.WordSpaces2, text);
  if (has(so::kDisplayType, 4)) {
    Either(r.DisplayType != 0, receive, &ReceivePart::Waterfall2Click,
           &ReceivePart::Spectrum1Click);
  }
  if (has(so::kReserved, 1)) window.StoreReserved(r.Reserved);
  if (has(so::kOutputDevice, 4)) {
    Either(r.OutputDevice != 0, keying, &KeyingPart::SerialPort1Click,
           &KeyingPart::SoundCard1Click);
  }
  if (has(so::kToneFrequency, 4)) ApplyToneFrequency(r.ToneFrequency, tone);
  if (has(so::kToneWaveform, 4)) {
    Either(r.ToneWaveform != 0, tone, &TonePart::Squarewave1Click, &TonePart::Sinewave1Click);
  }
  // The up-down's position is 16 bits wide; the stored value is cut to it (modulo 2^16).
  if (has(so::kContestSerial, 4)) memories.SetXmitUpDn(static_cast<int16_t>(r.ContestSerial));
  if (has(so::kTransmitWindow, 4)) {
    Either(r.TransmitWindow != 0, memories, &MemoryPart::ContestWindowClick,
           &MemoryPart::F10ScratchPadClick);
  }
  const struct {
    TimingRatio which;
    size_t offset;
    float value;
  } ratios[] = {{TimingRatio::kDot, so::kDotRatio, r.DotRatio},
                {TimingRatio::kDash, so::kDashRatio, r.DashRatio},
                {TimingRatio::kChar, so::kCharRatio, r.CharRatio},
                {TimingRatio::kWord, so::kWordRatio, r.WordRatio}};
  for (const auto& ratio : ratios) {
    if (has(ratio.offset, 4)) {
      keying.SetTimingRatio(ratio.which, ratio.value, RatioUpDownPosition(ratio.value),
                            RatioMemoText(ratio.value));
    }
  }
  return applied;
}

SettingsLoadResult LoadSettings(const std::string& path, const SettingsTargets& p) {
  SettingsLoadResult result;
  p.receive.RaiseForceModeSetup();
  if (path.empty()) return result;

  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    const int err = errno;
    if (err != ENOENT) {
      // The file is there but cannot be read: writing the defaults over it would lose it.
      result.outcome = SettingsLoadResult::Outcome::kUnreadable;
      result.message = "Settings file " + path + " could not be opened (" + ErrnoText(err) +
                       "); it is left as it is and the defaults are used.";
      return result;
    }
    SettingsRecord current = p.window.CurrentSettings();
    current.ToneVolume = 63;
    std::string error;
    if (SaveSettings(path, current, error)) {
      result.outcome = SettingsLoadResult::Outcome::kCreated;
    } else {
      result.outcome = SettingsLoadResult::Outcome::kCreateFailed;
      result.message = error;
    }
    return result;
  }

  // Only the layout is read; whatever follows it in a longer file is ignored.
  std::vector<uint8_t> bytes(kSettingsFileSize);
  size_t got = 0;
  int readError = 0;
  while (got < bytes.size()) {
    const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
    if (n < 0) {
      if (errno == EINTR) continue;
      readError = errno;
      break;
    }
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  ::close(fd);
  if (readError != 0) {
    result.outcome = SettingsLoadResult::Outcome::kUnreadable;
    result.message = "Settings file " + path + " could not be read (" + ErrnoText(readError) +
                     "); it is left as it is and the defaults are used.";
    return result;
  }

  result.outcome = SettingsLoadResult::Outcome::kLoaded;
  result.fileBytes = got;
  result.fieldsApplied = ApplySettings(bytes.data(), got, p);
  if (got < kSettingsFileSize) {
    result.message = "Settings file " + path + " is " + std::to_string(got) + " bytes, not " +
                     std::to_string(kSettingsFileSize) + "; " +
                     std::to_string(kSettingsFieldCount - result.fieldsApplied) +
                     " settings past its end keep their current values.";
  }
  p.receive.RaiseAutoStartPending();
  return result;
}

}  // namespace kestrix
