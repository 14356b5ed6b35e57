// The main window, TForm1: the fixed-size form that carries every receive and transmit
// control, the displays, the status line and the main menu, and the window's life cycle
// (creation, the two start-up timer ticks, quitting, destruction).
//
// The window holds no decoder state of its own: the Receiver is the state, the
// ReceiveLoop runs reception inside the window's event processing, and the handlers below
// (named after their control and event) change them and show the result. The settings
// loader applies a stored choice by calling the same public handler a user would run.
//
// Composition is split by area: receive_panel / transmit_panel / status_panel / main_menu
// build the controls; receive_handlers.cpp, text_handlers.cpp and transmit_handlers.cpp
// hold the handlers; main_window.cpp the life cycle and the receive host.
//
// Threads: everything here runs on the GUI thread. StartButtonClick does not return while
// the receiver runs; all other handlers run nested inside it.
#pragma once

#include <QMainWindow>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "decoder/text_sink.h"
#include "platform/capture_device.h"
#include "platform/playback_device.h"
#include "platform/serial_ports.h"
#include "receive/receive_loop.h"
#include "receive/receiver.h"
#include "shell/main_menu.h"
#include "shell/receive_panel.h"
#include "shell/status_panel.h"
#include "shell/transmit_panel.h"
#include "shell/transmit_state.h"

namespace kestrix {
class SoundCardSelect;
namespace platform {
class KeyDevice;
class Waiter;
}  // namespace platform
class TimelineWindow;
}  // namespace kestrix

namespace kestrix::transmit {
class KeyLine;
using Waiter = platform::Waiter;
class TransmitController;
}  // namespace kestrix::transmit

namespace kestrix::shell {

class AfcStartDialog;
class PartnerLink;
class MemoriesPanel;
class KeyingPanel;
class SoundCardDialog;
class ToneMenu;
class WindowTransmitHost;
class WindowKeyers;

inline constexpr int kTimer1Ms = 250;
inline constexpr const char* kHelpFailedText = "Could not run the help application";
inline constexpr const char* kAboutTitle = "About Kestrix";

// Receive pane font sizes in points, by the Text > Size choice 1..4.
inline constexpr int kFontPoints[5] = {12, 10, 12, 16, 20};

// Received-text look that the settings file stores (the case lives in ReceiveOptions).
struct PaneStyle {
  int32_t FontStyle = 0;  // 0 normal, 1 bold
  int32_t FontSize = 2;   // 1 small .. 4 large
};

// Replacements for what a test must not really do (modal boxes, quitting, sleeping,
// launching a browser). Unset members use the real thing.
struct WindowSeams {
  std::function<void(const std::string& title, const std::string& text)> message;
  std::function<void()> terminate;
  std::function<void(int ms)> sleep;
  std::function<bool(const std::string& path)> openHelp;
  // The sound output of the tone keyer (unset: the default card, see tone_menu.h).
  std::function<std::unique_ptr<PlaybackDevice>()> playback;
  // The keying line's devices and the serial devices in COM order.
  platform::KeyDevice* keyDevice = nullptr;
  std::function<std::vector<platform::SerialPortInfo>()> serialPorts;
  // The keying line and the keyers' wait (the window's own: no port, real time).
  transmit::KeyLine* keyLine = nullptr;
  transmit::Waiter* keyWaiter = nullptr;
};

// How main() starts the window.
struct WindowOptions {
  // A recording stands in for the sound card: reception starts on its own a second after
  // the window appears, as after choosing an input.
  bool autoStart = false;
  // Click on the spectrum at this x position (the tone's bin) right after each start of
  // reception, as the operator would; 0 leaves the tuning alone.
  int tunePosition = 0;
  // Serve partner programs on the partner socket (`partnerSocket`, empty: the default
  // place). The program does; windows in tests only when they ask for it.
  bool servePartners = false;
  std::string partnerSocket;
};

class MainWindow : public QMainWindow, public TextSink, public ReceiverSink {
  Q_OBJECT

 public:
  MainWindow(std::unique_ptr<CaptureDevice> device, const WindowOptions& options = {},
             const WindowSeams& seams = {});
  ~MainWindow() override;  // FormDestroy

  // --- Life cycle (main_window.cpp) -----------------------------------------------
  void Timer1Timer();
  void QuitButtonClick();
  void Quit1Click() { QuitButtonClick(); }
  void FormDestroy();
  void About1Click();
  void HelpMenu1Click();
  void On1Click();   // Stay On Top "On"
  void Off2Click();  // Stay On Top "Off"
  // A key the form receives while no control has the focus (Windows key codes).
  void FormKeyDown(int key);
  // A sound-device failure after its message: 1 continues, anything else quits.
  void HandleWaveError(int code);
  // Seams for the settings file: Timer1's first tick loads, destruction saves. An empty
  // path does nothing.
  void LoadSettings(const std::string& path);
  void SaveSettings(const std::string& path);

