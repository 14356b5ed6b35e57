// The settings file and the main window: a settings load applies each stored value
// through the handlers of the part of the window it belongs to (the ones its menus,
// buttons and bars run), and a save collects the current values from the window's
// controls, the receiver and the transmit state. GUI thread only; called from Timer1's
// first tick and from the window's destruction.
#pragma once

#include <string>

#include "shell/settings_file.h"

namespace kestrix::shell {

class MainWindow;

// Each part of the window as the settings loader sees it: one small adapter per part,
// running that part's own handlers. Values arrive raw; the window's bars, spin boxes and
// up-downs clamp them to their ranges as they are set.
class WindowSettingsPart final : public SettingsWindowHandlers {
 public:
  explicit WindowSettingsPart(MainWindow& window) : w_(window) {}

  SettingsRecord CurrentSettings() override;
  void SetTimelineTop(int32_t top) override;
  void SetTimelineLeft(int32_t left) override;
  void SetTimelineHeight(int32_t height) override;
  void SetTimelineWidth(int32_t width) override;
  void SetMainTop(int32_t top) override;
  void SetMainLeft(int32_t left) override;
  void On1Click() override;
  void Off2Click() override;
  void ShowTimeline(int32_t top, int32_t left, int32_t height, int32_t width) override;
  void HideTimeline() override;
  void StoreReserved(uint8_t value) override { reserved_ = value; }

  uint8_t Reserved() const { return reserved_; }
  void SetReserved(uint8_t value) { reserved_ = value; }

 private:
  MainWindow& w_;
  uint8_t reserved_ = 0;  // the settings file's reserved byte, written back as read
};

class ReceiveSettingsPart final : public SettingsReceiveHandlers {
 public:
  explicit ReceiveSettingsPart(MainWindow& window) : w_(window) {}

  void RaiseForceModeSetup() override;
  void RaiseAutoStartPending() override;
  void SetSignalGainBar(int32_t position) override;
  void SetFrequencyBar(int32_t position) override;
  void Auto3Click() override;
  void N25WPM1Click() override;
  void N35wpm1Click() override;
  void N50wpm1Click() override;
  void N50wpm2Click() override;
  void StoreAfcMode(int32_t value) override;
  void Off1Click() override;
  void Narrow1Click() override;
  void Medium1Click() override;
  void Wide1Click() override;
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
  void SetSquelch(bool on) override;
  void SetThresholdBar2(int32_t position) override;
  void ThresholdBar2Change() override;
  void StoreInputDevice(int32_t device) override;
  void SetAfcStartSpinBtn(int32_t hz) override;
  void SetMarkerFrequency(int32_t hz) override;
  void ShowMkrLabel(int32_t value) override;
  void Waterfall2Click() override;
  void Spectrum1Click() override;

 private:
  MainWindow& w_;
};

class TextSettingsPart final : public SettingsTextHandlers {
 public:
  explicit TextSettingsPart(MainWindow& window) : w_(window) {}

  void Upper1Click() override;
  void Lower1Click() override;
  void Bold1Click() override;
  void Normal1Click() override;
  void SpacesOnClick() override;
  void SpacesOffClick() override;
  void StoreSpaceTime(int32_t value) override;
  void Short1Click() override;
  void Medium2Click() override;
  void Long1Click() override;
  void StoreFontSize(int32_t value) override;
  void SmallFont1Click() override;
  void NormalFont1Click() override;
  void MediumFont1Click() override;
  void LargeFont1Click() override;
  void ProsignEnableClick() override;
  void ProsignDisableClick() override;
  void EnableEnglishClick() override;
  void DisableEnglishClick() override;
  void MsgsONClick() override;
  void MsgsOFFClick() override;

 private:
  MainWindow& w_;
};

class KeyingSettingsPart final : public SettingsKeyingHandlers {
 public:
  explicit KeyingSettingsPart(MainWindow& window) : w_(window) {}

  void StorePrinterPortAddress(int32_t address) override;
  void SetSpeedTrackBar(int32_t position) override;
  void StorePortKind(int32_t kind) override;
  void StorePortName(const PortNameBytes& name) override;
  void Printer11Click() override;
  void None1Click() override;
  void OpenNamedComPort(std::string_view name) override;
  void Normal3Click() override;
  void Invert2Click() override;
  void SideToneOnClick() override;
  void SideToneOFFClick() override;
  void SetComPortSpinBtn(int32_t value) override;
  void SerialPort1Click() override;
  void SoundCard1Click() override;
  void SetTimingRatio(TimingRatio which, float percent, int32_t upDownPosition,
                      const std::string& memoText) override;

 private:
  MainWindow& w_;
};

class ToneSettingsPart final : public SettingsToneHandlers {
 public:
  explicit ToneSettingsPart(MainWindow& window) : w_(window) {}

  void SetToneVolume(int32_t position) override;
  void SetToneFreqBar2(int32_t position) override;
  void StoreToneFrequency(float hz) override;
  void Freq1Click() override;
  void Freq2Click() override;
  void Freq3Click() override;
  void Squarewave1Click() override;
  void Sinewave1Click() override;

 private:
  MainWindow& w_;
};

class MemorySettingsPart final : public SettingsMemoryHandlers {
 public:
  explicit MemorySettingsPart(MainWindow& window) : w_(window) {}

  void SetSendBuffer(int n, const SendBufferBytes& bytes) override;
  void SetScratchPadText(std::string_view text) override;
  void SetRemoteCallText(std::string_view text) override;
  void SetMyCallText(std::string_view text) override;
  void CopyTextToSendBuffer(int n, std::string_view text) override;
  void SetXmitUpDn(int16_t position) override;
  void ContestWindowClick() override;
  void F10ScratchPadClick() override;

 private:
  MainWindow& w_;
};

// The window's settings: its parts for the loader, the reserved byte it keeps, its load
// (Timer1's first tick) and its save (destruction).
class WindowSettings {
 public:
  explicit WindowSettings(MainWindow& window);

  SettingsTargets Parts() { return {window_, receive_, text_, keying_, tone_, memories_}; }
  // The values the window holds now, as the file stores them.
  SettingsRecord Current() { return window_.CurrentSettings(); }
  uint8_t Reserved() const { return window_.Reserved(); }
  void SetReserved(uint8_t value) { window_.SetReserved(value); }

  // Reads `path` (nothing when empty) into the window, then makes sure the window is on
  // a screen. Problems with the file are reported on standard error.
  void Load(const std::string& path);
  // The window's current settings to `path` (nothing when empty). A failure is reported
  // on standard error; the file is then left as it was.
  void Save(const std::string& path);

 private:
  MainWindow& w_;
  WindowSettingsPart window_;
  ReceiveSettingsPart receive_;
  TextSettingsPart text_;
  KeyingSettingsPart keying_;
  ToneSettingsPart tone_;
  MemorySettingsPart memories_;
};

}  // namespace kestrix::shell
