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

SettingsRecord WindowSettingsPart::CurrentSettings() {
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
  r.Reserved = reserved_;
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

void ReceiveSettingsPart::RaiseForceModeSetup() {
  w_.Receive().Controller().ForceModeSetup();
}
void ReceiveSettingsPart::RaiseAutoStartPending() {
  w_.Loop().AutoStartPending.store(1, std::memory_order_relaxed);
}

void KeyingSettingsPart::StorePrinterPortAddress(int32_t address) {
  w_.Tx().ParallelPortSetting = address;
}

void ReceiveSettingsPart::SetSignalGainBar(int32_t position) {
  SetQuietly(w_.ReceiveControls().SignalGainBar, position);
  w_.Receive().SignalGainBarChange();
}

void KeyingSettingsPart::SetSpeedTrackBar(int32_t position) {
  const TransmitPanel& tp = w_.TransmitControls();
  SetQuietly(tp.SpeedTrackBar, position);
  // The speed controls follow the bar's clamped position; SpeedTrackBarChange sets the
  // element timing's speed and both read-outs.
  tp.XmitSpeedUpDn->SetPosition(tp.SpeedTrackBar->value());
  w_.Keying().SpeedTrackBarChange();
}

void ToneSettingsPart::SetToneVolume(int32_t position) {
  w_.TransmitControls().ToneVolume->setValue(position);
}

void ToneSettingsPart::SetToneFreqBar2(int32_t position) {
  // The serial-port tone dialog's bar runs 50..100; its position is the side-tone note.
  w_.Tone().SetToneFreqBar2(position);
}

void ReceiveSettingsPart::SetFrequencyBar(int32_t position) {
  SetQuietly(w_.ReceiveControls().FrequencyBar, position);
  w_.Receive().FrequencyBarChange();
}

void MemorySettingsPart::SetSendBuffer(int n, const SendBufferBytes& bytes) {
  w_.Tx().SendBuffers[static_cast<size_t>(n)] = bytes;
}

void MemorySettingsPart::SetScratchPadText(std::string_view text) {
  w_.TransmitControls().ScatchPadMemo->setText(FromCp1252(text));
}
void MemorySettingsPart::SetRemoteCallText(std::string_view text) {
  w_.TransmitControls().RemoteCallMemo->setText(FromCp1252(text));
}
void MemorySettingsPart::SetMyCallText(std::string_view text) {
  w_.TransmitControls().MyCallMemo->setText(FromCp1252(text));
}

void MemorySettingsPart::CopyTextToSendBuffer(int n, std::string_view text) {
  CopyFieldText(w_.Tx().SendBuffers[static_cast<size_t>(n)], text);
}

void TextSettingsPart::Upper1Click() {
  w_.Receive().Upper1Click();
}
void TextSettingsPart::Lower1Click() {
  w_.Receive().Lower1Click();
}
void TextSettingsPart::Bold1Click() {
  w_.Receive().Bold1Click();
}
void TextSettingsPart::Normal1Click() {
  w_.Receive().Normal1Click();
}
void ReceiveSettingsPart::Auto3Click() {
  w_.Receive().Auto3Click();
}
void ReceiveSettingsPart::N25WPM1Click() {
  w_.Receive().N25WPM1Click();
}
void ReceiveSettingsPart::N35wpm1Click() {
  w_.Receive().N35wpm1Click();
}
void ReceiveSettingsPart::N50wpm1Click() {
  w_.Receive().N50wpm1Click();
}
void ReceiveSettingsPart::N50wpm2Click() {
  w_.Receive().N50wpm2Click();
}
void TextSettingsPart::SpacesOnClick() {
  w_.Receive().SpacesOnClick();
}
void TextSettingsPart::SpacesOffClick() {
  w_.Receive().SpacesOffClick();
}

// An unlisted space time, AFC mode or font size is kept as stored and written back; the
// decoder treats an unknown space time as medium and the AFC keeps its search settings.
void TextSettingsPart::StoreSpaceTime(int32_t value) {
  w_.Rx().Options.Spacing = static_cast<SpaceTime>(value);
}
void TextSettingsPart::Short1Click() {
  w_.Receive().Short1Click();
}
void TextSettingsPart::Medium2Click() {
  w_.Receive().Medium2Click();
}
void TextSettingsPart::Long1Click() {
  w_.Receive().Long1Click();
}

void ReceiveSettingsPart::StoreAfcMode(int32_t value) {
  w_.Rx().Tone.Mode = static_cast<AfcMode>(value);
}
void ReceiveSettingsPart::Off1Click() {
  w_.Receive().Off1Click();
}
void ReceiveSettingsPart::Narrow1Click() {
  w_.Receive().Narrow1Click();
}
void ReceiveSettingsPart::Medium1Click() {
  w_.Receive().Medium1Click();
}
void ReceiveSettingsPart::Wide1Click() {
  w_.Receive().Wide1Click();
}

void TextSettingsPart::StoreFontSize(int32_t value) {
  w_.Receive().Style().FontSize = value;
}
void TextSettingsPart::SmallFont1Click() {
  w_.Receive().SmallFont1Click();
}
void TextSettingsPart::NormalFont1Click() {
  w_.Receive().NormalFont1Click();
}
void TextSettingsPart::MediumFont1Click() {
  w_.Receive().MediumFont1Click();
}
void TextSettingsPart::LargeFont1Click() {
  w_.Receive().LargeFont1Click();
}

void KeyingSettingsPart::StorePortKind(int32_t kind) {
  w_.Tx().PortKind = kind;
}
void KeyingSettingsPart::StorePortName(const PortNameBytes& name) {
  w_.Tx().PortName = name;
}
void KeyingSettingsPart::Printer11Click() {
  w_.Keying().Printer11Click();
}
void KeyingSettingsPart::None1Click() {
  w_.Keying().None1Click();
}
void KeyingSettingsPart::OpenNamedComPort(std::string_view name) {
  // "Port Number" is checked and the stored name (a COM name or a device path) opened.
  w_.Keying().OpenNamedComPort(std::string(name));
}

void WindowSettingsPart::SetTimelineTop(int32_t top) {
  w_.Timeline().Geometry.Top = top;
  if (top != kAutomaticPosition) w_.Timeline().ApplyGeometry();
}
void WindowSettingsPart::SetTimelineLeft(int32_t left) {
  w_.Timeline().Geometry.Left = left;
  if (left != kAutomaticPosition) w_.Timeline().ApplyGeometry();
}
void WindowSettingsPart::SetTimelineHeight(int32_t height) {
  w_.Timeline().Geometry.Height = height;
  if (!TimelinePlacedAutomatically(w_)) w_.Timeline().ApplyGeometry();
}
void WindowSettingsPart::SetTimelineWidth(int32_t width) {
  w_.Timeline().Geometry.Width = width;
  if (!TimelinePlacedAutomatically(w_)) w_.Timeline().ApplyGeometry();
}

void WindowSettingsPart::SetMainTop(int32_t top) {
  w_.move(w_.x(), top == kAutomaticPosition ? CentredPosition(w_).y() : top);
}
void WindowSettingsPart::SetMainLeft(int32_t left) {
  w_.move(left == kAutomaticPosition ? CentredPosition(w_).x() : left, w_.y());
}

void ReceiveSettingsPart::StoreCoarseGain(int32_t value) {
  w_.Rx().Gain.CoarseButton = value;
}
void ReceiveSettingsPart::Rx01BtnClick() {
  w_.Receive().Rx01BtnClick();
}
void ReceiveSettingsPart::Rx1BtnClick() {
  w_.Receive().Rx1BtnClick();
}
void ReceiveSettingsPart::Rx10BtnClick() {
  w_.Receive().Rx10BtnClick();
}
void ReceiveSettingsPart::Rx001BtnClick() {
  w_.Receive().Rx001BtnClick();
}

void ReceiveSettingsPart::StoreThresholdType(int32_t value) {
  // 4 is "Quiet"; it and any unlisted value stay with no check mark moved.
  w_.Rx().Options.Threshold = static_cast<ThresholdMode>(value);
}
void ReceiveSettingsPart::Normal2Click() {
  w_.Receive().Normal2Click();
}
void ReceiveSettingsPart::Noisy2Click() {
  w_.Receive().Noisy2Click();
}
void ReceiveSettingsPart::Manual3Click() {
  w_.Receive().Manual3Click();
}
void ReceiveSettingsPart::Auto4Click() {
  w_.Receive().Auto4Click();
}

void ReceiveSettingsPart::SetBlankingFlag(bool on) {
  w_.Rx().Options.BlankingOn = on;
}
void ReceiveSettingsPart::BlankBtnClick() {
  w_.Receive().BlankBtnClick();
}
void ReceiveSettingsPart::FilterOn1Click() {
  w_.Receive().FilterOn1Click();
}
void ReceiveSettingsPart::FilterOff1Click() {
  w_.Receive().FilterOff1Click();
}

void ReceiveSettingsPart::SetCoarseGainTrackBar(int32_t position) {
  SetQuietly(w_.ReceiveControls().CoarseGainTrackBar, position);
}
void ReceiveSettingsPart::CoarseGainTrackBarChange() {
  w_.Receive().CoarseGainTrackBarChange();
}

void ReceiveSettingsPart::Fade_OnClick() {
  w_.Receive().Fade_OnClick();
}
void ReceiveSettingsPart::Fade_OffClick() {
  w_.Receive().Fade_OffClick();
}

void ReceiveSettingsPart::StoreInputChannel(int32_t value) {
  // Only a channel the capture knows is kept: any other number would make the sample
  // conversion read every other sample of a mono buffer. The handler below sets the
  // format for 1..3; other numbers leave the current channel, which is then saved.
  if (value >= 1 && value <= 3) w_.Rx().Capture.Channel = static_cast<ChannelMode>(value);
}
void ReceiveSettingsPart::MicInputClick() {
  w_.Receive().MicInputClick();
}
void ReceiveSettingsPart::LeftInputClick() {
  w_.Receive().LeftInputClick();
}
void ReceiveSettingsPart::RightInputClick() {
  w_.Receive().RightInputClick();
}

void KeyingSettingsPart::Normal3Click() {
  w_.Keying().Normal3Click();
}
void KeyingSettingsPart::Invert2Click() {
  w_.Keying().Invert2Click();
}
void TextSettingsPart::ProsignEnableClick() {
  w_.Receive().ProsignEnableClick();
}
void TextSettingsPart::ProsignDisableClick() {
  w_.Receive().ProsignDisableClick();
}

void ReceiveSettingsPart::SetSquelch(bool on) {
  w_.Receive().SetSquelch(on);
}

void TextSettingsPart::EnableEnglishClick() {
  w_.Receive().EnableEnglishClick();
}
void TextSettingsPart::DisableEnglishClick() {
  w_.Receive().DisableEnglishClick();
}
void KeyingSettingsPart::SideToneOnClick() {
  w_.Keying().SideToneOnClick();
}
void KeyingSettingsPart::SideToneOFFClick() {
  w_.Keying().SideToneOFFClick();
}
void WindowSettingsPart::On1Click() {
  w_.On1Click();
}
void WindowSettingsPart::Off2Click() {
  w_.Off2Click();
}

void ReceiveSettingsPart::SetThresholdBar2(int32_t position) {
  SetQuietly(w_.ReceiveControls().ThresholdBar2, position);
}
void ReceiveSettingsPart::ThresholdBar2Change() {
  w_.Receive().ThresholdBar2Change();
}

void TextSettingsPart::MsgsONClick() {
  w_.Receive().MsgsONClick();
}
void TextSettingsPart::MsgsOFFClick() {
  w_.Receive().MsgsOFFClick();
}

void WindowSettingsPart::ShowTimeline(int32_t top, int32_t left, int32_t height, int32_t width) {
  TimelineWindow& timeline = w_.Timeline();
  timeline.Geometry = TimelineGeometry{top, left, height, width};
  PlaceTimelineIfAutomatic(w_);
  timeline.Enable();
}
void WindowSettingsPart::HideTimeline() {
  w_.Timeline().Shown = false;
  w_.Timeline().hide();
}

void ReceiveSettingsPart::StoreInputDevice(int32_t device) {
  w_.Rx().Capture.InputDevice = device;
}

void KeyingSettingsPart::SetComPortSpinBtn(int32_t value) {
  w_.Keying().SetComPortSpinBtn(value);
}

void ReceiveSettingsPart::SetAfcStartSpinBtn(int32_t hz) {
  w_.AfcStartForm().AFCStartSpinBtn()->setValue(hz);
  w_.Rx().Tone.AfcStartFrequency = hz;
}
void ReceiveSettingsPart::SetMarkerFrequency(int32_t hz) {
  w_.Rx().Tone.MarkerHz = hz;
}
void ReceiveSettingsPart::ShowMkrLabel(int32_t value) {
  w_.ReceiveControls().MkrLabel->setText(QString::number(value));
}

void ReceiveSettingsPart::Waterfall2Click() {
  w_.Receive().Waterfall2Click();
}
void ReceiveSettingsPart::Spectrum1Click() {
  w_.Receive().Spectrum1Click();
}
void KeyingSettingsPart::SerialPort1Click() {
  w_.Keying().SerialPort1Click();
}
void KeyingSettingsPart::SoundCard1Click() {
  w_.Keying().SoundCard1Click();
}
void ToneSettingsPart::StoreToneFrequency(float hz) {
  w_.Tone().StoreToneFrequency(hz);
}
void ToneSettingsPart::Freq1Click() {
  w_.Tone().Freq1Click();
}
void ToneSettingsPart::Freq2Click() {
  w_.Tone().Freq2Click();
}
void ToneSettingsPart::Freq3Click() {
  w_.Tone().Freq3Click();
}
void ToneSettingsPart::Squarewave1Click() {
  w_.Tone().Squarewave1Click();
}
void ToneSettingsPart::Sinewave1Click() {
  w_.Tone().Sinewave1Click();
}

void MemorySettingsPart::SetXmitUpDn(int16_t position) {
  const TransmitPanel& tp = w_.TransmitControls();
  tp.XmitUpDn->SetPosition(position);  // clamps to 1..10000
  w_.Tx().ContestSerial = tp.XmitUpDn->Position();
  tp.XmitCntrMemo->setText(QString::number(tp.XmitUpDn->Position()));
}

void MemorySettingsPart::ContestWindowClick() {
  w_.Memories().ContestWindowClick();
}
void MemorySettingsPart::F10ScratchPadClick() {
  w_.Memories().F10ScratchPadClick();
}

void KeyingSettingsPart::SetTimingRatio(TimingRatio which, float percent, int32_t upDownPosition,
                                        const std::string& memoText) {
  w_.Keying().SetTimingRatio(which, percent, upDownPosition, memoText);
}

WindowSettings::WindowSettings(MainWindow& window)
    : w_(window),
      window_(window),
      receive_(window),
      text_(window),
      keying_(window),
      tone_(window),
      memories_(window) {}

void WindowSettings::Load(const std::string& path) {
  const SettingsLoadResult result = LoadSettings(path, Parts());
  if (!result.message.empty()) std::cerr << "kestrix: " << result.message << "\n";
  if (result.outcome == SettingsLoadResult::Outcome::kLoaded) {
    KeepOnScreen(w_);
    PlaceTimelineIfAutomatic(w_);
  }
}

void WindowSettings::Save(const std::string& path) {
  if (path.empty()) return;
  std::string error;
  if (!SaveSettings(path, Current(), error)) {
    std::cerr << "kestrix: " << error << "; the settings of this session are not kept\n";
  }
}

}  // namespace kestrix::shell
