// The settings file and the main window: a settings load applies each stored value
// through the window's own handlers (the ones its menus, buttons and bars run), and a save
// collects the current values from the window's controls, the receiver and the transmit
// state. GUI thread only; called from Timer1's first tick and from the window's
// destruction.
#pragma once

#include <string>

#include "shell/settings_file.h"

namespace kestrix::shell {

class MainWindow;

// The settings file's values that the window itself keeps.
struct WindowSettings {
  uint8_t Reserved = 0;  // the reserved byte, written back as read
};

// The window as the settings loader sees it. Values arrive raw; the window's bars, spin
// boxes and up-downs clamp them to their ranges as they are set.
class SettingsBridge final : public SettingsHandlers {
 public:
  explicit SettingsBridge(MainWindow& window) : w_(window) {}

  SettingsRecord CurrentSettings() override;
  void RaiseForceModeSetup() override;
  void RaiseAutoStartPending() override;

  void StorePrinterPortAddress(int32_t address) override;
  void SetSignalGainBar(int32_t position) override;
  void SetSpeedTrackBar(int32_t position) override;
  void SetToneVolume(int32_t position) override;
  void SetToneFreqBar2(int32_t position) override;
  void SetFrequencyBar(int32_t position) override;
  void SetSendBuffer(int n, const SendBufferBytes& bytes) override;
  void SetScratchPadText(std::string_view text) override;
  void SetRemoteCallText(std::string_view text) override;
  void SetMyCallText(std::string_view text) override;
  void CopyTextToSendBuffer(int n, std::string_view text) override;
  void Upper1Click() override;
  void Lower1Click() override;
  void Bold1Click() override;
  void Normal1Click() override;
  void Auto3Click() override;
  void N25WPM1Click() override;
  void N35wpm1Click() override;
  void N50wpm1Click() override;
  void N50wpm2Click() override;
  void SpacesOnClick() override;
  void SpacesOffClick() override;
  void StoreSpaceTime(int32_t value) override;
  void Short1Click() override;
  void Medium2Click() override;
  void Long1Click() override;
  void StoreAfcMode(int32_t value) override;
  void Off1Click() override;
  void Narrow1Click() override;
  void Medium1Click() override;
  void Wide1Click() override;
  void StoreFontSize(int32_t value) override;
  void SmallFont1Click() override;
  void NormalFont1Click() override;
  void MediumFont1Click() override;
  void LargeFont1Click() override;
  void StorePortKind(int32_t kind) override;
  void StorePortName(const PortNameBytes& name) override;
  void Printer11Click() override;
  void None1Click() override;
  void OpenNamedComPort(std::string_view name) override;
  void SetTimelineTop(int32_t top) override;
  void SetTimelineLeft(int32_t left) override;
  void SetTimelineHeight(int32_t height) override;
  void SetTimelineWidth(int32_t width) override;
  void SetMainTop(int32_t top) override;
  void SetMainLeft(int32_t left) override;
  void StoreCoarseGain(int32_t value) override;
  void Rx01BtnClick() override;
  void Rx1BtnClick() override;
  void Rx10BtnClick() override;
  void Rx001BtnClick() override;
  void StoreThresholdType(int32_t value) override;
  void Normal2Click() override;
  void Noisy2Click() override;
  void Manual3Click() override;
  void Auto4Click() override;
  void SetBlankingFlag(bool on) override;
  void BlankBtnClick() override;
  void FilterOn1Click() override;
  void FilterOff1Click() override;
  void SetCoarseGainTrackBar(int32_t position) override;
  void CoarseGainTrackBarChange() override;
  void Fade_OnClick() override;
  void Fade_OffClick() override;
  void StoreInputChannel(int32_t value) override;
  void MicInputClick() override;
  void LeftInputClick() override;
  void RightInputClick() override;
  void Normal3Click() override;
  void Invert2Click() override;
  void ProsignEnableClick() override;
  void ProsignDisableClick() override;
  void SetSquelch(bool on) override;
  void EnableEnglishClick() override;
  void DisableEnglishClick() override;
  void SideToneOnClick() override;
  void SideToneOFFClick() override;
  void On1Click() override;
  void Off2Click() override;
  void SetThresholdBar2(int32_t position) override;
  void ThresholdBar2Change() override;
  void MsgsONClick() override;
  void MsgsOFFClick() override;
  void ShowTimeline(int32_t top, int32_t left, int32_t height, int32_t width) override;
  void HideTimeline() override;
  void StoreInputDevice(int32_t device) override;
  void SetComPortSpinBtn(int32_t value) override;
  void SetAfcStartSpinBtn(int32_t hz) override;
  void SetMarkerFrequency(int32_t hz) override;
  void ShowMkrLabel(int32_t value) override;
  void Waterfall2Click() override;
  void Spectrum1Click() override;
  void StoreReserved(uint8_t value) override;
  void SerialPort1Click() override;
  void SoundCard1Click() override;
  void StoreToneFrequency(float hz) override;
  void Freq1Click() override;
  void Freq2Click() override;
  void Freq3Click() override;
  void Squarewave1Click() override;
  void Sinewave1Click() override;
  void SetXmitUpDn(int16_t position) override;
  void ContestWindowClick() override;
  void F10ScratchPadClick() override;
  void SetTimingRatio(TimingRatio which, float percent, int32_t upDownPosition,
                      const std::string& memoText) override;

 private:
  MainWindow& w_;
};

// Timer1's load: reads `path` (nothing when empty) into the window, then makes sure the
// window is on a screen. Problems with the file are reported on standard error.
void LoadWindowSettings(MainWindow& window, const std::string& path);

// Destruction's save: the window's current settings to `path` (nothing when empty). A
// failure is reported on standard error; the file is then left as it was.
void SaveWindowSettings(MainWindow& window, const std::string& path);

}  // namespace kestrix::shell
