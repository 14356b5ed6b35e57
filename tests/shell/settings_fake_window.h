// A stand-in for the main window in settings tests: it logs every handler call by name
// (with its argument) and keeps the settings the way the window's controls would, clamping
// to the controls' ranges, so a load can be compared with the record that was saved.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "shell/settings_file.h"

namespace kestrix::testing {

class FakeWindow : public SettingsHandlers {
 public:
  FakeWindow() : state(DefaultSettings()) {}

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
  int currentSettingsCalls = 0;

  bool Called(const std::string& call) const {
    return std::find(calls.begin(), calls.end(), call) != calls.end();
  }
  // Position of the first call with this name (calls.size() when absent).
  size_t IndexOf(const std::string& call) const {
    return static_cast<size_t>(std::find(calls.begin(), calls.end(), call) - calls.begin());
  }

  SettingsRecord CurrentSettings() override {
    ++currentSettingsCalls;
    return state;
  }
  void RaiseForceModeSetup() override {
    Log("RaiseForceModeSetup");
    forceModeSetup = true;
  }
  void RaiseAutoStartPending() override {
    Log("RaiseAutoStartPending");
    autoStartPending = true;
  }

  void StorePrinterPortAddress(int32_t v) override {
    Log("StorePrinterPortAddress", v);
    state.PrinterPortAddress = v;
  }
  void SetSignalGainBar(int32_t v) override {
    Log("SetSignalGainBar", v);
    state.SignalGainBar = std::clamp(v, 0, 20);
  }
  void SetSpeedTrackBar(int32_t v) override {
    Log("SetSpeedTrackBar", v);
    state.SpeedTrackBar = std::clamp(v, 5, 100);
  }
  void SetToneVolume(int32_t v) override {
    Log("SetToneVolume", v);
    state.ToneVolume = std::clamp(v, 1, 64);
  }
  void SetToneFreqBar2(int32_t v) override {
    Log("SetToneFreqBar2", v);
    state.ToneFreqBar2 = std::clamp(v, 50, 100);
  }
  void SetFrequencyBar(int32_t v) override {
    Log("SetFrequencyBar", v);
    state.FrequencyBar = std::clamp(v, 1, 423);
  }
  void SetSendBuffer(int n, const SendBufferBytes& b) override {
    Log("SetSendBuffer", n);
    state.SendBuffer(n) = b;
  }
  void SetScratchPadText(std::string_view t) override {
    Log("SetScratchPadText");
    scratchPad = t;
  }
  void SetRemoteCallText(std::string_view t) override {
    Log("SetRemoteCallText");
    remoteCall = t;
  }
  void SetMyCallText(std::string_view t) override {
    Log("SetMyCallText");
    myCall = t;
  }
  void CopyTextToSendBuffer(int n, std::string_view t) override {
    Log("CopyTextToSendBuffer", n);
    CopyFieldText(state.SendBuffer(n), t);
  }

