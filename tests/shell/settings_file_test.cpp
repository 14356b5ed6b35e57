#include "shell/settings_file.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <csignal>
#include <limits>
#include <memory>
#include <sstream>

#include "settings_fake_window.h"
#include "settings_test_util.h"

namespace kestrix {
namespace {

namespace so = settings_offset;
using testing::FakeWindow;
using testing::Hex;
using testing::ImageWriter;
using testing::ReadBytes;
using testing::ScratchFolder;
using testing::WriteBytes;

// A record in which every field differs from its default, with values every control
// accepts unchanged, so a save and a load should give it back.
SettingsRecord DistinctRecord() {
  SettingsRecord r = DefaultSettings();
  r.PrinterPortAddress = 0x3BC;
  r.SignalGainBar = 17;
  r.SpeedTrackBar = 33;
  r.ToneVolume = 12;
  r.ToneFreqBar2 = 88;
  r.FrequencyBar = 300;
  for (int n = 1; n <= kStoredSendBuffers; ++n) {
    // Bytes after the terminator are kept as well: fill the whole buffer first.
    r.SendBuffer(n).fill(static_cast<char>(0x40 + n));
    CopyFieldText(r.SendBuffer(n), "memory " + std::to_string(n) + " \xe9");
  }
  r.LetterCase = 1;
  r.FontStyle = 1;
  r.ReceiveSpeed = 4;
  r.WordSpaces = r.WordSpaces2 = 0;
  r.SpaceTime = 2;
  r.AfcMode = 3;
  r.FontSize = 4;
  r.PortKind = 1;
  r.PortName.fill('x');
  CopyFieldText(r.PortName, "/dev/ttyUSB1");
  r.TimelineTop = 11;
  r.TimelineLeft = 22;
  r.TimelineHeight = 333;
  r.TimelineWidth = 444;
  r.MainTop = 55;
  r.MainLeft = 66;
  r.CoarseGain = 3;
  r.ThresholdType = 2;
  r.Blanking = 1;
  r.NoiseFilter = 3;
  r.DisplayGain = 19;
  r.FadeControl = 1;
  r.InputChannel = 3;
  r.KeyPolarity = 2;
  r.Prosigns = 0;
  r.Squelch = 1;
  r.NonEnglish = 1;
  r.SideTone = 1;
  r.StayOnTop = 1;
  r.ManualThreshold = 250000 - 1000 * 123;
  r.Messaging = 1;
  r.TimelineShown = 1;
  r.InputDevice = 4;
  r.ComPortNumber = 12;
  r.AfcStartFrequency = 1230;
  r.DisplayType = 1;
  r.Reserved = 0xA5;
  r.OutputDevice = 0;
  r.ToneFrequency = 1000.0f;
  r.ToneWaveform = 1;
  r.ContestSerial = 4321;
  r.TransmitWindow = 1;
  r.DotRatio = 125.0f;
  r.DashRatio = 80.0f;
  r.CharRatio = 150.0f;
  r.WordRatio = 200.0f;
  return r;
}

TEST(SettingsLayout, FieldsSitAtTheirByteOffsetsLittleEndianAndPacked) {
  SettingsRecord r = DefaultSettings();
  r.PrinterPortAddress = 0x378;
  r.SignalGainBar = 0x11223344;
  r.FrequencyBar = -2;
  CopyFieldText(r.SendBuffer(1), "AB");
  CopyFieldText(r.SendBuffer(20), "tu");
  r.LetterCase = 1;
  r.Blanking = 0xB1;
  r.NoiseFilter = 0x0A0B0C0D;  // odd offset
  r.FadeControl = 0xF7;
  r.ManualThreshold = 190000;  // 0x0002E630
  r.Reserved = 0x5A;
  r.ToneFrequency = 800.0f;  // 0x44480000
  r.WordRatio = 100.0f;      // 0x42C80000
  const std::vector<uint8_t> b = SerializeSettings(r);

  ASSERT_EQ(b.size(), 82110u);
  EXPECT_EQ(Hex(b, 0, 8), "78 03 00 00 44 33 22 11");
  EXPECT_EQ(Hex(b, 20, 7), "fe ff ff ff 41 42 00");
  EXPECT_EQ(Hex(b, 24 + 4096 * 19, 3), "74 75 00");  // buffer 20
  EXPECT_EQ(Hex(b, 81944, 4), "01 00 00 00");
  EXPECT_EQ(Hex(b, 81976, 5), "4e 4f 4e 45 00");  // "NONE"
  EXPECT_EQ(Hex(b, 82020, 10), "01 00 00 00 b1 0d 0c 0b 0a 05");
  EXPECT_EQ(Hex(b, 82033, 1), "f7");
  EXPECT_EQ(Hex(b, 82047, 4), "30 e6 02 00");
  EXPECT_EQ(Hex(b, 82073, 1), "5a");
  EXPECT_EQ(Hex(b, 82078, 4), "00 00 48 44");
  EXPECT_EQ(Hex(b, 82106, 4), "00 00 c8 42");
}

TEST(SettingsLayout, DefaultFileHoldsTheStartUpValues) {
  const std::vector<uint8_t> b = SerializeSettings(DefaultSettings());
  SettingsRecord r;
  ASSERT_EQ(ParseSettings(b.data(), b.size(), r), kSettingsFieldCount);
  EXPECT_EQ(FieldText(r.SendBuffer(1)), "");
  EXPECT_EQ(FieldText(r.SendBuffer(16)), "Call");
  EXPECT_EQ(FieldText(r.SendBuffer(17)), "My Call");
  EXPECT_EQ(FieldText(r.SendBuffer(18)), "Call de My Call");
  EXPECT_EQ(FieldText(r.SendBuffer(19)), "599");
  EXPECT_EQ(FieldText(r.SendBuffer(20)), "tu");
  EXPECT_EQ(FieldText(r.PortName), "NONE");
  // Taken from the receive chain's own start-up state.
  EXPECT_EQ(r.ReceiveSpeed, 2);
  EXPECT_EQ(r.ThresholdType, 1);
  EXPECT_EQ(r.DisplayGain, 5);
  // ThresholdBar2 starts at 60, so the manual threshold the file carries is 250000 - 60000.
  EXPECT_EQ(r.ManualThreshold, 190000);
}

// A file made byte by byte from the offsets, not by the program's writer.
TEST(SettingsLoad, HandMadeFileLoadsToTheValuesAtItsOffsets) {
  std::vector<uint8_t> bytes(82110, 0);
  ImageWriter w{bytes};
  // Four-byte fields: at 4 the gain, at 8 a transmit speed below the bar's range, at 12 a
  // volume the load ignores, at 82065 the second word-space copy, which wins.
  const std::pair<size_t, int32_t> ints[] = {
      {4, 3},     {8, 3},       {12, 7},    {16, 60},    {20, 400},  {81944, 1},  {81952, 1},
      {81956, 3}, {81960, 0},   {81964, 2}, {81968, 3},  {81972, 0}, {82008, 40}, {82012, 50},
      {82016, 4}, {82020, 3},   {82025, 3}, {82029, 12}, {82034, 2}, {82038, 2},  {82047, 150500},
      {82057, 7}, {82061, 800}, {82065, 0}, {82069, 1},  {82086, 77}};
  for (auto [offset, value] : ints) w.Int(offset, value);
  for (size_t offset : {82024, 82042, 82043}) w.Byte(offset, 1);
  w.Byte(82052, 0);
  w.Byte(82073, 9);
  const std::pair<size_t, float> floats[] = {
      {82078, 600.0f}, {82094, 33.3f}, {82098, 250.0f}, {82102, 100.0f}, {82106, 99.9f}};
  for (auto [offset, value] : floats) w.Float(offset, value);
  w.Text(24 + 4096 * 9, "CQ TEST");  // buffer 10
  w.Text(24 + 4096 * 15, "DL1ABC");  // buffer 16
  w.Text(24 + 4096 * 16, "G4XYZ");   // buffer 17
  w.Text(81976, "LPT2");
  ScratchFolder dir;
  const std::string path = dir.File("Kestrix.cfc");
  WriteBytes(path, bytes);

  FakeWindow win;
  const SettingsLoadResult result = LoadSettings(path, win);

  EXPECT_EQ(result.outcome, SettingsLoadResult::Outcome::kLoaded);
  EXPECT_EQ(result.fieldsApplied, 72);
  EXPECT_TRUE(result.message.empty());
  // The mode setup is forced before anything else, the automatic start asked for last.
  EXPECT_EQ(win.calls.front(), "RaiseForceModeSetup");
  EXPECT_EQ(win.calls.back(), "RaiseAutoStartPending");
  const SettingsRecord& s = win.state;
  EXPECT_EQ(s.SignalGainBar, 3);
  EXPECT_EQ(s.SpeedTrackBar, 5);  // clamped by the bar
  EXPECT_TRUE(win.Called("SetToneVolume(63)"));
  EXPECT_EQ(s.ToneFreqBar2, 60);
  EXPECT_EQ(s.FrequencyBar, 112);
  EXPECT_EQ(win.scratchPad, "CQ TEST");
  EXPECT_EQ(win.remoteCall, "DL1ABC");
  EXPECT_EQ(win.myCall, "G4XYZ");
  EXPECT_EQ(s.LetterCase, 1);
  EXPECT_EQ(s.ReceiveSpeed, 1);
  EXPECT_EQ(s.SpaceTime, 0);
  EXPECT_EQ(s.AfcMode, 2);
  EXPECT_EQ(s.FontSize, 3);
  EXPECT_TRUE(win.Called("Printer11Click"));
  EXPECT_EQ(s.MainTop, 40);
  EXPECT_EQ(s.MainLeft, 50);
  EXPECT_EQ(s.CoarseGain, 4);
  EXPECT_EQ(s.ThresholdType, 3);
  EXPECT_TRUE(win.blanking);
  EXPECT_EQ(s.NoiseFilter, 3);
  EXPECT_EQ(s.DisplayGain, 12);
  EXPECT_EQ(s.InputChannel, 2);
  EXPECT_EQ(s.KeyPolarity, 2);
  EXPECT_EQ(s.Squelch, 1);
  EXPECT_TRUE(win.Called("SetThresholdBar2(99)"));  // (250000 - 150500) / 1000
  EXPECT_FALSE(win.timelineShown);
  EXPECT_EQ(s.ComPortNumber, 7);
  EXPECT_EQ(s.AfcStartFrequency, 800);
  EXPECT_EQ(win.markerHz, 602);
  EXPECT_EQ(win.mkrLabel, 800);
  EXPECT_EQ(s.WordSpaces, 0);
  EXPECT_EQ(s.DisplayType, 1);
  EXPECT_EQ(s.Reserved, 9);
  EXPECT_EQ(s.OutputDevice, 0);
  EXPECT_TRUE(win.Called("Freq1Click"));
  EXPECT_EQ(s.ContestSerial, 77);
  EXPECT_TRUE(win.Called("SetTimingRatio(Dot,33,0.333)"));
  EXPECT_TRUE(win.Called("SetTimingRatio(Dash,250,2.5)"));
  EXPECT_TRUE(win.Called("SetTimingRatio(Char,100,1)"));
  EXPECT_TRUE(win.Called("SetTimingRatio(Word,99,0.999)"));
}

TEST(SettingsLoad, SaveThenLoadGivesBackEveryFieldButVolumeBuffers19And20AndTheBar) {
  ScratchFolder dir;
  const std::string path = dir.File("Kestrix.cfc");
  const SettingsRecord saved = DistinctRecord();
  std::string error;
  ASSERT_TRUE(SaveSettings(path, saved, error)) << error;

  FakeWindow win;
  ASSERT_EQ(LoadSettings(path, win).fieldsApplied, 72);

  SettingsRecord expected = saved;
  expected.ToneVolume = 63;
  expected.FrequencyBar = 112;
  CopyFieldText(expected.SendBuffer(19), "5nn ");
  CopyFieldText(expected.SendBuffer(20), "tu ");
  EXPECT_EQ(SerializeSettings(win.state), SerializeSettings(expected));
  // The replaced buffers keep the stored bytes after their new terminators.
  EXPECT_EQ(win.state.SendBuffer(19)[5], saved.SendBuffer(19)[5]);
  EXPECT_EQ(win.state.SendBuffer(20).back(), saved.SendBuffer(20).back());
}

TEST(SettingsLoad, ActionsRunInFileOrder) {
  const std::vector<uint8_t> bytes = SerializeSettings(DefaultSettings());
  FakeWindow win;
  ApplySettings(bytes.data(), bytes.size(), win);
  const auto& c = win.calls;
  auto before = [&](const std::string& a, const std::string& b) {
    const size_t ia = win.IndexOf(a), ib = win.IndexOf(b);
    return ia < c.size() && ib < c.size() && ia < ib;
  };
  // Field 6's bar position first, then field 60's 112 overrides it.
  EXPECT_TRUE(before("SetFrequencyBar(256)", "SetFrequencyBar(112)"));
  EXPECT_EQ(win.state.FrequencyBar, 112);
  // The buffer fix-ups come after the last buffer and before field 27.
  EXPECT_TRUE(before("SetSendBuffer(20)", "SetScratchPadText"));
  EXPECT_TRUE(before("CopyTextToSendBuffer(20)", "Lower1Click"));
  // Raw values are stored before their handler runs.
  EXPECT_TRUE(before("StoreThresholdType(1)", "Noisy2Click"));
  EXPECT_TRUE(before("StoreToneFrequency", "Freq2Click"));
  EXPECT_TRUE(before("SetBlankingFlag(1)", "BlankBtnClick"));
  EXPECT_TRUE(before("SetThresholdBar2(60)", "ThresholdBar2Change"));
  EXPECT_TRUE(before("SetCoarseGainTrackBar(5)", "CoarseGainTrackBarChange"));
  EXPECT_TRUE(before("StorePortKind(2)", "StorePortName"));
  // Field 30 and its copy, field 61, each run the word-space handler.
  EXPECT_EQ(std::count(c.begin(), c.end(), "SpacesOnClick"), 2);
  EXPECT_EQ(c.back(), "SetTimingRatio(Word,100,1)");
}

// One stored value, the handlers it must run and the ones it must not (space-separated).
struct BranchCase {
  const char* name;
  size_t offset;
  std::vector<uint8_t> value;  // little-endian bytes put at offset
  const char* run;
  const char* notRun;
};

std::vector<uint8_t> LE(int32_t v) {
  const auto u = static_cast<uint32_t>(v);
  return {uint8_t(u), uint8_t(u >> 8), uint8_t(u >> 16), uint8_t(u >> 24)};
}
std::vector<uint8_t> LEf(float f) {
  int32_t bits;
  std::memcpy(&bits, &f, 4);
  return LE(bits);
}
std::vector<uint8_t> Name16(const std::string& s) {
  std::vector<uint8_t> v(16, 0);
  std::copy(s.begin(), s.end(), v.begin());
  return v;
}
std::vector<std::string> Words(const char* list) {
  std::istringstream in(list);
  return {std::istream_iterator<std::string>(in), {}};
}

TEST(SettingsLoad, EachStoredValueRunsItsHandlerAndNoOther) {
  const char* const kThresholdItems = "Normal2Click Noisy2Click Manual3Click Auto4Click";
  const char* const kFreqItems = "Freq1Click Freq2Click Freq3Click";
  const BranchCase cases[] = {
      {"CaseUpper", so::kLetterCase, LE(1), "Upper1Click", "Lower1Click"},
      {"CaseOther", so::kLetterCase, LE(2), "Lower1Click", "Upper1Click"},
      {"BoldAnyNonzero", so::kFontStyle, LE(-5), "Bold1Click", "Normal1Click"},
      {"SpeedAuto", so::kReceiveSpeed, LE(1), "Auto3Click", "N50wpm2Click"},
      {"Speed30", so::kReceiveSpeed, LE(4), "N50wpm1Click", "N50wpm2Click"},
      {"SpeedOther", so::kReceiveSpeed, LE(0), "N50wpm2Click", "Auto3Click"},
      {"SpacesOneIsOff", so::kWordSpaces, LE(1), "SpacesOffClick", ""},
      {"SpaceTimeOther", so::kSpaceTime, LE(3), "StoreSpaceTime(3)",
       "Short1Click Medium2Click Long1Click"},
      {"AfcOther", so::kAfcMode, LE(-1), "StoreAfcMode(-1)",
       "Off1Click Narrow1Click Medium1Click Wide1Click"},
      {"FontSizeZero", so::kFontSize, LE(0), "StoreFontSize(0)",
       "SmallFont1Click NormalFont1Click MediumFont1Click LargeFont1Click"},
      {"PortLpt1", so::kPortName, Name16("LPT1"), "Printer11Click", "None1Click"},
      {"PortLpt2", so::kPortName, Name16("LPT2"), "Printer11Click", "None1Click"},
      {"PortNone", so::kPortName, Name16("NONE"), "None1Click", "Printer11Click"},
      {"PortLowerCaseIsADevice", so::kPortName, Name16("lpt1"), "OpenNamedComPort(lpt1)",
       "Printer11Click"},
      {"PortDevice", so::kPortName, Name16("/dev/ttyUSB0"), "OpenNamedComPort(/dev/ttyUSB0)",
       "None1Click Printer11Click"},
      {"PortNameWithoutTerminator", so::kPortName, std::vector<uint8_t>(16, 'A'),
       "OpenNamedComPort(AAAAAAAAAAAAAAAA)", ""},
      {"CoarseOther", so::kCoarseGain, LE(5), "StoreCoarseGain(5)",
       "Rx01BtnClick Rx1BtnClick Rx10BtnClick Rx001BtnClick"},
      {"CoarseX001", so::kCoarseGain, LE(4), "Rx001BtnClick", "Rx01BtnClick"},
      {"ThresholdQuietKeptWithoutCheckMark", so::kThresholdType, LE(4), "StoreThresholdType(4)",
       kThresholdItems},
      {"ThresholdManual", so::kThresholdType, LE(2), "Manual3Click", ""},
      {"FilterAnyNonzero", so::kNoiseFilter, LE(1), "FilterOn1Click", ""},
      {"FadeTwoIsOff", so::kFadeControl, {2}, "Fade_OffClick", "Fade_OnClick"},
      {"InputOther", so::kInputChannel, LE(4), "StoreInputChannel(4)",
       "MicInputClick LeftInputClick RightInputClick"},
      {"InputRight", so::kInputChannel, LE(3), "RightInputClick", ""},
      {"PolarityOther", so::kKeyPolarity, LE(0), "Invert2Click", ""},
      {"ProsignsTwoIsOff", so::kProsigns, {2}, "ProsignDisableClick", ""},
      {"SquelchTwoIsOff", so::kSquelch, {2}, "SetSquelch(0)", ""},
      {"SquelchOn", so::kSquelch, {1}, "SetSquelch(1)", ""},
      {"NonEnglishOn", so::kNonEnglish, {1}, "EnableEnglishClick", ""},
      {"SideToneOn", so::kSideTone, {1}, "SideToneOnClick", ""},
      {"StayOnTopAnyNonzero", so::kStayOnTop, {7}, "On1Click", "Off2Click"},
      // 250000 - INT32_MIN overflows 32 bits; the position is computed wide.
      {"ThresholdLevelHuge", so::kManualThreshold, LE(std::numeric_limits<int32_t>::min()),
       "SetThresholdBar2(2147733)", ""},
      {"ThresholdLevelAbove250000", so::kManualThreshold, LE(260999), "SetThresholdBar2(-10)", ""},
      {"MessagingOn", so::kMessaging, {1}, "MsgsONClick", ""},
      {"TimelineShown", so::kTimelineShown, {1}, "ShowTimeline(100,200,240,320)", "HideTimeline"},
      {"TimelineTwoIsHidden", so::kTimelineShown, {2}, "HideTimeline", ""},
      {"DisplayOther", so::kDisplayType, LE(-1), "Waterfall2Click", ""},
      {"OutputSoundCard", so::kOutputDevice, LE(0), "SoundCard1Click", ""},
      {"Tone800KeptWithNoItem", so::kToneFrequency, LEf(800.0f), "", kFreqItems},
      {"Tone1000", so::kToneFrequency, LEf(1000.0f), "Freq3Click", ""},
      {"ToneNaN", so::kToneFrequency, LE(0x7FC00000), "", kFreqItems},
      {"WaveformSquare", so::kToneWaveform, LE(2), "Squarewave1Click", ""},
      {"SerialCutTo16Bits", so::kContestSerial, LE(70000), "SetXmitUpDn(4464)", ""},
      {"SerialNegative16Bits", so::kContestSerial, LE(0xFFFF), "SetXmitUpDn(-1)", ""},
      {"ContestWindow", so::kTransmitWindow, LE(9), "ContestWindowClick", ""},
      {"RatioNaN", so::kDotRatio, LE(0x7FC00000), "SetTimingRatio(Dot,0,nan)", ""},
      {"RatioHuge", so::kDashRatio, LEf(1e30f), "SetTimingRatio(Dash,2147483647,1e+28)", ""},
      {"RatioNegative", so::kCharRatio, LEf(-12.5f), "SetTimingRatio(Char,-12,-0.125)", ""},
      {"RatioThreeDigits", so::kWordRatio, LEf(123456.0f), "SetTimingRatio(Word,123456,1.23e+03)",
       ""},
  };
  for (const BranchCase& bc : cases) {
    SCOPED_TRACE(bc.name);
    std::vector<uint8_t> bytes = SerializeSettings(DefaultSettings());
    std::copy(bc.value.begin(), bc.value.end(), bytes.begin() + static_cast<long>(bc.offset));
    FakeWindow win;
    ApplySettings(bytes.data(), bytes.size(), win);
    for (const std::string& call : Words(bc.run)) EXPECT_TRUE(win.Called(call)) << call;
    for (const std::string& call : Words(bc.notRun)) EXPECT_FALSE(win.Called(call)) << call;
  }
}

TEST(SettingsLoad, BlankingEndsExactlyAsStoredWhateverItWasBefore) {
  for (bool before : {false, true}) {
    for (uint8_t stored : {0, 1, 2, 255}) {
      std::vector<uint8_t> bytes = SerializeSettings(DefaultSettings());
      bytes[so::kBlanking] = stored;
      FakeWindow win;
      win.blanking = before;
      ApplySettings(bytes.data(), bytes.size(), win);
      EXPECT_EQ(win.blanking, stored == 1) << "before " << before << " stored " << int(stored);
    }
  }
}

// A file cut short: the fields wholly inside it are applied, the rest keep their values and
// their handlers never run.
TEST(SettingsLoad, ShortFileAppliesOnlyTheFieldsItHolds) {
  const struct {
    size_t length;
    int applied;
    const char* lastApplied;   // a call made by the last field inside the file
    const char* firstMissing;  // a call the first field past the end would make
  } cases[] = {
      {0, 0, "", "StorePrinterPortAddress(956)"},
      {3, 0, "", "StorePrinterPortAddress(956)"},
      {4, 1, "StorePrinterPortAddress(956)", "SetSignalGainBar(17)"},
      {15, 3, "SetSpeedTrackBar(33)", "SetToneVolume(63)"},
      {24 + 4096 * 9 + 100, 15, "SetSendBuffer(9)", "SetSendBuffer(10)"},
      {SendBufferOffset(16) + 10, 21, "SetSendBuffer(15)", "SetSendBuffer(16)"},
      {81944, 26, "SetSendBuffer(20)", "Upper1Click"},
      {82024, 43, "Manual3Click", "BlankBtnClick"},
      {82025, 44, "BlankBtnClick", "FilterOn1Click"},
      {82064, 59, "SetComPortSpinBtn(12)", "SetFrequencyBar(112)"},
      {82109, 71, "SetTimingRatio(Char,150,1.5)", "SetTimingRatio(Word,200,2)"},
  };
  ScratchFolder dir;
  const std::string path = dir.File("Kestrix.cfc");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.length);
    std::vector<uint8_t> bytes = SerializeSettings(DistinctRecord());
    bytes.resize(c.length);
    WriteBytes(path, bytes);

