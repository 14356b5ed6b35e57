#include "shell/settings_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>

#include "decoder/options.h"
#include "receive/level.h"
#include "receive/tone.h"

namespace kestrix {

namespace so = settings_offset;

namespace {

// --- Little-endian field access -------------------------------------------------------
// Explicit byte order and offsets: the record's C++ layout has nothing to do with the file's.

void PutU32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

uint32_t GetU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

void PutI32(uint8_t* p, int32_t v) {
  PutU32(p, static_cast<uint32_t>(v));
}
int32_t GetI32(const uint8_t* p) {
  return static_cast<int32_t>(GetU32(p));
}

void PutF32(uint8_t* p, float v) {
  uint32_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  PutU32(p, bits);
}

float GetF32(const uint8_t* p) {
  const uint32_t bits = GetU32(p);
  float v;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

template <size_t N>
void PutBytes(uint8_t* p, const std::array<char, N>& field) {
  std::memcpy(p, field.data(), N);
}

template <size_t N>
void GetBytes(const uint8_t* p, std::array<char, N>& field) {
  std::memcpy(field.data(), p, N);
}

// Walks the file image field by field. A field is taken only when all of its bytes lie
// inside the image: a file cut short leaves the fields past its end untouched.
class FieldReader {
 public:
  FieldReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  bool Has(size_t offset, size_t width) const { return offset + width <= size_; }
  const uint8_t* At(size_t offset) const { return data_ + offset; }

  bool Int(size_t offset, int32_t& out) const {
    if (!Has(offset, 4)) return false;
    out = GetI32(At(offset));
    return true;
  }
  bool Byte(size_t offset, uint8_t& out) const {
    if (!Has(offset, 1)) return false;
    out = *At(offset);
    return true;
  }
  bool Float(size_t offset, float& out) const {
    if (!Has(offset, 4)) return false;
    out = GetF32(At(offset));
    return true;
  }
  template <size_t N>
  bool Bytes(size_t offset, std::array<char, N>& out) const {
    if (!Has(offset, N)) return false;
    GetBytes(At(offset), out);
    return true;
  }

 private:
  const uint8_t* data_;
  size_t size_;
};

// Field 30 and its second copy, field 61.
void ApplyWordSpaces(int32_t value, SettingsHandlers& h) {
  if (value == kOn3) {
    h.SpacesOnClick();
  } else {
    h.SpacesOffClick();
  }
}

std::string ErrnoText(int err) {
  return std::strerror(err);
}

}  // namespace

SettingsRecord DefaultSettings() {
  SettingsRecord r;
  // The receive side starts from the receive chain's own defaults, so a file written
  // before any load matches what the window holds at that moment.
  const ReceiveOptions options;
  const ReceiveGain gain;
  const ToneTracker tone;
  r.FrequencyBar = kFrequencyBarDefault;
  r.SignalGainBar = gain.SignalGainPosition;
  r.CoarseGain = gain.CoarseButton;
  r.DisplayGain = gain.CoarseTrackPosition;
  r.LetterCase = static_cast<int32_t>(options.Case);
  r.ReceiveSpeed = static_cast<int32_t>(options.Speed);
  r.WordSpaces = options.WordSpaces;
  r.WordSpaces2 = options.WordSpaces;
  r.SpaceTime = static_cast<int32_t>(options.Spacing);
  r.AfcMode = static_cast<int32_t>(AfcMode::kOff);
  r.ThresholdType = static_cast<int32_t>(options.Threshold);
  r.NoiseFilter = options.NoiseFilter;
  r.Prosigns = static_cast<uint8_t>(options.Prosigns);
  r.NonEnglish = static_cast<uint8_t>(options.NonEnglish);
  r.Squelch = options.SquelchOn ? 1 : 0;
  r.Blanking = options.BlankingOn ? 1 : 0;
  r.FadeControl = options.FadeControlOn ? 1 : 0;
  r.ManualThreshold = options.ManualThreshold();
  r.AfcStartFrequency = tone.AfcStartFrequency;

  CopyFieldText(r.PortName, "NONE");
  CopyFieldText(r.SendBuffer(16), "Call");
  CopyFieldText(r.SendBuffer(17), "My Call");
  CopyFieldText(r.SendBuffer(18), "Call de My Call");
  CopyFieldText(r.SendBuffer(19), "599");
  CopyFieldText(r.SendBuffer(20), "tu");
  return r;
}

std::vector<uint8_t> SerializeSettings(const SettingsRecord& r) {
  std::vector<uint8_t> out(kSettingsFileSize, 0);
  uint8_t* p = out.data();
  PutI32(p + so::kPrinterPortAddress, r.PrinterPortAddress);
  PutI32(p + so::kSignalGainBar, r.SignalGainBar);
  PutI32(p + so::kSpeedTrackBar, r.SpeedTrackBar);
  PutI32(p + so::kToneVolume, r.ToneVolume);
  PutI32(p + so::kToneFreqBar2, r.ToneFreqBar2);
  PutI32(p + so::kFrequencyBar, r.FrequencyBar);
  for (int n = 1; n <= kStoredSendBuffers; ++n) PutBytes(p + SendBufferOffset(n), r.SendBuffer(n));
  PutI32(p + so::kLetterCase, r.LetterCase);
  PutI32(p + so::kFontStyle, r.FontStyle);
  PutI32(p + so::kReceiveSpeed, r.ReceiveSpeed);
  PutI32(p + so::kWordSpaces, r.WordSpaces);
  PutI32(p + so::kSpaceTime, r.SpaceTime);
  PutI32(p + so::kAfcMode, r.AfcMode);
  PutI32(p + so::kFontSize, r.FontSize);
  PutI32(p + so::kPortKind, r.PortKind);
  PutBytes(p + so::kPortName, r.PortName);
  PutI32(p + so::kTimelineTop, r.TimelineTop);
  PutI32(p + so::kTimelineLeft, r.TimelineLeft);
  PutI32(p + so::kTimelineHeight, r.TimelineHeight);
  PutI32(p + so::kTimelineWidth, r.TimelineWidth);
  PutI32(p + so::kMainTop, r.MainTop);
  PutI32(p + so::kMainLeft, r.MainLeft);
  PutI32(p + so::kCoarseGain, r.CoarseGain);
  PutI32(p + so::kThresholdType, r.ThresholdType);
  p[so::kBlanking] = r.Blanking;
  PutI32(p + so::kNoiseFilter, r.NoiseFilter);
  PutI32(p + so::kDisplayGain, r.DisplayGain);
  p[so::kFadeControl] = r.FadeControl;
  PutI32(p + so::kInputChannel, r.InputChannel);
  PutI32(p + so::kKeyPolarity, r.KeyPolarity);
  p[so::kProsigns] = r.Prosigns;
  p[so::kSquelch] = r.Squelch;
  p[so::kNonEnglish] = r.NonEnglish;
  p[so::kSideTone] = r.SideTone;
  p[so::kStayOnTop] = r.StayOnTop;
  PutI32(p + so::kManualThreshold, r.ManualThreshold);
  p[so::kMessaging] = r.Messaging;
  p[so::kTimelineShown] = r.TimelineShown;
  PutI32(p + so::kInputDevice, r.InputDevice);
  PutI32(p + so::kComPortNumber, r.ComPortNumber);
  PutI32(p + so::kAfcStartFrequency, r.AfcStartFrequency);
  PutI32(p + so::kWordSpaces2, r.WordSpaces2);
  PutI32(p + so::kDisplayType, r.DisplayType);
  p[so::kReserved] = r.Reserved;
  PutI32(p + so::kOutputDevice, r.OutputDevice);
  PutF32(p + so::kToneFrequency, r.ToneFrequency);
  PutI32(p + so::kToneWaveform, r.ToneWaveform);
  PutI32(p + so::kContestSerial, r.ContestSerial);
  PutI32(p + so::kTransmitWindow, r.TransmitWindow);
  PutF32(p + so::kDotRatio, r.DotRatio);
  PutF32(p + so::kDashRatio, r.DashRatio);
  PutF32(p + so::kCharRatio, r.CharRatio);
  PutF32(p + so::kWordRatio, r.WordRatio);
  return out;
}

int ParseSettings(const uint8_t* data, size_t size, SettingsRecord& r) {
  const FieldReader f(data, size);
  int n = 0;
  n += f.Int(so::kPrinterPortAddress, r.PrinterPortAddress);
  n += f.Int(so::kSignalGainBar, r.SignalGainBar);
  n += f.Int(so::kSpeedTrackBar, r.SpeedTrackBar);
  n += f.Int(so::kToneVolume, r.ToneVolume);
  n += f.Int(so::kToneFreqBar2, r.ToneFreqBar2);
  n += f.Int(so::kFrequencyBar, r.FrequencyBar);
  for (int b = 1; b <= kStoredSendBuffers; ++b) n += f.Bytes(SendBufferOffset(b), r.SendBuffer(b));
  n += f.Int(so::kLetterCase, r.LetterCase);
  n += f.Int(so::kFontStyle, r.FontStyle);
  n += f.Int(so::kReceiveSpeed, r.ReceiveSpeed);
  n += f.Int(so::kWordSpaces, r.WordSpaces);
  n += f.Int(so::kSpaceTime, r.SpaceTime);
  n += f.Int(so::kAfcMode, r.AfcMode);
  n += f.Int(so::kFontSize, r.FontSize);
  n += f.Int(so::kPortKind, r.PortKind);
  n += f.Bytes(so::kPortName, r.PortName);
  n += f.Int(so::kTimelineTop, r.TimelineTop);
  n += f.Int(so::kTimelineLeft, r.TimelineLeft);
  n += f.Int(so::kTimelineHeight, r.TimelineHeight);
  n += f.Int(so::kTimelineWidth, r.TimelineWidth);
  n += f.Int(so::kMainTop, r.MainTop);
  n += f.Int(so::kMainLeft, r.MainLeft);
  n += f.Int(so::kCoarseGain, r.CoarseGain);
  n += f.Int(so::kThresholdType, r.ThresholdType);
  n += f.Byte(so::kBlanking, r.Blanking);
  n += f.Int(so::kNoiseFilter, r.NoiseFilter);
  n += f.Int(so::kDisplayGain, r.DisplayGain);
  n += f.Byte(so::kFadeControl, r.FadeControl);
  n += f.Int(so::kInputChannel, r.InputChannel);
  n += f.Int(so::kKeyPolarity, r.KeyPolarity);
  n += f.Byte(so::kProsigns, r.Prosigns);
  n += f.Byte(so::kSquelch, r.Squelch);
  n += f.Byte(so::kNonEnglish, r.NonEnglish);
  n += f.Byte(so::kSideTone, r.SideTone);
  n += f.Byte(so::kStayOnTop, r.StayOnTop);
  n += f.Int(so::kManualThreshold, r.ManualThreshold);
  n += f.Byte(so::kMessaging, r.Messaging);
  n += f.Byte(so::kTimelineShown, r.TimelineShown);
  n += f.Int(so::kInputDevice, r.InputDevice);
  n += f.Int(so::kComPortNumber, r.ComPortNumber);
  n += f.Int(so::kAfcStartFrequency, r.AfcStartFrequency);
  n += f.Int(so::kWordSpaces2, r.WordSpaces2);
  n += f.Int(so::kDisplayType, r.DisplayType);
  n += f.Byte(so::kReserved, r.Reserved);
  n += f.Int(so::kOutputDevice, r.OutputDevice);
  n += f.Float(so::kToneFrequency, r.ToneFrequency);
  n += f.Int(so::kToneWaveform, r.ToneWaveform);
  n += f.Int(so::kContestSerial, r.ContestSerial);
  n += f.Int(so::kTransmitWindow, r.TransmitWindow);
  n += f.Float(so::kDotRatio, r.DotRatio);
  n += f.Float(so::kDashRatio, r.DashRatio);
  n += f.Float(so::kCharRatio, r.CharRatio);
  n += f.Float(so::kWordRatio, r.WordRatio);
  return n;
}

int32_t ThresholdBar2FromStored(int32_t value) {
  // 64-bit: 250000 - INT32_MIN does not fit 32 bits. The quotient always fits.
  return static_cast<int32_t>((int64_t{250000} - value) / 1000);
}

int32_t RatioUpDownPosition(float percent) {
  if (std::isnan(percent)) return 0;
  // Converting an out-of-range float to an integer is undefined; saturate first.
  if (percent >= 2147483647.0f) return std::numeric_limits<int32_t>::max();
  if (percent <= -2147483648.0f) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(percent);
}

std::string RatioMemoText(float percent) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3g", static_cast<double>(percent) * 0.01);
  return text;
}

int ApplySettings(const uint8_t* data, size_t size, SettingsHandlers& h) {
  // Everything the file holds is parsed first; the actions below then run in file order,
  // each only when its field was wholly inside the file.
  // The record is 82 KB; keep it off the stack.
  const auto record = std::make_unique<SettingsRecord>();
  SettingsRecord& r = *record;
  ParseSettings(data, size, r);
  const FieldReader f(data, size);
  int applied = 0;
  auto has = [&](size_t offset, size_t width) {
    const bool present = f.Has(offset, width);
    applied += present;
    return present;
  };

  if (has(so::kPrinterPortAddress, 4)) h.StorePrinterPortAddress(r.PrinterPortAddress);
  if (has(so::kSignalGainBar, 4)) h.SetSignalGainBar(r.SignalGainBar);
  if (has(so::kSpeedTrackBar, 4)) h.SetSpeedTrackBar(r.SpeedTrackBar);
  // The stored volume is ignored: the side tone always comes back at 63.
  if (has(so::kToneVolume, 4)) h.SetToneVolume(63);
  if (has(so::kToneFreqBar2, 4)) h.SetToneFreqBar2(r.ToneFreqBar2);
  if (has(so::kFrequencyBar, 4)) h.SetFrequencyBar(r.FrequencyBar);
  for (int n = 1; n <= kStoredSendBuffers; ++n) {
    if (has(SendBufferOffset(n), kSendBufferSize)) h.SetSendBuffer(n, r.SendBuffer(n));
  }

  // After the buffers: the scratch pad and the two call-sign boxes show theirs, and the
  // report and closing texts always start out as "5nn " and "tu ". This runs even when the
  // file ended earlier, so those two buffers are the same after every load.
  {
    const SettingsRecord* shown = &r;
    std::unique_ptr<SettingsRecord> current;
    if (!f.Has(SendBufferOffset(17), kSendBufferSize)) {
      // Some of the three buffers were not in the file: they show what they hold now.
      current = std::make_unique<SettingsRecord>(h.CurrentSettings());
      ParseSettings(data, size, *current);
      shown = current.get();
    }
    h.SetScratchPadText(FieldText(shown->SendBuffer(10)));
    h.SetRemoteCallText(FieldText(shown->SendBuffer(16)));
    h.SetMyCallText(FieldText(shown->SendBuffer(17)));
    h.CopyTextToSendBuffer(19, "5nn ");
    h.CopyTextToSendBuffer(20, "tu ");
  }

  if (has(so::kLetterCase, 4)) {
    if (r.LetterCase == 1) {
      h.Upper1Click();
    } else {
      h.Lower1Click();
    }
  }
  if (has(so::kFontStyle, 4)) {
    if (r.FontStyle != 0) {
      h.Bold1Click();
    } else {
      h.Normal1Click();
    }
  }
  if (has(so::kReceiveSpeed, 4)) {
    switch (r.ReceiveSpeed) {
      case 1:
        h.Auto3Click();
        break;
      case 2:
        h.N25WPM1Click();
        break;
      case 3:
        h.N35wpm1Click();
        break;
      case 4:
        h.N50wpm1Click();
        break;
      default:
        h.N50wpm2Click();
        break;
    }
  }
  if (has(so::kWordSpaces, 4)) ApplyWordSpaces(r.WordSpaces, h);
  if (has(so::kSpaceTime, 4)) {
    h.StoreSpaceTime(r.SpaceTime);
    switch (r.SpaceTime) {
      case 0:
        h.Short1Click();
        break;
      case 1:
        h.Medium2Click();
        break;
      case 2:
        h.Long1Click();
        break;
      default:
        break;
    }
  }
  if (has(so::kAfcMode, 4)) {
    h.StoreAfcMode(r.AfcMode);
    switch (r.AfcMode) {
      case 0:
        h.Off1Click();
        break;
      case 1:
        h.Narrow1Click();
        break;
      case 2:
        h.Medium1Click();
        break;
      case 3:
        h.Wide1Click();
        break;
      default:
        break;
    }
  }
  if (has(so::kFontSize, 4)) {
    h.StoreFontSize(r.FontSize);
    switch (r.FontSize) {
      case 1:
        h.SmallFont1Click();
        break;
      case 2:
        h.NormalFont1Click();
        break;
      case 3:
        h.MediumFont1Click();
        break;
      case 4:
        h.LargeFont1Click();
        break;
      default:
        break;
    }
  }
  if (has(so::kPortKind, 4)) h.StorePortKind(r.PortKind);
  if (has(so::kPortName, kPortNameSize)) {
    h.StorePortName(r.PortName);
    const std::string_view name = FieldText(r.PortName);
    if (name == "LPT1" || name == "LPT2") {
      h.Printer11Click();
    } else if (name == "NONE") {
      h.None1Click();
    } else {
      h.OpenNamedComPort(name);
    }
  }
  if (has(so::kTimelineTop, 4)) h.SetTimelineTop(r.TimelineTop);
  if (has(so::kTimelineLeft, 4)) h.SetTimelineLeft(r.TimelineLeft);
  if (has(so::kTimelineHeight, 4)) h.SetTimelineHeight(r.TimelineHeight);
  if (has(so::kTimelineWidth, 4)) h.SetTimelineWidth(r.TimelineWidth);
  if (has(so::kMainTop, 4)) h.SetMainTop(r.MainTop);
  if (has(so::kMainLeft, 4)) h.SetMainLeft(r.MainLeft);
  if (has(so::kCoarseGain, 4)) {
    h.StoreCoarseGain(r.CoarseGain);
    switch (r.CoarseGain) {
      case 1:
        h.Rx01BtnClick();
        break;
      case 2:
        h.Rx1BtnClick();
        break;
      case 3:
        h.Rx10BtnClick();
        break;
      case 4:
        h.Rx001BtnClick();
        break;
      default:
        break;
    }
  }
  if (has(so::kThresholdType, 4)) {
    // 4 is what "Quiet" stores; it is kept without moving a check mark.
    h.StoreThresholdType(r.ThresholdType);
    switch (r.ThresholdType) {
      case 0:
        h.Normal2Click();
        break;
      case 1:
        h.Noisy2Click();
        break;
      case 2:
        h.Manual3Click();
        break;
      case 3:
        h.Auto4Click();
        break;
      default:
        break;
    }
  }
  if (has(so::kBlanking, 1)) {
    // The button toggles, so start from the opposite of the wanted state.
    h.SetBlankingFlag(r.Blanking != 1);
    h.BlankBtnClick();
  }
  if (has(so::kNoiseFilter, 4)) {
    if (r.NoiseFilter != 0) {
      h.FilterOn1Click();
    } else {
      h.FilterOff1Click();
    }
  }
  if (has(so::kDisplayGain, 4)) {
    h.SetCoarseGainTrackBar(r.DisplayGain);
    h.CoarseGainTrackBarChange();
  }
  if (has(so::kFadeControl, 1)) {
    if (r.FadeControl == 1) {
      h.Fade_OnClick();
    } else {
      h.Fade_OffClick();
    }
  }
  if (has(so::kInputChannel, 4)) {
    h.StoreInputChannel(r.InputChannel);
    switch (r.InputChannel) {
      case 1:
        h.MicInputClick();
        break;
      case 2:
        h.LeftInputClick();
        break;
      case 3:
        h.RightInputClick();
        break;
      default:
        break;
    }
  }
  if (has(so::kKeyPolarity, 4)) {
    if (r.KeyPolarity == 1) {
      h.Normal3Click();
    } else {
      h.Invert2Click();
    }
  }
  if (has(so::kProsigns, 1)) {
    if (r.Prosigns == 1) {
      h.ProsignEnableClick();
    } else {
      h.ProsignDisableClick();
    }
  }
  if (has(so::kSquelch, 1)) h.SetSquelch(r.Squelch == 1);
  if (has(so::kNonEnglish, 1)) {
    if (r.NonEnglish == 1) {
      h.EnableEnglishClick();
    } else {
      h.DisableEnglishClick();
    }
  }
  if (has(so::kSideTone, 1)) {
    if (r.SideTone == 1) {
      h.SideToneOnClick();
    } else {
      h.SideToneOFFClick();
    }
  }
  if (has(so::kStayOnTop, 1)) {
    if (r.StayOnTop != 0) {
      h.On1Click();
    } else {
      h.Off2Click();
    }
  }
  if (has(so::kManualThreshold, 4)) {
    h.SetThresholdBar2(ThresholdBar2FromStored(r.ManualThreshold));
    h.ThresholdBar2Change();
  }
  if (has(so::kMessaging, 1)) {
    if (r.Messaging == 1) {
      h.MsgsONClick();
    } else {
      h.MsgsOFFClick();
    }
  }
  if (has(so::kTimelineShown, 1)) {
    if (r.TimelineShown == 1) {
      h.ShowTimeline(r.TimelineTop, r.TimelineLeft, r.TimelineHeight, r.TimelineWidth);
    } else {
      h.HideTimeline();
    }
  }
  if (has(so::kInputDevice, 4)) h.StoreInputDevice(r.InputDevice);
  if (has(so::kComPortNumber, 4)) h.SetComPortSpinBtn(r.ComPortNumber);
  if (has(so::kAfcStartFrequency, 4)) {
    // The tuning goes to bin 112 (about 602 Hz) whatever the stored start frequency; the
    // marker label shows the stored value. This overrides field 6.
    constexpr int32_t kStartBin = 112;
    h.SetAfcStartSpinBtn(r.AfcStartFrequency);
    h.SetFrequencyBar(kStartBin);
    h.SetMarkerFrequency(kStartBin * 22050 / 4096);
    h.ShowMkrLabel(r.AfcStartFrequency);
  }
  if (has(so::kWordSpaces2, 4)) ApplyWordSpaces(r.WordSpaces2, h);
  if (has(so::kDisplayType, 4)) {
    if (r.DisplayType != 0) {
      h.Waterfall2Click();
    } else {
      h.Spectrum1Click();
    }
  }
  if (has(so::kReserved, 1)) h.StoreReserved(r.Reserved);
  if (has(so::kOutputDevice, 4)) {
    if (r.OutputDevice != 0) {
      h.SerialPort1Click();
    } else {
      h.SoundCard1Click();
    }
  }
  if (has(so::kToneFrequency, 4)) {
    // Exact comparisons: any other frequency (800 Hz, say) is kept with no item checked.
    h.StoreToneFrequency(r.ToneFrequency);
    if (r.ToneFrequency == 600.0f) {
      h.Freq1Click();
    } else if (r.ToneFrequency == 750.0f) {
      h.Freq2Click();
    } else if (r.ToneFrequency == 1000.0f) {
      h.Freq3Click();
    }
  }
  if (has(so::kToneWaveform, 4)) {
    if (r.ToneWaveform != 0) {
      h.Squarewave1Click();
    } else {
      h.Sinewave1Click();
    }
  }
  // The up-down's position is 16 bits wide; the stored value is cut to it (modulo 2^16).
  if (has(so::kContestSerial, 4)) h.SetXmitUpDn(static_cast<int16_t>(r.ContestSerial));
  if (has(so::kTransmitWindow, 4)) {
    if (r.TransmitWindow != 0) {
      h.ContestWindowClick();
    } else {
      h.F10ScratchPadClick();
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
      h.SetTimingRatio(ratio.which, ratio.value, RatioUpDownPosition(ratio.value),
                       RatioMemoText(ratio.value));
    }
  }
  return applied;
}

SettingsLoadResult LoadSettings(const std::string& path, SettingsHandlers& h) {
  SettingsLoadResult result;
  h.RaiseForceModeSetup();
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
    SettingsRecord current = h.CurrentSettings();
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
  result.fieldsApplied = ApplySettings(bytes.data(), got, h);
  if (got < kSettingsFileSize) {
    result.message = "Settings file " + path + " is " + std::to_string(got) + " bytes, not " +
                     std::to_string(kSettingsFileSize) + "; " +
                     std::to_string(kSettingsFieldCount - result.fieldsApplied) +
                     " settings past its end keep their current values.";
  }
  h.RaiseAutoStartPending();
  return result;
}

bool SaveSettings(const std::string& path, const SettingsRecord& record, std::string& error) {
  if (path.empty()) return true;
  const std::vector<uint8_t> bytes = SerializeSettings(record);

  // Write through a symbolic link to the file it names, so a linked settings file stays
  // linked; the replacement is made beside the real file.
  std::string target = path;
  if (char* real = ::realpath(path.c_str(), nullptr)) {
    target = real;
    std::free(real);
  }
  mode_t mode = 0644;
  struct stat st {};
  if (::stat(target.c_str(), &st) == 0) mode = st.st_mode & 07777;

  std::string temp = target + ".XXXXXX";
  const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) {
    error = "Settings file " + path + " could not be written (" + ErrnoText(errno) + ")";
    return false;
  }
  auto fail = [&](const char* what, int err) {
    ::close(fd);
    ::unlink(temp.c_str());
    error = "Settings file " + path + " could not be " + what + " (" + ErrnoText(err) + ")";
    return false;
  };
  size_t put = 0;
  while (put < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + put, bytes.size() - put);
    if (n < 0) {
      if (errno == EINTR) continue;
      return fail("written", errno);
    }
    put += static_cast<size_t>(n);
  }
  if (::fchmod(fd, mode) != 0) return fail("written", errno);
  if (::fsync(fd) != 0) return fail("written", errno);
  if (::close(fd) != 0) {
    const int err = errno;
    ::unlink(temp.c_str());
    error = "Settings file " + path + " could not be written (" + ErrnoText(err) + ")";
    return false;
  }
  if (::rename(temp.c_str(), target.c_str()) != 0) {
    const int err = errno;
    ::unlink(temp.c_str());
    error = "Settings file " + path + " could not be replaced (" + ErrnoText(err) + ")";
    return false;
  }
  return true;
}

}  // namespace kestrix
