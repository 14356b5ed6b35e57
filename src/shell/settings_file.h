// The settings file Kestrix.cfc: one flat record of 72 values in a fixed order, 82,110
// bytes, little-endian, packed with no padding (several 4-byte fields start at odd offsets).
// There is no header, version or checksum; reader and writer agree by position alone, so
// every offset below is part of the file format and must never move.
//
// Loading applies each value in file order through the same handler a user would run
// (a menu item, a track bar, a button), so check marks, captions and dependent state follow.
// The handlers are reached through one small interface per part of the window
// (SettingsTargets); this file holds no widget code and runs on whatever thread calls it
// (the window's GUI thread).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kestrix {

inline constexpr size_t kSettingsFileSize = 82110;
inline constexpr int kSettingsFieldCount = 72;
inline constexpr int kStoredSendBuffers = 20;  // send buffers 1..20 are kept in the file
inline constexpr size_t kSendBufferSize = 4096;
inline constexpr size_t kPortNameSize = 16;

// Byte offsets of the fields (field numbers in the comments).
namespace settings_offset {
inline constexpr size_t kPrinterPortAddress = 0;     // 1
inline constexpr size_t kSignalGainBar = 4;          // 2
inline constexpr size_t kSpeedTrackBar = 8;          // 3
inline constexpr size_t kToneVolume = 12;            // 4
inline constexpr size_t kToneFreqBar2 = 16;          // 5
inline constexpr size_t kFrequencyBar = 20;          // 6
inline constexpr size_t kSendBuffers = 24;           // 7..26: buffer n at 24 + 4096 (n - 1)
inline constexpr size_t kLetterCase = 81944;         // 27
inline constexpr size_t kFontStyle = 81948;          // 28
inline constexpr size_t kReceiveSpeed = 81952;       // 29
inline constexpr size_t kWordSpaces = 81956;         // 30
inline constexpr size_t kSpaceTime = 81960;          // 31
inline constexpr size_t kAfcMode = 81964;            // 32
inline constexpr size_t kFontSize = 81968;           // 33
inline constexpr size_t kPortKind = 81972;           // 34
inline constexpr size_t kPortName = 81976;           // 35, 16 bytes
inline constexpr size_t kTimelineTop = 81992;        // 36
inline constexpr size_t kTimelineLeft = 81996;       // 37
inline constexpr size_t kTimelineHeight = 82000;     // 38
inline constexpr size_t kTimelineWidth = 82004;      // 39
inline constexpr size_t kMainTop = 82008;            // 40
inline constexpr size_t kMainLeft = 82012;           // 41
inline constexpr size_t kCoarseGain = 82016;         // 42
inline constexpr size_t kThresholdType = 82020;      // 43
inline constexpr size_t kBlanking = 82024;           // 44, byte
inline constexpr size_t kNoiseFilter = 82025;        // 45
inline constexpr size_t kDisplayGain = 82029;        // 46
inline constexpr size_t kFadeControl = 82033;        // 47, byte
inline constexpr size_t kInputChannel = 82034;       // 48
inline constexpr size_t kKeyPolarity = 82038;        // 49
inline constexpr size_t kProsigns = 82042;           // 50, byte
inline constexpr size_t kSquelch = 82043;            // 51, byte
inline constexpr size_t kNonEnglish = 82044;         // 52, byte
inline constexpr size_t kSideTone = 82045;           // 53, byte
inline constexpr size_t kStayOnTop = 82046;          // 54, byte
inline constexpr size_t kManualThreshold = 82047;    // 55
inline constexpr size_t kMessaging = 82051;          // 56, byte
inline constexpr size_t kTimelineShown = 82052;      // 57, byte
inline constexpr size_t kInputDevice = 82053;        // 58
inline constexpr size_t kComPortNumber = 82057;      // 59
inline constexpr size_t kAfcStartFrequency = 82061;  // 60
inline constexpr size_t kWordSpaces2 = 82065;        // 61
inline constexpr size_t kDisplayType = 82069;        // 62
inline constexpr size_t kReserved = 82073;           // 63, byte
inline constexpr size_t kOutputDevice = 82074;       // 64
inline constexpr size_t kToneFrequency = 82078;      // 65, float
inline constexpr size_t kToneWaveform = 82082;       // 66
inline constexpr size_t kContestSerial = 82086;      // 67
inline constexpr size_t kTransmitWindow = 82090;     // 68
inline constexpr size_t kDotRatio = 82094;           // 69, float
inline constexpr size_t kDashRatio = 82098;          // 70, float
inline constexpr size_t kCharRatio = 82102;          // 71, float
inline constexpr size_t kWordRatio = 82106;          // 72, float
}  // namespace settings_offset