    FakeWindow win;
    CopyFieldText(win.state.SendBuffer(16), "OK1XX");
    const SettingsRecord before = win.state;
    const SettingsLoadResult result = LoadSettings(path, win);

    EXPECT_EQ(result.outcome, SettingsLoadResult::Outcome::kLoaded);
    EXPECT_EQ(result.fileBytes, c.length);
    EXPECT_EQ(result.fieldsApplied, c.applied);
    EXPECT_FALSE(result.message.empty());
    EXPECT_TRUE(!*c.lastApplied || win.Called(c.lastApplied)) << c.lastApplied;
    EXPECT_FALSE(win.Called(c.firstMissing)) << c.firstMissing;
    // A field past the end keeps its value; the buffers still get their fix-ups.
    EXPECT_EQ(win.state.WordRatio, before.WordRatio);
    EXPECT_EQ(FieldText(win.state.SendBuffer(19)), "5nn ");
    EXPECT_EQ(FieldText(win.state.SendBuffer(20)), "tu ");
    // The call box shows the current buffer 16 unless the file held all of it.
    EXPECT_EQ(win.remoteCall, c.length < SendBufferOffset(17) ? "OK1XX" : "memory 16 \xe9");
    EXPECT_EQ(win.calls.back(), "RaiseAutoStartPending");
  }
}

