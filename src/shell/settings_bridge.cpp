#include "shell/settings_bridge.h"

#include <QGuiApplication>
#include <QScreen>
#include <QSignalBlocker>
#include <QSpinBox>
#include <iostream>

#include "display/timeline_window.h"
#include "shell/afc_start_dialog.h"
#include "shell/keying_panel.h"
#include "shell/main_window.h"
#include "shell/memories_panel.h"
#include "shell/receive_side.h"
#include "shell/tone_menu.h"
#include "shell/ui_helpers.h"
#include "shell/up_down.h"
#include "shell/user_files.h"
#include "shell/window_placement.h"

namespace kestrix::shell {

namespace {

// A bar moved by the loader: the position is set quietly (the bar clamps it) and the
// caller runs the bar's change handler itself, so it runs exactly once even when the
// position does not change.
template <typename Bar>
void SetQuietly(Bar* bar, int32_t position) {
  const QSignalBlocker quiet(bar);
  bar->setValue(position);
}

// Enough of the window must lie on some screen to grab it by its title bar (pixels).
constexpr int kMinimumOnScreen = 48;

void KeepOnScreen(QWidget& window) {
  const QRect frame = window.frameGeometry();
  for (const QScreen* screen : QGuiApplication::screens()) {
    const QRect common = screen->availableGeometry() & frame;
    if (common.width() >= kMinimumOnScreen && common.height() >= kMinimumOnScreen) return;
  }
  // Stored for a screen that is no longer there: centre on the primary one.
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect desk = screen->availableGeometry();
    window.move(desk.center() - QPoint(frame.width() / 2, frame.height() / 2));
  }
}

QRect AvailableArea(const QWidget& window) {
  const QScreen* screen = window.screen() ? window.screen() : QGuiApplication::primaryScreen();
  return screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
}

PlacementRect ToPlacement(const QRect& r) {
  return {r.x(), r.y(), r.width(), r.height()};
}

// The main window centred on its screen (fields 40/41 holding kAutomaticPosition).
QPoint CentredPosition(const QWidget& window) {
  const QSize size = window.frameGeometry().size();
  const PlacementPoint p =
      CentredOn(ToPlacement(AvailableArea(window)), size.width(), size.height());
  return {p.left, p.top};
}

bool TimelinePlacedAutomatically(MainWindow& w) {
  const TimelineGeometry& g = w.Timeline().Geometry;
  return g.Top == kAutomaticPosition || g.Left == kAutomaticPosition;
}

// A timeline window left to the program opens where it covers neither the main window's
// menu nor its display; its size stays the stored one.
void PlaceTimelineIfAutomatic(MainWindow& w) {
  if (!TimelinePlacedAutomatically(w)) return;
  TimelineWindow& timeline = w.Timeline();
  const QRect frame = w.frameGeometry();
  // From the top of the frame down to the tuning bar under the display.
  const QWidget* bar = w.ReceiveControls().FrequencyBar;
  const int displayBottom = w.geometry().y() + bar->mapTo(&w, QPoint(0, bar->height())).y();
  const PlacementRect keepClear{frame.x(), frame.y(), frame.width(), displayBottom - frame.y()};
  // The timeline gets a frame like the main window's once it is shown.
  const QSize decoration = frame.size() - w.geometry().size();
  const QSize stored(timeline.Geometry.Width, timeline.Geometry.Height);
  const QSize size = stored.expandedTo(timeline.minimumSize()) + decoration;
  const PlacementPoint p = TimelineBeside(ToPlacement(AvailableArea(w)), ToPlacement(frame),
                                          keepClear, size.width(), size.height());
  timeline.Geometry.Top = p.top;
  timeline.Geometry.Left = p.left;
  timeline.ApplyGeometry();
}

}  // namespace