inline constexpr size_t SendBufferOffset(int n) {
  return settings_offset::kSendBuffers + kSendBufferSize * static_cast<size_t>(n - 1);
}

// A fixed-size text field: a NUL-terminated Windows-1252 string. The bytes after the
// terminator are whatever the buffer held; they are kept and written back unchanged.
using SendBufferBytes = std::array<char, kSendBufferSize>;
using PortNameBytes = std::array<char, kPortNameSize>;

// The text of a fixed-size field: up to the first NUL, or the whole field if it has none.
template <size_t N>
std::string_view FieldText(const std::array<char, N>& field) {
  size_t n = 0;
  while (n < N && field[n] != '\0') ++n;
  return std::string_view(field.data(), n);
}

// Copies `text` and a NUL to the start of `field` (cut to N - 1 bytes); the bytes after the
// terminator keep their old values, as a C string copy into the buffer would leave them.
template <size_t N>
void CopyFieldText(std::array<char, N>& field, std::string_view text) {
  const size_t n = text.size() < N ? text.size() : N - 1;
  for (size_t i = 0; i < n; ++i) field[i] = text[i];
  field[n] = '\0';
}

// Every value the file holds, under the names of the settings they carry. Values are raw:
// nothing here clamps or checks; the controls do that when the values are applied.
struct SettingsRecord {
  int32_t PrinterPortAddress = 0x378;  // 1: the parallel-port dialog's address
  int32_t SignalGainBar = 10;          // 2: receive gain, 0..20
  int32_t SpeedTrackBar = 20;          // 3: transmit speed in wpm, 5..100
  int32_t ToneVolume = 63;             // 4: side-tone volume, 1..64 (written, never loaded)
  int32_t ToneFreqBar2 = 71;           // 5: serial-port side-tone note, 50..100
  int32_t FrequencyBar = 256;          // 6: receive tuning bin, 1..423
  std::array<SendBufferBytes, kStoredSendBuffers> SendBuffers{};  // 7..26: buffers 1..20
  int32_t LetterCase = 0;                                         // 27: 1 upper, otherwise lower
  int32_t FontStyle = 0;                                          // 28: nonzero bold
  int32_t ReceiveSpeed = 2;          // 29: 1 Auto, 2 "10 wpm", 3 "20", 4 "30", other "50+"
  int32_t WordSpaces = 3;            // 30: 3 on, otherwise off
  int32_t SpaceTime = 1;             // 31: 0 short, 1 medium, 2 long
  int32_t AfcMode = 0;               // 32: 0 off, 1 narrow, 2 medium, 3 wide
  int32_t FontSize = 2;              // 33: 1 small, 2 normal, 3 medium, 4 large
  int32_t PortKind = 2;              // 34: 0 parallel, 1 serial, 2 none
  PortNameBytes PortName{};          // 35: "NONE", "LPT1", "LPT2" or a serial device
  int32_t TimelineTop = 100;         // 36
  int32_t TimelineLeft = 200;        // 37
  int32_t TimelineHeight = 240;      // 38
  int32_t TimelineWidth = 320;       // 39
  int32_t MainTop = 100;             // 40: the window's own position when it writes the file
  int32_t MainLeft = 100;            // 41
  int32_t CoarseGain = 1;            // 42: 1 x01, 2 1x, 3 10x, 4 x001
  int32_t ThresholdType = 1;         // 43: 0 normal, 1 noisy, 2 manual, 3 auto, 4 quiet
  uint8_t Blanking = 0;              // 44: 1 on
  int32_t NoiseFilter = 0;           // 45: nonzero on
  int32_t DisplayGain = 5;           // 46: CoarseGainTrackBar, 1..20
  uint8_t FadeControl = 0;           // 47: 1 on
  int32_t InputChannel = 1;          // 48: 1 mic, 2 left, 3 right
  int32_t KeyPolarity = 1;           // 49: 1 normal, otherwise invert
  uint8_t Prosigns = 1;              // 50: 1 enabled
  uint8_t Squelch = 0;               // 51: 1 on
  uint8_t NonEnglish = 0;            // 52: 1 enabled
  uint8_t SideTone = 0;              // 53: 1 on
  uint8_t StayOnTop = 0;             // 54: nonzero on
  int32_t ManualThreshold = 190000;  // 55: 250000 - 1000 * ThresholdBar2 position
  uint8_t Messaging = 0;             // 56: 1 on
  uint8_t TimelineShown = 0;         // 57: 1 shown
  int32_t InputDevice = 0;           // 58: sound-card input device number
  int32_t ComPortNumber = 0;         // 59
  int32_t AfcStartFrequency = 600;   // 60: Hz
  int32_t WordSpaces2 = 3;           // 61: second copy of 30
  int32_t DisplayType = 0;           // 62: nonzero waterfall
  uint8_t Reserved = 0;              // 63: kept as read
  int32_t OutputDevice = 1;          // 64: nonzero serial port, 0 sound card
  float ToneFrequency = 750.0f;      // 65: Hz
  int32_t ToneWaveform = 0;          // 66: nonzero square
  int32_t ContestSerial = 1;         // 67
  int32_t TransmitWindow = 0;        // 68: nonzero contest window
  float DotRatio = 100.0f;           // 69: percent
  float DashRatio = 100.0f;          // 70
  float CharRatio = 100.0f;          // 71
  float WordRatio = 100.0f;          // 72