TEST(SettingsLoad, LongerFileReadsTheLayoutAndIgnoresTheRest) {
  std::vector<uint8_t> bytes = SerializeSettings(DistinctRecord());
  bytes.resize(90000, 0xEE);
  ScratchFolder dir;
  const std::string path = dir.File("Kestrix.cfc");
  WriteBytes(path, bytes);
  FakeWindow win;
  const SettingsLoadResult result = LoadSettings(path, win);
  EXPECT_EQ(result.fieldsApplied, 72);
  EXPECT_EQ(result.fileBytes, 82110u);
  EXPECT_TRUE(result.message.empty());
  EXPECT_EQ(win.state.WordRatio, 200.0f);
}

TEST(SettingsLoad, MissingFileIsCreatedWithTheCurrentValuesAndNothingApplied) {
  ScratchFolder dir;
  const std::string path = dir.File("Kestrix.cfc");
  FakeWindow win;
  win.state = DistinctRecord();
  const SettingsLoadResult result = LoadSettings(path, win);

  EXPECT_EQ(result.outcome, SettingsLoadResult::Outcome::kCreated);
  EXPECT_EQ(win.calls, std::vector<std::string>{"RaiseForceModeSetup"});
  EXPECT_FALSE(win.autoStartPending);
  const std::vector<uint8_t> written = ReadBytes(path);
  ASSERT_EQ(written.size(), 82110u);
  SettingsRecord expected = DistinctRecord();
  expected.ToneVolume = 63;
  EXPECT_EQ(written, SerializeSettings(expected));
}