SettingsRecord SettingsBridge::CurrentSettings() {
  const Receiver& rx = w_.Rx();
  const ReceiveOptions& o = rx.Options;
  const TransmitState& tx = w_.Tx();
  const ReceivePanel& rp = w_.ReceiveControls();
  const TransmitPanel& tp = w_.TransmitControls();
  const TimelineWindow& timeline = w_.Timeline();

  SettingsRecord r;
  r.PrinterPortAddress = tx.ParallelPortSetting;
  r.SignalGainBar = rp.SignalGainBar->value();
  r.SpeedTrackBar = tp.SpeedTrackBar->value();
  r.ToneVolume = tp.ToneVolume->value();
  r.ToneFreqBar2 = tx.SerialToneNote;
  r.FrequencyBar = rp.FrequencyBar->value();
  for (int n = 1; n <= kStoredSendBuffers; ++n) r.SendBuffer(n) = tx.SendBuffers[n];
  r.LetterCase = static_cast<int32_t>(o.Case);
  r.FontStyle = w_.Receive().Style().FontStyle;
  r.ReceiveSpeed = static_cast<int32_t>(o.Speed);
  r.WordSpaces = o.WordSpaces;
  r.SpaceTime = static_cast<int32_t>(o.Spacing);
  r.AfcMode = static_cast<int32_t>(rx.Tone.Mode);
  r.FontSize = w_.Receive().Style().FontSize;
  r.PortKind = tx.PortKind;
  r.PortName = tx.PortName;
  r.TimelineTop = timeline.Geometry.Top;
  r.TimelineLeft = timeline.Geometry.Left;
  r.TimelineHeight = timeline.Geometry.Height;
  r.TimelineWidth = timeline.Geometry.Width;
  r.MainTop = w_.y();
  r.MainLeft = w_.x();
  r.CoarseGain = rx.Gain.CoarseButton;
  r.ThresholdType = static_cast<int32_t>(o.Threshold);
  r.Blanking = o.BlankingOn ? 1 : 0;
  r.NoiseFilter = o.NoiseFilter;
  r.DisplayGain = rp.CoarseGainTrackBar->value();
  r.FadeControl = o.FadeControlOn ? 1 : 0;
  r.InputChannel = static_cast<int32_t>(rx.Capture.Channel);
  r.KeyPolarity = tx.KeyPolarity;
  r.Prosigns = static_cast<uint8_t>(o.Prosigns);
  r.Squelch = o.SquelchOn ? 1 : 0;
  r.NonEnglish = static_cast<uint8_t>(o.NonEnglish);
  r.SideTone = tx.SideToneOn;
  r.StayOnTop = w_.StaysOnTop() ? 1 : 0;
  r.ManualThreshold = o.ManualThreshold();
  r.Messaging = tx.MessagingOn;
  r.TimelineShown = timeline.Shown ? 1 : 0;
  r.InputDevice = rx.Capture.InputDevice;
  r.ComPortNumber = tx.ComPortNumber;
  r.AfcStartFrequency = rx.Tone.AfcStartFrequency;
  r.WordSpaces2 = o.WordSpaces;
  r.DisplayType = static_cast<int32_t>(rx.Display);
  r.Reserved = w_.Settings().Reserved;
  r.OutputDevice = tx.OutputDevice;
  r.ToneFrequency = tx.ToneFrequency;
  r.ToneWaveform = tx.ToneWaveform;
  r.ContestSerial = tx.ContestSerial;
  r.TransmitWindow = tx.TransmitWindow;
  r.DotRatio = tx.DotRatio;
  r.DashRatio = tx.DashRatio;
  r.CharRatio = tx.CharRatio;
  r.WordRatio = tx.WordRatio;
  return r;
}

void SettingsBridge::RaiseForceModeSetup() {
  w_.Receive().Controller().ForceModeSetup();
}
void SettingsBridge::RaiseAutoStartPending() {
  w_.Loop().AutoStartPending.store(1, std::memory_order_relaxed);
}

void SettingsBridge::StorePrinterPortAddress(int32_t address) {
  w_.Tx().ParallelPortSetting = address;
}

void SettingsBridge::SetSignalGainBar(int32_t position) {
  SetQuietly(w_.ReceiveControls().SignalGainBar, position);
  w_.Receive().SignalGainBarChange();
}

void SettingsBridge::SetSpeedTrackBar(int32_t position) {
  const TransmitPanel& tp = w_.TransmitControls();
  SetQuietly(tp.SpeedTrackBar, position);
  // The speed controls follow the bar's clamped position; SpeedTrackBarChange sets the
  // element timing's speed and both read-outs.
  tp.XmitSpeedUpDn->SetPosition(tp.SpeedTrackBar->value());
  w_.Keying().SpeedTrackBarChange();
}

void SettingsBridge::SetToneVolume(int32_t position) {
  w_.TransmitControls().ToneVolume->setValue(position);
}

void SettingsBridge::SetToneFreqBar2(int32_t position) {
  // The serial-port tone dialog's bar runs 50..100; its position is the side-tone note.
  w_.Tone().SetToneFreqBar2(position);
}

void SettingsBridge::SetFrequencyBar(int32_t position) {
  SetQuietly(w_.ReceiveControls().FrequencyBar, position);
  w_.Receive().FrequencyBarChange();
}