  void Upper1Click() override {
    Log("Upper1Click");
    state.LetterCase = 1;
  }
  void Lower1Click() override {
    Log("Lower1Click");
    state.LetterCase = 0;
  }
  void Bold1Click() override {
    Log("Bold1Click");
    state.FontStyle = 1;
  }
  void Normal1Click() override {
    Log("Normal1Click");
    state.FontStyle = 0;
  }
  void Auto3Click() override {
    Log("Auto3Click");
    state.ReceiveSpeed = 1;
  }
  void N25WPM1Click() override {
    Log("N25WPM1Click");
    state.ReceiveSpeed = 2;
  }
  void N35wpm1Click() override {
    Log("N35wpm1Click");
    state.ReceiveSpeed = 3;
  }
  void N50wpm1Click() override {
    Log("N50wpm1Click");
    state.ReceiveSpeed = 4;
  }
  void N50wpm2Click() override {
    Log("N50wpm2Click");
    state.ReceiveSpeed = 5;
  }
  // Both copies of the word-space setting follow the one variable.
  void SpacesOnClick() override {
    Log("SpacesOnClick");
    state.WordSpaces = state.WordSpaces2 = 3;
  }
  void SpacesOffClick() override {
    Log("SpacesOffClick");
    state.WordSpaces = state.WordSpaces2 = 0;
  }
  void StoreSpaceTime(int32_t v) override {
    Log("StoreSpaceTime", v);
    state.SpaceTime = v;
  }
  void Short1Click() override {
    Log("Short1Click");
    state.SpaceTime = 0;
  }
  void Medium2Click() override {
    Log("Medium2Click");
    state.SpaceTime = 1;
  }
  void Long1Click() override {
    Log("Long1Click");
    state.SpaceTime = 2;
  }
  void StoreAfcMode(int32_t v) override {
    Log("StoreAfcMode", v);
    state.AfcMode = v;
  }
  void Off1Click() override {
    Log("Off1Click");
    state.AfcMode = 0;
  }
  void Narrow1Click() override {
    Log("Narrow1Click");
    state.AfcMode = 1;
  }
  void Medium1Click() override {
    Log("Medium1Click");
    state.AfcMode = 2;
  }
  void Wide1Click() override {
    Log("Wide1Click");
    state.AfcMode = 3;
  }
  void StoreFontSize(int32_t v) override {
    Log("StoreFontSize", v);
    state.FontSize = v;
  }
  void SmallFont1Click() override {
    Log("SmallFont1Click");
    state.FontSize = 1;
  }
  void NormalFont1Click() override {
    Log("NormalFont1Click");
    state.FontSize = 2;
  }
  void MediumFont1Click() override {
    Log("MediumFont1Click");
    state.FontSize = 3;
  }
  void LargeFont1Click() override {
    Log("LargeFont1Click");
    state.FontSize = 4;
  }
  void StorePortKind(int32_t v) override {
    Log("StorePortKind", v);
    state.PortKind = v;
  }
  void StorePortName(const PortNameBytes& n) override {
    Log("StorePortName");
    state.PortName = n;
  }
  void Printer11Click() override { Log("Printer11Click"); }
  void None1Click() override { Log("None1Click"); }
  void OpenNamedComPort(std::string_view name) override {
    Log("OpenNamedComPort(" + std::string(name) + ")");
  }
  void SetTimelineTop(int32_t v) override {
    Log("SetTimelineTop", v);
    state.TimelineTop = v;
  }
  void SetTimelineLeft(int32_t v) override {
    Log("SetTimelineLeft", v);
    state.TimelineLeft = v;
  }
  void SetTimelineHeight(int32_t v) override {
    Log("SetTimelineHeight", v);
    state.TimelineHeight = v;
  }
  void SetTimelineWidth(int32_t v) override {
    Log("SetTimelineWidth", v);
    state.TimelineWidth = v;
  }
  void SetMainTop(int32_t v) override {
    Log("SetMainTop", v);
    state.MainTop = v;
  }
  void SetMainLeft(int32_t v) override {
    Log("SetMainLeft", v);
    state.MainLeft = v;
  }
  void StoreCoarseGain(int32_t v) override {
    Log("StoreCoarseGain", v);
    state.CoarseGain = v;
  }
  void Rx01BtnClick() override {
    Log("Rx01BtnClick");
    state.CoarseGain = 1;
  }
  void Rx1BtnClick() override {
    Log("Rx1BtnClick");
    state.CoarseGain = 2;
  }
  void Rx10BtnClick() override {
    Log("Rx10BtnClick");
    state.CoarseGain = 3;
  }
  void Rx001BtnClick() override {
    Log("Rx001BtnClick");
    state.CoarseGain = 4;
  }
  void StoreThresholdType(int32_t v) override {
    Log("StoreThresholdType", v);
    state.ThresholdType = v;
  }
  void Normal2Click() override {
    Log("Normal2Click");
    state.ThresholdType = 0;
  }
  void Noisy2Click() override {
    Log("Noisy2Click");
    state.ThresholdType = 1;
  }
  void Manual3Click() override {
    Log("Manual3Click");
    state.ThresholdType = 2;
  }
  void Auto4Click() override {
    Log("Auto4Click");
    state.ThresholdType = 3;
  }
  void SetBlankingFlag(bool on) override {
    Log("SetBlankingFlag", on);
    blanking = on;
  }
  void BlankBtnClick() override {
    Log("BlankBtnClick");
    blanking = !blanking;
    state.Blanking = blanking ? 1 : 0;
  }
  void FilterOn1Click() override {
    Log("FilterOn1Click");
    state.NoiseFilter = 3;
  }
  void FilterOff1Click() override {
    Log("FilterOff1Click");
    state.NoiseFilter = 0;
  }
  void SetCoarseGainTrackBar(int32_t v) override {
    Log("SetCoarseGainTrackBar", v);
    state.DisplayGain = std::clamp(v, 1, 20);
  }
  void CoarseGainTrackBarChange() override { Log("CoarseGainTrackBarChange"); }
  void Fade_OnClick() override {
    Log("Fade_OnClick");
    state.FadeControl = 1;
  }
  void Fade_OffClick() override {
    Log("Fade_OffClick");
    state.FadeControl = 0;
  }
  void StoreInputChannel(int32_t v) override {
    Log("StoreInputChannel", v);
    state.InputChannel = v;
  }
  void MicInputClick() override {
    Log("MicInputClick");
    state.InputChannel = 1;
  }
  void LeftInputClick() override {
    Log("LeftInputClick");
    state.InputChannel = 2;
  }
  void RightInputClick() override {
    Log("RightInputClick");
    state.InputChannel = 3;
  }
  void Normal3Click() override {
    Log("Normal3Click");
    state.KeyPolarity = 1;
  }
  void Invert2Click() override {
    Log("Invert2Click");
    state.KeyPolarity = 2;
  }
  void ProsignEnableClick() override {
    Log("ProsignEnableClick");
    state.Prosigns = 1;
  }
  void ProsignDisableClick() override {
    Log("ProsignDisableClick");
    state.Prosigns = 0;
  }
  void SetSquelch(bool on) override {
    Log("SetSquelch", on);
    state.Squelch = on ? 1 : 0;
  }
  void EnableEnglishClick() override {
    Log("EnableEnglishClick");
    state.NonEnglish = 1;
  }
  void DisableEnglishClick() override {
    Log("DisableEnglishClick");
    state.NonEnglish = 0;
  }
  void SideToneOnClick() override {
    Log("SideToneOnClick");
    state.SideTone = 1;
  }
  void SideToneOFFClick() override {
    Log("SideToneOFFClick");
    state.SideTone = 0;
  }
  void On1Click() override {
    Log("On1Click");
    state.StayOnTop = 1;
  }
  void Off2Click() override {
    Log("Off2Click");
    state.StayOnTop = 0;
  }
  void SetThresholdBar2(int32_t v) override {
    Log("SetThresholdBar2", v);
    state.ManualThreshold = 250000 - 1000 * std::clamp(v, 0, 250);
  }
  void ThresholdBar2Change() override { Log("ThresholdBar2Change"); }
  void MsgsONClick() override {
    Log("MsgsONClick");
    state.Messaging = 1;
  }
  void MsgsOFFClick() override {
    Log("MsgsOFFClick");
    state.Messaging = 0;
  }
  void ShowTimeline(int32_t top, int32_t left, int32_t height, int32_t width) override {
    Log("ShowTimeline(" + std::to_string(top) + "," + std::to_string(left) + "," +
        std::to_string(height) + "," + std::to_string(width) + ")");
    timelineShown = true, state.TimelineShown = 1;
  }
  void HideTimeline() override {
    Log("HideTimeline");
    timelineShown = false;
    state.TimelineShown = 0;
  }
  void StoreInputDevice(int32_t v) override {
    Log("StoreInputDevice", v);
    state.InputDevice = v;
  }
  void SetComPortSpinBtn(int32_t v) override {
    Log("SetComPortSpinBtn", v);
    state.ComPortNumber = v;
  }
  void SetAfcStartSpinBtn(int32_t v) override {
    Log("SetAfcStartSpinBtn", v);
    state.AfcStartFrequency = std::clamp(v, 100, 1500);
  }
  void SetMarkerFrequency(int32_t v) override {
    Log("SetMarkerFrequency", v);
    markerHz = v;
  }
  void ShowMkrLabel(int32_t v) override {
    Log("ShowMkrLabel", v);
    mkrLabel = v;
  }
  void Waterfall2Click() override {
    Log("Waterfall2Click");
    state.DisplayType = 1;
  }
  void Spectrum1Click() override {
    Log("Spectrum1Click");
    state.DisplayType = 0;
  }
  void StoreReserved(uint8_t v) override {
    Log("StoreReserved", v);
    state.Reserved = v;
  }
  void SerialPort1Click() override {
    Log("SerialPort1Click");
    state.OutputDevice = 1;
  }
  void SoundCard1Click() override {
    Log("SoundCard1Click");
    state.OutputDevice = 0;
  }
  void StoreToneFrequency(float hz) override {
    Log("StoreToneFrequency");
    state.ToneFrequency = hz;
  }
  void Freq1Click() override {
    Log("Freq1Click");
    state.ToneFrequency = 600.0f;
  }
  void Freq2Click() override {
    Log("Freq2Click");
    state.ToneFrequency = 750.0f;
  }
  void Freq3Click() override {
    Log("Freq3Click");
    state.ToneFrequency = 1000.0f;
  }
  void Squarewave1Click() override {
    Log("Squarewave1Click");
    state.ToneWaveform = 1;
  }
  void Sinewave1Click() override {
    Log("Sinewave1Click");
    state.ToneWaveform = 0;
  }
  void SetXmitUpDn(int16_t v) override {
    Log("SetXmitUpDn", v);
    state.ContestSerial = std::clamp<int32_t>(v, 1, 10000);
  }
  void ContestWindowClick() override {
    Log("ContestWindowClick");
    state.TransmitWindow = 1;
  }
  void F10ScratchPadClick() override {
    Log("F10ScratchPadClick");
    state.TransmitWindow = 0;
  }
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

}  // namespace kestrix::testing