TEST(SettingsLoad, WithoutAPathOrAReadableFileNothingIsApplied) {
  ScratchFolder dir;
  const std::string folder = dir.File("Kestrix.cfc");
  ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);  // opens, but cannot be read
  using Outcome = SettingsLoadResult::Outcome;
  const struct {
    std::string path;
    Outcome outcome;
    std::string named;  // what the message must name
  } cases[] = {
      {"", Outcome::kNoPath, ""},
      {dir.File("no-such-folder/Kestrix.cfc"), Outcome::kCreateFailed, "no-such-folder"},
      {folder, Outcome::kUnreadable, folder},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    FakeWindow win;
    const SettingsLoadResult result = LoadSettings(c.path, win);
    EXPECT_EQ(result.outcome, c.outcome);
    EXPECT_NE(result.message.find(c.named), std::string::npos) << result.message;
    EXPECT_EQ(win.calls, std::vector<std::string>{"RaiseForceModeSetup"});
    EXPECT_FALSE(win.autoStartPending);
  }
}

TEST(SettingsSave, WritesExactlyTheLayoutAndReplacesAnOlderFile) {
  ScratchFolder dir;
  const std::string path = dir.File("Kestrix.cfc");
  WriteBytes(path, std::vector<uint8_t>(100000, 1));
  ASSERT_EQ(::chmod(path.c_str(), 0600), 0);
  std::string error;
  ASSERT_TRUE(SaveSettings(path, DistinctRecord(), error)) << error;
  EXPECT_EQ(ReadBytes(path), SerializeSettings(DistinctRecord()));
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);  // the old file's permissions are kept
  // No temporary file is left beside it.
  int entries = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path())) ++entries;
  EXPECT_EQ(entries, 1);
}