void SettingsBridge::SetSendBuffer(int n, const SendBufferBytes& bytes) {
  w_.Tx().SendBuffers[static_cast<size_t>(n)] = bytes;
}

void SettingsBridge::SetScratchPadText(std::string_view text) {
  w_.TransmitControls().ScatchPadMemo->setText(FromCp1252(text));
}
void SettingsBridge::SetRemoteCallText(std::string_view text) {
  w_.TransmitControls().RemoteCallMemo->setText(FromCp1252(text));
}
void SettingsBridge::SetMyCallText(std::string_view text) {
  w_.TransmitControls().MyCallMemo->setText(FromCp1252(text));
}

void SettingsBridge::CopyTextToSendBuffer(int n, std::string_view text) {
  CopyFieldText(w_.Tx().SendBuffers[static_cast<size_t>(n)], text);
}

void SettingsBridge::Upper1Click() {
  w_.Receive().Upper1Click();
}
void SettingsBridge::Lower1Click() {
  w_.Receive().Lower1Click();
}
void SettingsBridge::Bold1Click() {
  w_.Receive().Bold1Click();
}
void SettingsBridge::Normal1Click() {
  w_.Receive().Normal1Click();
}
void SettingsBridge::Auto3Click() {
  w_.Receive().Auto3Click();
}
void SettingsBridge::N25WPM1Click() {
  w_.Receive().N25WPM1Click();
}
void SettingsBridge::N35wpm1Click() {
  w_.Receive().N35wpm1Click();
}
void SettingsBridge::N50wpm1Click() {
  w_.Receive().N50wpm1Click();
}
void SettingsBridge::N50wpm2Click() {
  w_.Receive().N50wpm2Click();
}
void SettingsBridge::SpacesOnClick() {
  w_.Receive().SpacesOnClick();
}
void SettingsBridge::SpacesOffClick() {
  w_.Receive().SpacesOffClick();
}

// An unlisted space time, AFC mode or font size is kept as stored and written back; the
// decoder treats an unknown space time as medium and the AFC keeps its search settings.
void SettingsBridge::StoreSpaceTime(int32_t value) {
  w_.Rx().Options.Spacing = static_cast<SpaceTime>(value);
}
void SettingsBridge::Short1Click() {
  w_.Receive().Short1Click();
}
void SettingsBridge::Medium2Click() {
  w_.Receive().Medium2Click();
}
void SettingsBridge::Long1Click() {
  w_.Receive().Long1Click();
}

void SettingsBridge::StoreAfcMode(int32_t value) {
  w_.Rx().Tone.Mode = static_cast<AfcMode>(value);
}
void SettingsBridge::Off1Click() {
  w_.Receive().Off1Click();
}
void SettingsBridge::Narrow1Click() {
  w_.Receive().Narrow1Click();
}
void SettingsBridge::Medium1Click() {
  w_.Receive().Medium1Click();
}
void SettingsBridge::Wide1Click() {
  w_.Receive().Wide1Click();
}

void SettingsBridge::StoreFontSize(int32_t value) {
  w_.Receive().Style().FontSize = value;
}
void SettingsBridge::SmallFont1Click() {
  w_.Receive().SmallFont1Click();
}
void SettingsBridge::NormalFont1Click() {
  w_.Receive().NormalFont1Click();
}
void SettingsBridge::MediumFont1Click() {
  w_.Receive().MediumFont1Click();
}
void SettingsBridge::LargeFont1Click() {
  w_.Receive().LargeFont1Click();
}

void SettingsBridge::StorePortKind(int32_t kind) {
  w_.Tx().PortKind = kind;
}
void SettingsBridge::StorePortName(const PortNameBytes& name) {
  w_.Tx().PortName = name;
}
void SettingsBridge::Printer11Click() {
  w_.Keying().Printer11Click();
}
void SettingsBridge::None1Click() {
  w_.Keying().None1Click();
}
void SettingsBridge::OpenNamedComPort(std::string_view name) {
  // "Port Number" is checked and the stored name (a COM name or a device path) opened.
  w_.Keying().OpenNamedComPort(std::string(name));
}