  SendBufferBytes& SendBuffer(int n) { return SendBuffers[static_cast<size_t>(n - 1)]; }
  const SendBufferBytes& SendBuffer(int n) const { return SendBuffers[static_cast<size_t>(n - 1)]; }
};

// The values the program holds before any load: what the missing-file case and
// `kestrix --write-default-settings` write. Receive-side values come from the receive
// chain's own defaults; send buffers 16..20 hold "Call", "My Call", "Call de My Call",
// "599" and "tu", the port name is "NONE".
SettingsRecord DefaultSettings();

// The file image of a record: exactly kSettingsFileSize bytes.
std::vector<uint8_t> SerializeSettings(const SettingsRecord& record);

// Reads the fields that lie wholly inside `size` bytes into `record`; fields past the end
// keep the values `record` already holds. Bytes past the layout are ignored. Returns the
// number of fields read (0..72).
int ParseSettings(const uint8_t* data, size_t size, SettingsRecord& record);

// Field 55 to the ThresholdBar2 position: (250000 - value) / 1000, truncating toward zero,
// computed wide enough that no stored value overflows. The scroll bar clamps it to 0..250.
int32_t ThresholdBar2FromStored(int32_t value);
// A stored ratio (percent) as the up-down position: truncated toward zero; NaN gives 0 and
// values beyond int32 saturate. The up-down control clamps it to its 50..200 range.
int32_t RatioUpDownPosition(float percent);
// A stored ratio (percent) as its memo shows it: value * 0.01 with 3 significant digits,
// trailing zeros dropped ("1" for 100, "1.25" for 125, "0.333" for 33.3).
std::string RatioMemoText(float percent);

enum class TimingRatio { kDot, kDash, kChar, kWord };

// The handlers a settings load runs, one per action of the file's last column, named after
// the handlers a user runs; each part of the window serves its own. They receive raw file
// values: every track bar, scroll bar, spin box and up-down clamps a value to its own
// range when it is set (a stored transmit speed of 3 becomes 5), exactly as when the user
// moves it. The methods are called on the loading thread, in file order, and only for
// fields that the file holds. Field numbers are in the comments.