TEST(SettingsSave, WritesThroughASymbolicLink) {
  ScratchFolder dir;
  const std::string real = dir.File("real.cfc");
  const std::string link = dir.File("Kestrix.cfc");
  WriteBytes(real, {1, 2, 3});
  ASSERT_EQ(::symlink(real.c_str(), link.c_str()), 0);
  std::string error;
  ASSERT_TRUE(SaveSettings(link, DefaultSettings(), error)) << error;
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(ReadBytes(real).size(), 82110u);
}

TEST(SettingsSave, FailureNamesTheFileAndAnEmptyPathWritesNothing) {
  ScratchFolder dir;
  std::string error;
  EXPECT_FALSE(SaveSettings(dir.File("missing/Kestrix.cfc"), DefaultSettings(), error));
  EXPECT_NE(error.find("missing/Kestrix.cfc"), std::string::npos);
  EXPECT_NE(error.find("No such file"), std::string::npos);
  error.clear();
  EXPECT_TRUE(SaveSettings("", DefaultSettings(), error));
  EXPECT_TRUE(error.empty());
}

TEST(SettingsSave, ADiskThatFillsUpKeepsTheOldFile) {
  // The file-size limit stands in for a full disk: the write stops part-way with EFBIG,
  // as it would with ENOSPC, and the file from the last good save must survive whole.
  ScratchFolder dir;
  const std::string path = dir.File("Kestrix.cfc");
  std::string error;
  ASSERT_TRUE(SaveSettings(path, DistinctRecord(), error)) << error;
  const std::vector<uint8_t> before = ReadBytes(path);

  rlimit old{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = old;
  small.rlim_cur = 4096;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const bool saved = SaveSettings(path, DefaultSettings(), error);
  ::setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldHandler);

  EXPECT_FALSE(saved);
  EXPECT_NE(error.find("Kestrix.cfc"), std::string::npos) << error;
  EXPECT_EQ(ReadBytes(path), before);
  int entries = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path())) ++entries;
  EXPECT_EQ(entries, 1) << "the part-written temporary file is removed";
}

TEST(SettingsText, FieldsAreReadUpToTheTerminatorAndCopiedLikeACString) {
  PortNameBytes name;
  name.fill('z');
  EXPECT_EQ(FieldText(name).size(), 16u);  // no terminator: the whole field
  CopyFieldText(name, "COM3");
  EXPECT_EQ(FieldText(name), "COM3");
  EXPECT_EQ(name[5], 'z');  // the bytes after the terminator stay
  CopyFieldText(name, "a name longer than sixteen bytes");
  EXPECT_EQ(FieldText(name), "a name longer t");
}

}  // namespace
}  // namespace kestrix