void SettingsBridge::SetTimelineTop(int32_t top) {
  w_.Timeline().Geometry.Top = top;
  if (top != kAutomaticPosition) w_.Timeline().ApplyGeometry();
}
void SettingsBridge::SetTimelineLeft(int32_t left) {
  w_.Timeline().Geometry.Left = left;
  if (left != kAutomaticPosition) w_.Timeline().ApplyGeometry();
}
void SettingsBridge::SetTimelineHeight(int32_t height) {
  w_.Timeline().Geometry.Height = height;
  if (!TimelinePlacedAutomatically(w_)) w_.Timeline().ApplyGeometry();
}
void SettingsBridge::SetTimelineWidth(int32_t width) {
  w_.Timeline().Geometry.Width = width;
  if (!TimelinePlacedAutomatically(w_)) w_.Timeline().ApplyGeometry();
}

void SettingsBridge::SetMainTop(int32_t top) {
  w_.move(w_.x(), top == kAutomaticPosition ? CentredPosition(w_).y() : top);
}
void SettingsBridge::SetMainLeft(int32_t left) {
  w_.move(left == kAutomaticPosition ? CentredPosition(w_).x() : left, w_.y());
}

void SettingsBridge::StoreCoarseGain(int32_t value) {
  w_.Rx().Gain.CoarseButton = value;
}
void SettingsBridge::Rx01BtnClick() {
  w_.Receive().Rx01BtnClick();
}
void SettingsBridge::Rx1BtnClick() {
  w_.Receive().Rx1BtnClick();
}
void SettingsBridge::Rx10BtnClick() {
  w_.Receive().Rx10BtnClick();
}
void SettingsBridge::Rx001BtnClick() {
  w_.Receive().Rx001BtnClick();
}

void SettingsBridge::StoreThresholdType(int32_t value) {
  // 4 is "Quiet"; it and any unlisted value stay with no check mark moved.
  w_.Rx().Options.Threshold = static_cast<ThresholdMode>(value);
}
void SettingsBridge::Normal2Click() {
  w_.Receive().Normal2Click();
}
void SettingsBridge::Noisy2Click() {
  w_.Receive().Noisy2Click();
}
void SettingsBridge::Manual3Click() {
  w_.Receive().Manual3Click();
}
void SettingsBridge::Auto4Click() {
  w_.Receive().Auto4Click();
}

void SettingsBridge::SetBlankingFlag(bool on) {
  w_.Rx().Options.BlankingOn = on;
}
void SettingsBridge::BlankBtnClick() {
  w_.Receive().BlankBtnClick();
}
void SettingsBridge::FilterOn1Click() {
  w_.Receive().FilterOn1Click();
}
void SettingsBridge::FilterOff1Click() {
  w_.Receive().FilterOff1Click();
}

void SettingsBridge::SetCoarseGainTrackBar(int32_t position) {
  SetQuietly(w_.ReceiveControls().CoarseGainTrackBar, position);
}
void SettingsBridge::CoarseGainTrackBarChange() {
  w_.Receive().CoarseGainTrackBarChange();
}

void SettingsBridge::Fade_OnClick() {
  w_.Receive().Fade_OnClick();
}
void SettingsBridge::Fade_OffClick() {
  w_.Receive().Fade_OffClick();
}

void SettingsBridge::StoreInputChannel(int32_t value) {
  // Only a channel the capture knows is kept: any other number would make the sample
  // conversion read every other sample of a mono buffer. The handler below sets the
  // format for 1..3; other numbers leave the current channel, which is then saved.
  if (value >= 1 && value <= 3) w_.Rx().Capture.Channel = static_cast<ChannelMode>(value);
}
void SettingsBridge::MicInputClick() {
  w_.Receive().MicInputClick();
}
void SettingsBridge::LeftInputClick() {
  w_.Receive().LeftInputClick();
}
void SettingsBridge::RightInputClick() {
  w_.Receive().RightInputClick();
}

void SettingsBridge::Normal3Click() {
  w_.Keying().Normal3Click();
}
void SettingsBridge::Invert2Click() {
  w_.Keying().Invert2Click();
}
void SettingsBridge::ProsignEnableClick() {
  w_.Receive().ProsignEnableClick();
}
void SettingsBridge::ProsignDisableClick() {
  w_.Receive().ProsignDisableClick();
}

void SettingsBridge::SetSquelch(bool on) {
  w_.Receive().SetSquelch(on);
}

void SettingsBridge::EnableEnglishClick() {
  w_.Receive().EnableEnglishClick();
}
void SettingsBridge::DisableEnglishClick() {
  w_.Receive().DisableEnglishClick();
}
void SettingsBridge::SideToneOnClick() {
  w_.Keying().SideToneOnClick();
}
void SettingsBridge::SideToneOFFClick() {
  w_.Keying().SideToneOFFClick();
}
void SettingsBridge::On1Click() {
  w_.On1Click();
}
void SettingsBridge::Off2Click() {
  w_.Off2Click();
}