// The window itself: its place, the timeline window's, Stay On Top, the reserved byte,
// and the values to write when there is no file.
class SettingsWindowHandlers {
 public:
  virtual ~SettingsWindowHandlers() = default;
  // The values written when the file is missing (the current state of the program).
  virtual SettingsRecord CurrentSettings() = 0;
  // 36..39: the timeline window's stored geometry.
  virtual void SetTimelineTop(int32_t top) = 0;
  virtual void SetTimelineLeft(int32_t left) = 0;
  virtual void SetTimelineHeight(int32_t height) = 0;
  virtual void SetTimelineWidth(int32_t width) = 0;
  // 40, 41: the main window's position.
  virtual void SetMainTop(int32_t top) = 0;
  virtual void SetMainLeft(int32_t left) = 0;
  // 54
  virtual void On1Click() = 0;
  virtual void Off2Click() = 0;
  // 57: show with the geometry of fields 36..39 (as loaded), or hide.
  virtual void ShowTimeline(int32_t top, int32_t left, int32_t height, int32_t width) = 0;
  virtual void HideTimeline() = 0;
  // 63: stored as is and written back unchanged.
  virtual void StoreReserved(uint8_t value) = 0;
};

// Reception: gain, tuning and AFC, receive speed, threshold, noise filter, input, display.
class SettingsReceiveHandlers {
 public:
  virtual ~SettingsReceiveHandlers() = default;
  // Raised before anything is read, so the Text-mode setup after the load is a full one.
  virtual void RaiseForceModeSetup() = 0;
  // Raised after a successful load: the SystemTimer tick then starts the receive loop.
  virtual void RaiseAutoStartPending() = 0;
  // 2: SignalGainBar position; its change handler applies the gain.
  virtual void SetSignalGainBar(int32_t position) = 0;
  // 6 and 60: the FrequencyBar position.
  virtual void SetFrequencyBar(int32_t position) = 0;
  // 29
  virtual void Auto3Click() = 0;
  virtual void N25WPM1Click() = 0;  // "10 wpm"
  virtual void N35wpm1Click() = 0;  // "20 wpm"
  virtual void N50wpm1Click() = 0;  // "30 wpm"
  virtual void N50wpm2Click() = 0;  // "50+ wpm"
  // 32: raw value, then the handler for 0..3.
  virtual void StoreAfcMode(int32_t value) = 0;
  virtual void Off1Click() = 0;
  virtual void Narrow1Click() = 0;
  virtual void Medium1Click() = 0;
  virtual void Wide1Click() = 0;
  // 42: raw value, then the radio button for 1..4.
  virtual void StoreCoarseGain(int32_t value) = 0;
  virtual void Rx01BtnClick() = 0;
  virtual void Rx1BtnClick() = 0;
  virtual void Rx10BtnClick() = 0;
  virtual void Rx001BtnClick() = 0;
  // 43: raw value, then the handler for 0..3; 4 ("Quiet") and others move no check mark.
  virtual void StoreThresholdType(int32_t value) = 0;
  virtual void Normal2Click() = 0;
  virtual void Noisy2Click() = 0;
  virtual void Manual3Click() = 0;
  virtual void Auto4Click() = 0;
  // 44: the flag is set to the inverse of the wanted state, then the button toggles it.
  virtual void SetBlankingFlag(bool on) = 0;
  virtual void BlankBtnClick() = 0;
  // 45
  virtual void FilterOn1Click() = 0;
  virtual void FilterOff1Click() = 0;
  // 46: CoarseGainTrackBar position, then its change handler.
  virtual void SetCoarseGainTrackBar(int32_t position) = 0;
  virtual void CoarseGainTrackBarChange() = 0;
  // 47
  virtual void Fade_OnClick() = 0;
  virtual void Fade_OffClick() = 0;
  // 48: raw value, then the handler for 1..3.
  virtual void StoreInputChannel(int32_t value) = 0;
  virtual void MicInputClick() = 0;
  virtual void LeftInputClick() = 0;
  virtual void RightInputClick() = 0;
  // 51: the squelch flag with SquelchBtn's caption and colour; no handler runs.
  virtual void SetSquelch(bool on) = 0;
  // 55: ThresholdBar2 position (see ThresholdBar2FromStored), then its change handler.
  virtual void SetThresholdBar2(int32_t position) = 0;
  virtual void ThresholdBar2Change() = 0;
  // 58: stored as is.
  virtual void StoreInputDevice(int32_t device) = 0;
  // 60: AFCStartSpinBtn value; then SetFrequencyBar(112), SetMarkerFrequency(602) and the
  // stored value in MkrLabel.
  virtual void SetAfcStartSpinBtn(int32_t hz) = 0;
  virtual void SetMarkerFrequency(int32_t hz) = 0;
  virtual void ShowMkrLabel(int32_t value) = 0;
  // 62
  virtual void Waterfall2Click() = 0;
  virtual void Spectrum1Click() = 0;
};