  // --- Reception and receive controls (receive_handlers.cpp) -----------------------------
  void StartButtonClick();
  void StopButtonClick();
  void SystemTimerTimer();
  void TimeoutTimerTimer();
  void ScanButtonClick();
  void TextButtonClick();
  void ManualButtonClick();
  void Text2Click();
  void Manual2Click();
  void ClearButtonClick();
  void FrequencyBarChange();
  void SpectrumBoxMouseDown(int x);
  void Off1Click();
  void Narrow1Click();
  void Medium1Click();
  void Wide1Click();
  void AFCStartFreqClick();
  void AFCStartBtnClick();
  void AFCStartCancelBtnClick();
  void SignalGainBarChange();
  void CoarseGainTrackBarChange();
  void Rx10BtnClick();
  void Rx1BtnClick();
  void Rx01BtnClick();
  void Rx001BtnClick();
  void Quiet1Click();
  void Normal2Click();
  void Noisy2Click();
  void Auto4Click();
  void Manual3Click();
  void ThresholdBar2Change();
  void ThresholdBarChange();
  void FilterOn1Click();
  void FilterOff1Click();
  void Auto3Click();
  void N25WPM1Click();  // "10 wpm"
  void N35wpm1Click();  // "20 wpm"
  void N50wpm1Click();  // "30 wpm"
  void N50wpm2Click();  // "50+ wpm"
  void FilterButtonClick();
  void SquelchBtnClick();
  void LockWpmBtnClick();
  void BlankBtnClick();
  void Fade_OnClick();
  void Fade_OffClick();
  void SyncBtnClick();
  void MicInputClick();
  void LeftInputClick();
  void RightInputClick();
  void SelectSoundCardClick();
  void Spectrum1Click();
  void Waterfall2Click();
  void Enable3Click();

  // --- Received text and its options (text_handlers.cpp) ---------------------------------
  void Upper1Click();
  void Lower1Click();
  void Normal1Click();
  void Bold1Click();
  void SmallFont1Click();
  void NormalFont1Click();
  void MediumFont1Click();
  void LargeFont1Click();
  void ScrollingOn1Click();
  void ScrollingOff1Click();
  void TxtScrollBtnClick();
  void SpacesOnClick();
  void SpacesOffClick();
  void SpaceButtonClick();
  void Short1Click();
  void Medium2Click();
  void Long1Click();
  void RunOnButtonClick();
  void ProsignEnableClick();
  void ProsignDisableClick();
  void EnableEnglishClick();
  void DisableEnglishClick();
  void MsgsONClick();
  void MsgsOFFClick();
  // The copy pane's key handler (Windows key codes; 220 is the backslash key).
  // Returns true when the key was used up.
  bool TextPanelKeyDown(int key);

  // --- Transmit side, state only until the transmitter exists (transmit_handlers.cpp) -----
  void XmitButtonClick();
  void SendBtnClick();
  void TuneButtonClick();
  void SpeedTrackBarChange();
  void XmitSpeedUpDnClick();
  void LoopButtonClick();
  void MsgButton13Click();
  void MsgButton14Click();
  void MsgBtnClick();
  void Memo1Click();
  void ToneVolumeChange();
  void SoundCard1Click();
  void SerialPort1Click();
  void PortNumber1Click();
  void None2Click();
  void Normal3Click();
  void Invert2Click();
  void Printer11Click();
  void Printer21Click();
  void None1Click();
  void Freq1Click();
  void Freq2Click();
  void Freq3Click();
  void Sinewave1Click();
  void Squarewave1Click();
  void SideToneOnClick();
  void SideToneOFFClick();
  void CharacterConfigClick();  // Transmit > Character Timing > "Show Configuration"
  void F10ScratchPadClick();
  void ContestWindowClick();
  // File menu: the text and picture files (user_files_menu.cpp).
  void SaveRcv1Click();
  void SaveXmit1Click();
  void LoadXmit1Click();
  void SaveForm1Click();

  // --- State the settings code, the tests and main() read and write ------------------
  Receiver& Rx() { return *rx_; }
  ReceiveLoop& Loop() { return *loop_; }
  TransmitState& Tx() { return tx_; }
  // The transmit pane and the send threads; the window's side of them.
  transmit::TransmitController& Transmitter() { return *txc_; }
  WindowTransmitHost& TransmitHostSide() { return *txHost_; }
  PaneStyle& Style() { return style_; }
  TimelineWindow& Timeline() { return *timeline_; }
  AfcStartDialog& AfcStartForm() { return *afcDialog_; }
  SoundCardDialog& SoundCardForm() { return *soundCardDialog_; }
  ToneMenu& Tone() { return *tone_; }
  MemoriesPanel& Memories() { return *memories_; }
  // Tune, speed, timing dialog, port and polarity, and the keying port they drive.
  KeyingPanel& Keying() { return *keying_; }
  const ReceivePanel& ReceiveControls() const { return rp_; }
  const TransmitPanel& TransmitControls() const { return tp_; }
  const StatusPanel& Status() const { return sp_; }
  const MainMenu& Menu() const { return menu_; }
  QWidget* Form() const { return form_; }
  QTimer* Timer1() const { return timer1_; }
  QTimer* SystemTimer() const { return systemTimer_; }
  QTimer* TimeoutTimer() const { return timeoutTimer_; }
  QTimer* TimeoutTimer2() const { return timeoutTimer2_; }
  int DisplayHeight() const { return displayHeight_; }

