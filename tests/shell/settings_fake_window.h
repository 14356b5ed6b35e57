// A stand-in for the main window in settings tests: it logs every handler call by name
// (with its argument) and keeps the settings the way the window's controls would, clamping
// to the controls' ranges, so a load can be compared with the record that was saved.
#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "shell/settings_file.h"

namespace kestrix::testing {

// A menu item or button that sets one field to a fixed value.
#define KESTRIX_FAKE_CLICK(Handler, field, value) \
  void Handler() override {                       \
    Log(#Handler);                                \
    state.field = value;                          \
  }
// A control that takes a value, clamped to [lo, hi].
#define KESTRIX_FAKE_SET(Handler, field, lo, hi)  \
  void Handler(int32_t v) override {              \
    Log(#Handler, v);                             \
    state.field = std::clamp<int32_t>(v, lo, hi); \
  }
// A value stored as it is.
#define KESTRIX_FAKE_STORE(Handler, field)                              \
  KESTRIX_FAKE_SET(Handler, field, std::numeric_limits<int32_t>::min(), \
                   std::numeric_limits<int32_t>::max())
// A value logged with its call and kept as it is.
#define KESTRIX_FAKE_VALUE(Handler, Type, member) \
  void Handler(Type v) override {                 \
    Log(#Handler, v);                             \
    member = v;                                   \
  }
// A value kept as it is; the call is logged without it.
#define KESTRIX_FAKE_KEEP(Handler, Type, member) \
  void Handler(Type v) override {                \
    Log(#Handler);                               \
    member = v;                                  \
  }

class FakeWindow : public SettingsWindowHandlers,
                   public SettingsReceiveHandlers,
                   public SettingsTextHandlers,
                   public SettingsKeyingHandlers,
                   public SettingsToneHandlers,
                   public SettingsMemoryHandlers {
 public:
  FakeWindow() : state(DefaultSettings()) {}
  // The stand-in serves every part of the window.
  operator SettingsTargets() { return {*this, *this, *this, *this, *this, *this}; }

  SettingsRecord state;            // what the controls and variables hold
  std::vector<std::string> calls;  // handler names in call order, with arguments
  bool log = true;                 // off for the long random runs
  bool forceModeSetup = false;
  bool autoStartPending = false;
  bool blanking = false;
  std::string scratchPad, remoteCall, myCall;
  int32_t markerHz = 0;
  int32_t mkrLabel = 0;
  bool timelineShown = false;

  bool Called(const std::string& call) const {
    return std::find(calls.begin(), calls.end(), call) != calls.end();
  }
  // Position of the first call with this name (calls.size() when absent).
  size_t IndexOf(const std::string& call) const {
    return static_cast<size_t>(std::find(calls.begin(), calls.end(), call) - calls.begin());
  }

  SettingsRecord CurrentSettings() override { return state; }
  void RaiseForceModeSetup() override {
    Log("RaiseForceModeSetup");
    forceModeSetup = true;
  }
  void RaiseAutoStartPending() override {
    Log("RaiseAutoStartPending");
    autoStartPending = true;
  }

  KESTRIX_FAKE_STORE(StorePrinterPortAddress, PrinterPortAddress)
  KESTRIX_FAKE_SET(SetSignalGainBar, SignalGainBar, 0, 20)
  KESTRIX_FAKE_SET(SetSpeedTrackBar, SpeedTrackBar, 5, 100)
  KESTRIX_FAKE_SET(SetToneVolume, ToneVolume, 1, 64)
  KESTRIX_FAKE_SET(SetToneFreqBar2, ToneFreqBar2, 50, 100)
  KESTRIX_FAKE_SET(SetFrequencyBar, FrequencyBar, 1, 423)
  void SetSendBuffer(int n, const SendBufferBytes& b) override {
    Log("SetSendBuffer", n);
    state.SendBuffer(n) = b;
  }
  KESTRIX_FAKE_KEEP(SetScratchPadText, std::string_view, scratchPad)
  KESTRIX_FAKE_KEEP(SetRemoteCallText, std::string_view, remoteCall)
  KESTRIX_FAKE_KEEP(SetMyCallText, std::string_view, myCall)
  void CopyTextToSendBuffer(int n, std::string_view t) override {
    Log("CopyTextToSendBuffer", n);
    CopyFieldText(state.SendBuffer(n), t);
  }

  KESTRIX_FAKE_CLICK(Upper1Click, LetterCase, 1)
  KESTRIX_FAKE_CLICK(Lower1Click, LetterCase, 0)
  KESTRIX_FAKE_CLICK(Bold1Click, FontStyle, 1)
  KESTRIX_FAKE_CLICK(Normal1Click, FontStyle, 0)
  KESTRIX_FAKE_CLICK(Auto3Click, ReceiveSpeed, 1)
  KESTRIX_FAKE_CLICK(N25WPM1Click, ReceiveSpeed, 2)
  KESTRIX_FAKE_CLICK(N35wpm1Click, ReceiveSpeed, 3)
  KESTRIX_FAKE_CLICK(N50wpm1Click, ReceiveSpeed, 4)
  KESTRIX_FAKE_CLICK(N50wpm2Click, ReceiveSpeed, 5)
  // Both copies of the word-space setting follow the one variable.
  void SpacesOnClick() override {
    Log("SpacesOnClick");
    state.WordSpaces = state.WordSpaces2 = 3;
  }
  void SpacesOffClick() override {
    Log("SpacesOffClick");
    state.WordSpaces = state.WordSpaces2 = 0;
  }
  KESTRIX_FAKE_STORE(StoreSpaceTime, SpaceTime)
  KESTRIX_FAKE_CLICK(Short1Click, SpaceTime, 0)
  KESTRIX_FAKE_CLICK(Medium2Click, SpaceTime, 1)
  KESTRIX_FAKE_CLICK(Long1Click, SpaceTime, 2)
  KESTRIX_FAKE_STORE(StoreAfcMode, AfcMode)
  KESTRIX_FAKE_CLICK(Off1Click, AfcMode, 0)
  KESTRIX_FAKE_CLICK(Narrow1Click, AfcMode, 1)
  KESTRIX_FAKE_CLICK(Medium1Click, AfcMode, 2)
  KESTRIX_FAKE_CLICK(Wide1Click, AfcMode, 3)
  KESTRIX_FAKE_STORE(StoreFontSize, FontSize)
  KESTRIX_FAKE_CLICK(SmallFont1Click, FontSize, 1)
  KESTRIX_FAKE_CLICK(NormalFont1Click, FontSize, 2)
  KESTRIX_FAKE_CLICK(MediumFont1Click, FontSize, 3)
  KESTRIX_FAKE_CLICK(LargeFont1Click, FontSize, 4)
  KESTRIX_FAKE_STORE(StorePortKind, PortKind)
  KESTRIX_FAKE_KEEP(StorePortName, const PortNameBytes&, state.PortName)
  void Printer11Click() override { Log("Printer11Click"); }
  void None1Click() override { Log("None1Click"); }
  void OpenNamedComPort(std::string_view name) override {
    Log("OpenNamedComPort(" + std::string(name) + ")");
  }
  KESTRIX_FAKE_STORE(SetTimelineTop, TimelineTop)
  KESTRIX_FAKE_STORE(SetTimelineLeft, TimelineLeft)
  KESTRIX_FAKE_STORE(SetTimelineHeight, TimelineHeight)
  KESTRIX_FAKE_STORE(SetTimelineWidth, TimelineWidth)
  KESTRIX_FAKE_STORE(SetMainTop, MainTop)
  KESTRIX_FAKE_STORE(SetMainLeft, MainLeft)
  KESTRIX_FAKE_STORE(StoreCoarseGain, CoarseGain)
  KESTRIX_FAKE_CLICK(Rx01BtnClick, CoarseGain, 1)
  KESTRIX_FAKE_CLICK(Rx1BtnClick, CoarseGain, 2)
  KESTRIX_FAKE_CLICK(Rx10BtnClick, CoarseGain, 3)
  KESTRIX_FAKE_CLICK(Rx001BtnClick, CoarseGain, 4)
  KESTRIX_FAKE_STORE(StoreThresholdType, ThresholdType)
  KESTRIX_FAKE_CLICK(Normal2Click, ThresholdType, 0)
  KESTRIX_FAKE_CLICK(Noisy2Click, ThresholdType, 1)
  KESTRIX_FAKE_CLICK(Manual3Click, ThresholdType, 2)
  KESTRIX_FAKE_CLICK(Auto4Click, ThresholdType, 3)
  KESTRIX_FAKE_VALUE(SetBlankingFlag, bool, blanking)
  void BlankBtnClick() override {
    Log("BlankBtnClick");
    blanking = !blanking;
    state.Blanking = blanking ? 1 : 0;
  }
  KESTRIX_FAKE_CLICK(FilterOn1Click, NoiseFilter, 3)
  KESTRIX_FAKE_CLICK(FilterOff1Click, NoiseFilter, 0)
  KESTRIX_FAKE_SET(SetCoarseGainTrackBar, DisplayGain, 1, 20)
  void CoarseGainTrackBarChange() override { Log("CoarseGainTrackBarChange"); }
  KESTRIX_FAKE_CLICK(Fade_OnClick, FadeControl, 1)
  KESTRIX_FAKE_CLICK(Fade_OffClick, FadeControl, 0)
  KESTRIX_FAKE_STORE(StoreInputChannel, InputChannel)
  KESTRIX_FAKE_CLICK(MicInputClick, InputChannel, 1)
  KESTRIX_FAKE_CLICK(LeftInputClick, InputChannel, 2)
  KESTRIX_FAKE_CLICK(RightInputClick, InputChannel, 3)
  KESTRIX_FAKE_CLICK(Normal3Click, KeyPolarity, 1)
  KESTRIX_FAKE_CLICK(Invert2Click, KeyPolarity, 2)
  KESTRIX_FAKE_CLICK(ProsignEnableClick, Prosigns, 1)
  KESTRIX_FAKE_CLICK(ProsignDisableClick, Prosigns, 0)
  KESTRIX_FAKE_VALUE(SetSquelch, bool, state.Squelch)
  KESTRIX_FAKE_CLICK(EnableEnglishClick, NonEnglish, 1)
  KESTRIX_FAKE_CLICK(DisableEnglishClick, NonEnglish, 0)
  KESTRIX_FAKE_CLICK(SideToneOnClick, SideTone, 1)
  KESTRIX_FAKE_CLICK(SideToneOFFClick, SideTone, 0)
  KESTRIX_FAKE_CLICK(On1Click, StayOnTop, 1)
  KESTRIX_FAKE_CLICK(Off2Click, StayOnTop, 0)
  void SetThresholdBar2(int32_t v) override {
    Log("SetThresholdBar2", v);
    state.ManualThreshold = 250000 - 1000 * std::clamp(v, 0, 250);
  }
  void ThresholdBar2Change() override { Log("ThresholdBar2Change"); }
  KESTRIX_FAKE_CLICK(MsgsONClick, Messaging, 1)
  KESTRIX_FAKE_CLICK(MsgsOFFClick, Messaging, 0)
  void ShowTimeline(int32_t top, int32_t left, int32_t height, int32_t width) override {
    Log("ShowTimeline(" + std::to_string(top) + "," + std::to_string(left) + "," +
        std::to_string(height) + "," + std::to_string(width) + ")");
    timelineShown = true;
    state.TimelineShown = 1;
  }
  void HideTimeline() override {
    Log("HideTimeline");
    timelineShown = false;
    state.TimelineShown = 0;
  }
  KESTRIX_FAKE_STORE(StoreInputDevice, InputDevice)
  KESTRIX_FAKE_STORE(SetComPortSpinBtn, ComPortNumber)
  KESTRIX_FAKE_SET(SetAfcStartSpinBtn, AfcStartFrequency, 100, 1500)
  KESTRIX_FAKE_VALUE(SetMarkerFrequency, int32_t, markerHz)
  KESTRIX_FAKE_VALUE(ShowMkrLabel, int32_t, mkrLabel)
  KESTRIX_FAKE_CLICK(Waterfall2Click, DisplayType, 1)
  KESTRIX_FAKE_CLICK(Spectrum1Click, DisplayType, 0)
  KESTRIX_FAKE_VALUE(StoreReserved, uint8_t, state.Reserved)
  KESTRIX_FAKE_CLICK(SerialPort1Click, OutputDevice, 1)
  KESTRIX_FAKE_CLICK(SoundCard1Click, OutputDevice, 0)
  KESTRIX_FAKE_KEEP(StoreToneFrequency, float, state.ToneFrequency)
  KESTRIX_FAKE_CLICK(Freq1Click, ToneFrequency, 600.0f)
  KESTRIX_FAKE_CLICK(Freq2Click, ToneFrequency, 750.0f)
  KESTRIX_FAKE_CLICK(Freq3Click, ToneFrequency, 1000.0f)
  KESTRIX_FAKE_CLICK(Squarewave1Click, ToneWaveform, 1)
  KESTRIX_FAKE_CLICK(Sinewave1Click, ToneWaveform, 0)
  void SetXmitUpDn(int16_t v) override {
    Log("SetXmitUpDn", v);
    state.ContestSerial = std::clamp<int32_t>(v, 1, 10000);
  }
  KESTRIX_FAKE_CLICK(ContestWindowClick, TransmitWindow, 1)
  KESTRIX_FAKE_CLICK(F10ScratchPadClick, TransmitWindow, 0)
  void SetTimingRatio(TimingRatio which, float percent, int32_t position,
                      const std::string& memo) override {
    static const char* const kNames[] = {"Dot", "Dash", "Char", "Word"};
    Log(std::string("SetTimingRatio(") + kNames[static_cast<int>(which)] + "," +
        std::to_string(position) + "," + memo + ")");
    float* const ratios[] = {&state.DotRatio, &state.DashRatio, &state.CharRatio, &state.WordRatio};
    *ratios[static_cast<int>(which)] = percent;
  }

 private:
  void Log(const std::string& name) {
    if (log) calls.push_back(name);
  }
  void Log(const std::string& name, int64_t value) {
    if (log) calls.push_back(name + "(" + std::to_string(value) + ")");
  }
};

#undef KESTRIX_FAKE_CLICK
#undef KESTRIX_FAKE_SET
#undef KESTRIX_FAKE_STORE
#undef KESTRIX_FAKE_KEEP
#undef KESTRIX_FAKE_VALUE

}  // namespace kestrix::testing