// The received text: letter case, type and size, word spaces, space time, prosigns,
// non-English letters, messaging.
class SettingsTextHandlers {
 public:
  virtual ~SettingsTextHandlers() = default;
  // 27
  virtual void Upper1Click() = 0;
  virtual void Lower1Click() = 0;
  // 28
  virtual void Bold1Click() = 0;
  virtual void Normal1Click() = 0;
  // 30 and 61
  virtual void SpacesOnClick() = 0;
  virtual void SpacesOffClick() = 0;
  // 31: the raw value is stored first, then the handler for 0, 1 or 2.
  virtual void StoreSpaceTime(int32_t value) = 0;
  virtual void Short1Click() = 0;
  virtual void Medium2Click() = 0;
  virtual void Long1Click() = 0;
  // 33: raw value, then the handler for 1..4.
  virtual void StoreFontSize(int32_t value) = 0;
  virtual void SmallFont1Click() = 0;
  virtual void NormalFont1Click() = 0;
  virtual void MediumFont1Click() = 0;
  virtual void LargeFont1Click() = 0;
  // 50
  virtual void ProsignEnableClick() = 0;
  virtual void ProsignDisableClick() = 0;
  // 52
  virtual void EnableEnglishClick() = 0;
  virtual void DisableEnglishClick() = 0;
  // 56
  virtual void MsgsONClick() = 0;
  virtual void MsgsOFFClick() = 0;
};

// Keying: speed, port and polarity, side tone, keyer output, character timing.
class SettingsKeyingHandlers {
 public:
  virtual ~SettingsKeyingHandlers() = default;
  // 1: parallel-port address, stored as is.
  virtual void StorePrinterPortAddress(int32_t address) = 0;
  // 3: SpeedTrackBar position; ComputeElementTiming with the bar's resulting position,
  // XmitSpeedUpDn set to it, shown in CodeLabel and XmitSpeedPnl.
  virtual void SetSpeedTrackBar(int32_t position) = 0;
  // 34: stored as is.
  virtual void StorePortKind(int32_t kind) = 0;
  // 35: the name is stored, then "LPT1"/"LPT2" select the parallel port, "NONE" no port,
  // and any other name checks "Port Number" and opens that serial device.
  virtual void StorePortName(const PortNameBytes& name) = 0;
  virtual void Printer11Click() = 0;
  virtual void None1Click() = 0;
  virtual void OpenNamedComPort(std::string_view name) = 0;
  // 49
  virtual void Normal3Click() = 0;
  virtual void Invert2Click() = 0;
  // 53
  virtual void SideToneOnClick() = 0;
  virtual void SideToneOFFClick() = 0;
  // 59: ComPortSpinBtn value.
  virtual void SetComPortSpinBtn(int32_t value) = 0;
  // 64
  virtual void SerialPort1Click() = 0;
  virtual void SoundCard1Click() = 0;
  // 69..72: the ratio itself, its up-down position and its memo text.
  virtual void SetTimingRatio(TimingRatio which, float percent, int32_t upDownPosition,
                              const std::string& memoText) = 0;
};