void SettingsBridge::SetThresholdBar2(int32_t position) {
  SetQuietly(w_.ReceiveControls().ThresholdBar2, position);
}
void SettingsBridge::ThresholdBar2Change() {
  w_.Receive().ThresholdBar2Change();
}

void SettingsBridge::MsgsONClick() {
  w_.Receive().MsgsONClick();
}
void SettingsBridge::MsgsOFFClick() {
  w_.Receive().MsgsOFFClick();
}

void SettingsBridge::ShowTimeline(int32_t top, int32_t left, int32_t height, int32_t width) {
  TimelineWindow& timeline = w_.Timeline();
  timeline.Geometry = TimelineGeometry{top, left, height, width};
  PlaceTimelineIfAutomatic(w_);
  timeline.Enable();
}
void SettingsBridge::HideTimeline() {
  w_.Timeline().Shown = false;
  w_.Timeline().hide();
}

void SettingsBridge::StoreInputDevice(int32_t device) {
  w_.Rx().Capture.InputDevice = device;
}

void SettingsBridge::SetComPortSpinBtn(int32_t value) {
  w_.Keying().SetComPortSpinBtn(value);
}

void SettingsBridge::SetAfcStartSpinBtn(int32_t hz) {
  w_.AfcStartForm().AFCStartSpinBtn()->setValue(hz);
  w_.Rx().Tone.AfcStartFrequency = hz;
}
void SettingsBridge::SetMarkerFrequency(int32_t hz) {
  w_.Rx().Tone.MarkerHz = hz;
}
void SettingsBridge::ShowMkrLabel(int32_t value) {
  w_.ReceiveControls().MkrLabel->setText(QString::number(value));
}

void SettingsBridge::Waterfall2Click() {
  w_.Receive().Waterfall2Click();
}
void SettingsBridge::Spectrum1Click() {
  w_.Receive().Spectrum1Click();
}
void SettingsBridge::StoreReserved(uint8_t value) {
  w_.Settings().Reserved = value;
}
void SettingsBridge::SerialPort1Click() {
  w_.Keying().SerialPort1Click();
}
void SettingsBridge::SoundCard1Click() {
  w_.Keying().SoundCard1Click();
}
void SettingsBridge::StoreToneFrequency(float hz) {
  w_.Tone().StoreToneFrequency(hz);
}
void SettingsBridge::Freq1Click() {
  w_.Tone().Freq1Click();
}
void SettingsBridge::Freq2Click() {
  w_.Tone().Freq2Click();
}
void SettingsBridge::Freq3Click() {
  w_.Tone().Freq3Click();
}
void SettingsBridge::Squarewave1Click() {
  w_.Tone().Squarewave1Click();
}
void SettingsBridge::Sinewave1Click() {
  w_.Tone().Sinewave1Click();
}

void SettingsBridge::SetXmitUpDn(int16_t position) {
  const TransmitPanel& tp = w_.TransmitControls();
  tp.XmitUpDn->SetPosition(position);  // clamps to 1..10000
  w_.Tx().ContestSerial = tp.XmitUpDn->Position();
  tp.XmitCntrMemo->setText(QString::number(tp.XmitUpDn->Position()));
}

void SettingsBridge::ContestWindowClick() {
  w_.Memories().ContestWindowClick();
}
void SettingsBridge::F10ScratchPadClick() {
  w_.Memories().F10ScratchPadClick();
}

void SettingsBridge::SetTimingRatio(TimingRatio which, float percent, int32_t upDownPosition,
                                    const std::string& memoText) {
  w_.Keying().SetTimingRatio(which, percent, upDownPosition, memoText);
}

void LoadWindowSettings(MainWindow& window, const std::string& path) {
  SettingsBridge bridge(window);
  const SettingsLoadResult result = LoadSettings(path, bridge);
  if (!result.message.empty()) std::cerr << "kestrix: " << result.message << "\n";
  if (result.outcome == SettingsLoadResult::Outcome::kLoaded) {
    KeepOnScreen(window);
    PlaceTimelineIfAutomatic(window);
  }
}

void SaveWindowSettings(MainWindow& window, const std::string& path) {
  if (path.empty()) return;
  SettingsBridge bridge(window);
  std::string error;
  if (!SaveSettings(path, bridge.CurrentSettings(), error)) {
    std::cerr << "kestrix: " << error << "; the settings of this session are not kept\n";
  }
}

}  // namespace kestrix::shell