  // Process-wide start-up state.
  std::string SettingsPath;
  std::string HelpPath;
  int32_t SettingsLoadPending = 1;
  int32_t StatsResetPending = 0;
  uint8_t ForceModeSetup = 0;
  uint8_t StayOnTop = 0;
  uint8_t SettingsReserved = 0;  // the settings file's reserved byte, written back as read
  // Layout measures taken at creation for the receive-mode handlers (pixels).
  int SpectrumHeightRef = 0;
  int TextPanelHeightRef = 0;
  // Times the quit sequence has run (each run ends in one terminate request).
  int QuitCount = 0;

  // A modal message box with an OK button (or the test seam).
  void ShowMessage(const std::string& title, const std::string& text);

 protected:
  void closeEvent(QCloseEvent* event) override;  // FormClose
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // The receive loop's host: Qt event processing, the form's timers, message boxes.
  class Host;
  friend class Host;
  QTimer* LoopTimerFor(LoopTimer timer) const;
  void Sleep(int ms);
  // The window's parts of START and STOP.
  void ShowStarted(ReceiveMode mode);
  void StartValuesApplied();
  void ClearDisplayBitmaps();
  void ClearSpectrumBitmap(int width);
  void ShowStopped();
  void StopTransmit();
  void InputChannelChecked(ChannelMode mode);
  // The transmit side (transmit_handlers.cpp): build it, wire its controls, and the pane's
  // key and mouse events (true when used up).
  void CreateTransmitter();
  void ConnectSendHandlers();
  bool Memo1Event(QObject* watched, QEvent* event);

  // TextSink
  void InsertText(const char* bytes, size_t length) override;
  void TableCharacter(char c) override;
  void ProsignLetter(char c) override;
  void ClearPanes() override;

  // ReceiverSink
  void PeakFrequencyShown(int hz) override;
  void FrequencyBarMoved(int position) override;
  void SpectrumFrame(const Receiver& rx) override;
  void SquelchMeasured(int ratio) override;
  void LevelsUpdated(const Receiver& rx) override;
  void LearnStateShown(bool learning) override;
  void TimelineBlock(const Receiver& rx) override;
  void BlockFinished(const Receiver& rx) override;

  void BuildForm();
  void ConnectHandlers();
  void ConnectMenu();
  void FormCreate();

  // Receive-mode helpers.
  void TextMode(int height);
  void ManualMode(int height);
  void ShowModeButtons(ReceiveMode mode);
  void TuningOff();
  void TransmitPaneForMode();
  void RestartSystemTimerIfIdle();
  void PlaceSpectrumBox();
  // CLEAR's window part after the receiver's (the MANUAL pane, then the transmit pane's
  // focus).
  void AfterClear();
  void ReceiveSpeedChosen(ReceiveSpeed speed, QAction* item);
  void ThresholdChosen(ThresholdMode mode, QAction* item);
  void SetSpaceTime(SpaceTime spacing);
  void ShowSpaceTime();
  void SetFontSize(int size, QAction* item);
  void SetLockWpmCaption();
  void RedrawThresholdLine();
  // Focus back to the pane in use: Memo1 while sending, else Memo2.
  void FocusTextPane();
  void SetStayOnTop(bool on);
  void RetuneToTone();

  std::unique_ptr<CaptureDevice> device_;
  std::unique_ptr<Host> host_;
  std::unique_ptr<Receiver> rx_;
  std::unique_ptr<ReceiveLoop> loop_;
  std::unique_ptr<SoundCardSelect> soundCard_;
  MemoriesPanel* memories_ = nullptr;  // a child object: memories, contest strip, scratch pad
  std::unique_ptr<KeyingPanel> keying_;
  WindowOptions options_;
  WindowSeams seams_;
  TransmitState tx_;
  std::unique_ptr<PartnerLink> partner_;  // null when not serving partner programs
  PaneStyle style_;
  std::unique_ptr<transmit::Waiter> ownKeyWaiter_;
  std::unique_ptr<WindowKeyers> keyers_;
  std::unique_ptr<WindowTransmitHost> txHost_;
  std::unique_ptr<transmit::TransmitController> txc_;

  QWidget* form_ = nullptr;
  ReceivePanel rp_;
  TransmitPanel tp_;
  StatusPanel sp_;
  MainMenu menu_;
  TimelineWindow* timeline_ = nullptr;
  AfcStartDialog* afcDialog_ = nullptr;
  SoundCardDialog* soundCardDialog_ = nullptr;
  QTimer* timer1_ = nullptr;
  QTimer* systemTimer_ = nullptr;
  QTimer* timeoutTimer_ = nullptr;
  QTimer* timeoutTimer2_ = nullptr;

  int displayHeight_ = 130;
  std::string messagingBuffer_;  // pane text handed to a partner program
  bool destroyed_ = false;
  // Last, so the keyer is gone before everything it reads.
  std::unique_ptr<ToneMenu> tone_;
};

}  // namespace kestrix::shell