// The tone keyer: volume, the serial-port note, frequency and waveform.
class SettingsToneHandlers {
 public:
  virtual ~SettingsToneHandlers() = default;
  // 4: ToneVolume; the stored value is discarded and this is always called with 63.
  virtual void SetToneVolume(int32_t position) = 0;
  // 5: ToneFreqBar2 position, copied into the current side-tone note.
  virtual void SetToneFreqBar2(int32_t position) = 0;
  // 65: copied to the current tone frequency, then the handler for exactly 600, 750, 1000.
  virtual void StoreToneFrequency(float hz) = 0;
  virtual void Freq1Click() = 0;  // 600 Hz
  virtual void Freq2Click() = 0;  // 750 Hz
  virtual void Freq3Click() = 0;  // 1000 Hz
  // 66
  virtual void Squarewave1Click() = 0;
  virtual void Sinewave1Click() = 0;
};

// The send buffers, the contest strip and the scratch pad.
class SettingsMemoryHandlers {
 public:
  virtual ~SettingsMemoryHandlers() = default;
  // 7..26: send buffer n (1..20), all 4096 bytes.
  virtual void SetSendBuffer(int n, const SendBufferBytes& bytes) = 0;
  // After field 26: the text fields shown from buffers 10, 16 and 17.
  virtual void SetScratchPadText(std::string_view text) = 0;
  virtual void SetRemoteCallText(std::string_view text) = 0;
  virtual void SetMyCallText(std::string_view text) = 0;
  // After field 26: buffer n's text replaced as a C string copy ("5nn " into 19, "tu " into
  // 20); the bytes after the new terminator stay.
  virtual void CopyTextToSendBuffer(int n, std::string_view text) = 0;
  // 67: XmitUpDn position, the stored value cut to 16 bits; XmitCntrMemo shows it.
  virtual void SetXmitUpDn(int16_t position) = 0;
  // 68
  virtual void ContestWindowClick() = 0;
  virtual void F10ScratchPadClick() = 0;
};

// Where a load applies each value: one part per area of the window.
struct SettingsTargets {
  SettingsWindowHandlers& window;
  SettingsReceiveHandlers& receive;
  SettingsTextHandlers& text;
  SettingsKeyingHandlers& keying;
  SettingsToneHandlers& tone;
  SettingsMemoryHandlers& memories;
};

// How a load went. The window prints `message` (when not empty) on standard error; the
// settings file is never the subject of a message box.
struct SettingsLoadResult {
  enum class Outcome {
    kNoPath,        // empty path: nothing read, nothing written
    kLoaded,        // the file was read and applied (possibly only in part)
    kCreated,       // the file was missing and has been written with the current values
    kCreateFailed,  // the file was missing and could not be written
    kUnreadable,    // the file is there but could not be read: left alone, nothing applied
  };
  Outcome outcome = Outcome::kNoPath;
  size_t fileBytes = 0;   // size of the file read
  int fieldsApplied = 0;  // fields whose actions ran (0..72)
  std::string message;    // empty when all went as expected
};

// Runs the whole load: ForceModeSetup, every field present in the file with its action in
// file order, the buffer fix-ups after field 26, AutoStartPending. A file shorter than the
// layout applies the fields it holds and leaves the rest as they are; a longer one is read
// up to the layout's end. A file that does not exist is created with the current values
// (field 4 as 63) and nothing is applied.
SettingsLoadResult LoadSettings(const std::string& path, const SettingsTargets& parts);

// The load's middle part on bytes already in memory: every field wholly inside `size`
// bytes with its action, and the fix-ups after field 26. Returns the fields applied.
int ApplySettings(const uint8_t* data, size_t size, const SettingsTargets& parts);

// Writes the record as the file at `path`. The new contents go to a temporary file in the
// same folder that then replaces `path`, so a failed write leaves the old file whole. An
// empty path writes nothing and succeeds. On failure returns false with a message naming
// the file and the system's reason.
bool SaveSettings(const std::string& path, const SettingsRecord& record, std::string& error);

}  // namespace kestrix
