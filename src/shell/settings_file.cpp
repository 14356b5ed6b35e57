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
