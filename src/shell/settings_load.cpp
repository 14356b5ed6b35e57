// Loading the settings file: every value the file holds applied in file order through the
// handler of the part of the window it belongs to, and the file made when it is missing.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "decoder/options.h"
#include "shell/settings_file.h"

namespace kestrix {

namespace so = settings_offset;

namespace {

// Field 30 and its second copy, field 61.
void ApplyWordSpaces(int32_t value, SettingsTextHandlers& text) {
  if (value == kOn3) {
    text.SpacesOnClick();
  } else {
    text.SpacesOffClick();
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

  if (has(so::kPrinterPortAddress, 4)) p.keying.StorePrinterPortAddress(r.PrinterPortAddress);
  if (has(so::kSignalGainBar, 4)) p.receive.SetSignalGainBar(r.SignalGainBar);
  if (has(so::kSpeedTrackBar, 4)) p.keying.SetSpeedTrackBar(r.SpeedTrackBar);
  // The stored volume is ignored: the side tone always comes back at 63.
  if (has(so::kToneVolume, 4)) p.tone.SetToneVolume(63);
  if (has(so::kToneFreqBar2, 4)) p.tone.SetToneFreqBar2(r.ToneFreqBar2);
  if (has(so::kFrequencyBar, 4)) p.receive.SetFrequencyBar(r.FrequencyBar);
  for (int n = 1; n <= kStoredSendBuffers; ++n) {
    if (has(SendBufferOffset(n), kSendBufferSize)) p.memories.SetSendBuffer(n, r.SendBuffer(n));
  }

  // After the buffers: the scratch pad and the two call-sign boxes show theirs, and the
  // report and closing texts always start out as "5nn " and "tu ". This runs even when the
  // file ended earlier, so those two buffers are the same after every load.
  {
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

  if (has(so::kLetterCase, 4)) {
    if (r.LetterCase == 1) {
      p.text.Upper1Click();
    } else {
      p.text.Lower1Click();
    }
  }
  if (has(so::kFontStyle, 4)) {
    if (r.FontStyle != 0) {
      p.text.Bold1Click();
    } else {
      p.text.Normal1Click();
    }
  }
  if (has(so::kReceiveSpeed, 4)) {
    switch (r.ReceiveSpeed) {
      case 1:
        p.receive.Auto3Click();
        break;
      case 2:
        p.receive.N25WPM1Click();
        break;
      case 3:
        p.receive.N35wpm1Click();
        break;
      case 4:
        p.receive.N50wpm1Click();
        break;
      default:
        p.receive.N50wpm2Click();
        break;
    }
  }
  if (has(so::kWordSpaces, 4)) ApplyWordSpaces(r.WordSpaces, p.text);
  if (has(so::kSpaceTime, 4)) {
    p.text.StoreSpaceTime(r.SpaceTime);
    switch (r.SpaceTime) {
      case 0:
        p.text.Short1Click();
        break;
      case 1:
        p.text.Medium2Click();
        break;
      case 2:
        p.text.Long1Click();
        break;
      default:
        break;
    }
  }
  if (has(so::kAfcMode, 4)) {
    p.receive.StoreAfcMode(r.AfcMode);
    switch (r.AfcMode) {
      case 0:
        p.receive.Off1Click();
        break;
      case 1:
        p.receive.Narrow1Click();
        break;
      case 2:
        p.receive.Medium1Click();
        break;
      case 3:
        p.receive.Wide1Click();
        break;
      default:
        break;
    }
  }
  if (has(so::kFontSize, 4)) {
    p.text.StoreFontSize(r.FontSize);
    switch (r.FontSize) {
      case 1:
        p.text.SmallFont1Click();
        break;
      case 2:
        p.text.NormalFont1Click();
        break;
      case 3:
        p.text.MediumFont1Click();
        break;
      case 4:
        p.text.LargeFont1Click();
        break;
      default:
        break;
    }
  }
  if (has(so::kPortKind, 4)) p.keying.StorePortKind(r.PortKind);
  if (has(so::kPortName, kPortNameSize)) {
    p.keying.StorePortName(r.PortName);
    const std::string_view name = FieldText(r.PortName);
    if (name == "LPT1" || name == "LPT2") {
      p.keying.Printer11Click();
    } else if (name == "NONE") {
      p.keying.None1Click();
    } else {
      p.keying.OpenNamedComPort(name);
    }
  }
  if (has(so::kTimelineTop, 4)) p.window.SetTimelineTop(r.TimelineTop);
  if (has(so::kTimelineLeft, 4)) p.window.SetTimelineLeft(r.TimelineLeft);
  if (has(so::kTimelineHeight, 4)) p.window.SetTimelineHeight(r.TimelineHeight);
  if (has(so::kTimelineWidth, 4)) p.window.SetTimelineWidth(r.TimelineWidth);
  if (has(so::kMainTop, 4)) p.window.SetMainTop(r.MainTop);
  if (has(so::kMainLeft, 4)) p.window.SetMainLeft(r.MainLeft);
  if (has(so::kCoarseGain, 4)) {
    p.receive.StoreCoarseGain(r.CoarseGain);
    switch (r.CoarseGain) {
      case 1:
        p.receive.Rx01BtnClick();
        break;
      case 2:
        p.receive.Rx1BtnClick();
        break;
      case 3:
        p.receive.Rx10BtnClick();
        break;
      case 4:
        p.receive.Rx001BtnClick();
        break;
      default:
        break;
    }
  }
  if (has(so::kThresholdType, 4)) {
    // 4 is what "Quiet" stores; it is kept without moving a check mark.
    p.receive.StoreThresholdType(r.ThresholdType);
    switch (r.ThresholdType) {
      case 0:
        p.receive.Normal2Click();
        break;
      case 1:
        p.receive.Noisy2Click();
        break;
      case 2:
        p.receive.Manual3Click();
        break;
      case 3:
        p.receive.Auto4Click();
        break;
      default:
        break;
    }
  }
  if (has(so::kBlanking, 1)) {
    // The button toggles, so start from the opposite of the wanted state.
    p.receive.SetBlankingFlag(r.Blanking != 1);
    p.receive.BlankBtnClick();
  }
  if (has(so::kNoiseFilter, 4)) {
    if (r.NoiseFilter != 0) {
      p.receive.FilterOn1Click();
    } else {
      p.receive.FilterOff1Click();
    }
  }
  if (has(so::kDisplayGain, 4)) {
    p.receive.SetCoarseGainTrackBar(r.DisplayGain);
    p.receive.CoarseGainTrackBarChange();
  }
  if (has(so::kFadeControl, 1)) {
    if (r.FadeControl == 1) {
      p.receive.Fade_OnClick();
    } else {
      p.receive.Fade_OffClick();
    }
  }
  if (has(so::kInputChannel, 4)) {
    p.receive.StoreInputChannel(r.InputChannel);
    switch (r.InputChannel) {
      case 1:
        p.receive.MicInputClick();
        break;
      case 2:
        p.receive.LeftInputClick();
        break;
      case 3:
        p.receive.RightInputClick();
        break;
      default:
        break;
    }
  }
  if (has(so::kKeyPolarity, 4)) {
    if (r.KeyPolarity == 1) {
      p.keying.Normal3Click();
    } else {
      p.keying.Invert2Click();
    }
  }
  if (has(so::kProsigns, 1)) {
    if (r.Prosigns == 1) {
      p.text.ProsignEnableClick();
    } else {
      p.text.ProsignDisableClick();
    }
  }
  if (has(so::kSquelch, 1)) p.receive.SetSquelch(r.Squelch == 1);
  if (has(so::kNonEnglish, 1)) {
    if (r.NonEnglish == 1) {
      p.text.EnableEnglishClick();
    } else {
      p.text.DisableEnglishClick();
    }
  }
  if (has(so::kSideTone, 1)) {
    if (r.SideTone == 1) {
      p.keying.SideToneOnClick();
    } else {
      p.keying.SideToneOFFClick();
    }
  }
  if (has(so::kStayOnTop, 1)) {
    if (r.StayOnTop != 0) {
      p.window.On1Click();
    } else {
      p.window.Off2Click();
    }
  }
  if (has(so::kManualThreshold, 4)) {
    p.receive.SetThresholdBar2(ThresholdBar2FromStored(r.ManualThreshold));
    p.receive.ThresholdBar2Change();
  }
  if (has(so::kMessaging, 1)) {
    if (r.Messaging == 1) {
      p.text.MsgsONClick();
    } else {
      p.text.MsgsOFFClick();
    }
  }
  if (has(so::kTimelineShown, 1)) {
    if (r.TimelineShown == 1) {
      p.window.ShowTimeline(r.TimelineTop, r.TimelineLeft, r.TimelineHeight, r.TimelineWidth);
    } else {
      p.window.HideTimeline();
    }
  }
  if (has(so::kInputDevice, 4)) p.receive.StoreInputDevice(r.InputDevice);
  if (has(so::kComPortNumber, 4)) p.keying.SetComPortSpinBtn(r.ComPortNumber);
  if (has(so::kAfcStartFrequency, 4)) {
    // The tuning goes to bin 112 (about 602 Hz) whatever the stored start frequency; the
    // marker label shows the stored value. This overrides field 6.
    constexpr int32_t kStartBin = 112;
    p.receive.SetAfcStartSpinBtn(r.AfcStartFrequency);
    p.receive.SetFrequencyBar(kStartBin);
    p.receive.SetMarkerFrequency(kStartBin * 22050 / 4096);
    p.receive.ShowMkrLabel(r.AfcStartFrequency);
  }
  if (has(so::kWordSpaces2, 4)) ApplyWordSpaces(r.WordSpaces2, p.text);
  if (has(so::kDisplayType, 4)) {
    if (r.DisplayType != 0) {
      p.receive.Waterfall2Click();
    } else {
      p.receive.Spectrum1Click();
    }
  }
  if (has(so::kReserved, 1)) p.window.StoreReserved(r.Reserved);
  if (has(so::kOutputDevice, 4)) {
    if (r.OutputDevice != 0) {
      p.keying.SerialPort1Click();
    } else {
      p.keying.SoundCard1Click();
    }
  }
  if (has(so::kToneFrequency, 4)) {
    // Exact comparisons: any other frequency (800 Hz, say) is kept with no item checked.
    p.tone.StoreToneFrequency(r.ToneFrequency);
    if (r.ToneFrequency == 600.0f) {
      p.tone.Freq1Click();
    } else if (r.ToneFrequency == 750.0f) {
      p.tone.Freq2Click();
    } else if (r.ToneFrequency == 1000.0f) {
      p.tone.Freq3Click();
    }
  }
  if (has(so::kToneWaveform, 4)) {
    if (r.ToneWaveform != 0) {
      p.tone.Squarewave1Click();
    } else {
      p.tone.Sinewave1Click();
    }
  }
  // The up-down's position is 16 bits wide; the stored value is cut to it (modulo 2^16).
  if (has(so::kContestSerial, 4)) p.memories.SetXmitUpDn(static_cast<int16_t>(r.ContestSerial));
  if (has(so::kTransmitWindow, 4)) {
    if (r.TransmitWindow != 0) {
      p.memories.ContestWindowClick();
    } else {
      p.memories.F10ScratchPadClick();
    }
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
      p.keying.SetTimingRatio(ratio.which, ratio.value, RatioUpDownPosition(ratio.value),
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
