// The main window, TForm1: the fixed-size form that carries every receive and transmit
// control, the displays, the status line and the main menu, and the window's life cycle
// (creation, the two start-up timer ticks, quitting, destruction).
//
// The window composes; it holds no rules of its own. The Receiver is the receive state,
// the ReceiveLoop runs reception inside the window's event processing, the
// ReceiveController and the TransmitController hold the rules of their controls. The
// handlers a user runs live on the part of their subsystem: ReceiveSide (receive controls
// and the Text menu), KeyingPanel (speed, Tune, port, timing), ToneMenu (the tone keyer),
// MemoriesPanel (memories, contest strip, scratch pad) and the TransmitController
// (sending). Decoded text leaves the receiver through one TextHub, to which the receive
// pane and partner programs subscribe. The settings loader applies a stored choice by
// calling the same handler a user would run, through those parts.
//
// Files: receive_panel / transmit_panel / status_panel / main_menu build the controls;
// main_window.cpp builds and wires the parts and runs the life cycle and the receive
// host; transmit_wiring.cpp wires the transmit side.
//
// Threads: everything here runs on the GUI thread. START does not return while the
// receiver runs; all other handlers run nested inside it.
#pragma once

#include <QMainWindow>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "bandmap/band_map_settings.h"
#include "decoder/text_hub.h"
#include "platform/capture_device.h"
#include "platform/playback_device.h"
#include "platform/serial_ports.h"
#include "receive/receive_loop.h"
#include "receive/receiver.h"
#include "shell/main_menu.h"
#include "shell/receive_panel.h"
#include "shell/status_panel.h"
#include "shell/transmit_panel.h"
#include "shell/window_transmit_state.h"

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
class ReceiveSide;
class ReceivePaneText;
class PartnerText;
class WindowSettings;
class PartnerLink;
class MemoriesPanel;
class KeyingPanel;
class SoundCardDialog;
class ToneMenu;
class WindowTransmitHost;
class WindowKeyers;
class BandMapLink;
class DecoderChoice;
class DecoderGate;

inline constexpr int kTimer1Ms = 250;
inline constexpr const char* kHelpFailedText = "Could not run the help application";
inline constexpr const char* kAboutTitle = "About Kestrix";

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
  // The band map (kestrix --band-map ...).
  bandmap::BandMapStartOptions bandMap;
  // kestrix --decoder classic|soft; empty: the choice kept in the window's settings file.
  std::string decoder;
  // Capture blocks the soft engine's worker may fall behind by before the oldest is
  // dropped (a recording handed over faster than real time needs more).
  size_t softQueueBlocks = 32;
};

// Where the window found its help and settings files at creation (empty: none).
struct StartupFiles {
  std::string SettingsPath;
  std::string HelpPath;
};

// The window's timers.
struct WindowTimers {
  QTimer* Timer1 = nullptr;  // the start-up tick: settings load, learning restart
  QTimer* SystemTimer = nullptr;
  QTimer* TimeoutTimer = nullptr;
  QTimer* TimeoutTimer2 = nullptr;
};

class MainWindow : public QMainWindow {
  Q_OBJECT

 public:
  MainWindow(std::unique_ptr<CaptureDevice> device, const WindowOptions& options = {},
             const WindowSeams& seams = {});
  ~MainWindow() override;  // FormDestroy

  // --- Life cycle (main_window.cpp) -----------------------------------------------
  void Timer1Timer();
  void QuitButtonClick();
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
  // File menu: the text and picture files (user_files_menu.cpp).
  void SaveRcv1Click();
  void SaveXmit1Click();
  void LoadXmit1Click();
  void SaveForm1Click();
  // A modal message box with an OK button (or the test seam).
  void ShowMessage(const std::string& title, const std::string& text);

  // --- The parts ----------------------------------------------------------------------
  // The receive controls' handlers and the receive controller.
  ReceiveSide& Receive() { return *receive_; }
  Receiver& Rx() { return *rx_; }
  ReceiveLoop& Loop() { return *loop_; }
  // Where decoded text goes out.
  TextHub& Text() { return text_; }
  TransmitState& Tx() { return tx_; }
  // The transmit pane and the send threads; the window's side of them.
  transmit::TransmitController& Transmitter() { return *txc_; }
  WindowTransmitHost& TransmitHostSide() { return *txHost_; }
  TimelineWindow& Timeline() { return *timeline_; }
  AfcStartDialog& AfcStartForm() { return *afcDialog_; }
  SoundCardDialog& SoundCardForm() { return *soundCardDialog_; }
  ToneMenu& Tone() { return *tone_; }
  MemoriesPanel& Memories() { return *memories_; }
  // Tune, speed, timing dialog, port and polarity, and the keying port they drive.
  KeyingPanel& Keying() { return *keying_; }
  // The values of the settings file the window itself keeps.
  WindowSettings& Settings() { return *settings_; }
  // The band map window, its engine and its spot server.
  BandMapLink& BandMap() { return *bandMap_; }
  // Receive > Decoder: which decoder the receive pane reads with.
  DecoderChoice& Decoder() { return *decoder_; }
  const ReceivePanel& ReceiveControls() const { return rp_; }
  const TransmitPanel& TransmitControls() const { return tp_; }
  const StatusPanel& Status() const { return sp_; }
  const MainMenu& Menu() const { return menu_; }
  QWidget* Form() const { return form_; }
  const WindowTimers& Timers() const { return timers_; }
  StartupFiles& Files() { return files_; }
  bool StaysOnTop() const { return stayOnTop_; }
  // Times the quit sequence has run (each run ends in one terminate request).
  int QuitCount() const { return quitCount_; }

 protected:
  void closeEvent(QCloseEvent* event) override;  // FormClose
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Destruction's work: the settings saved, the send threads joined, the key up, the
  // outputs closed (once).
  void FormDestroy();
  // The receive loop's host: Qt event processing, the form's timers, message boxes.
  class Host;
  friend class Host;
  QTimer* LoopTimerFor(LoopTimer timer) const;
  void Sleep(int ms);
  void StopTransmit();
  // The transmit side (transmit_wiring.cpp): build it, wire its controls, and the pane's
  // key and mouse events (true when used up).
  void CreateTransmitter();
  void ConnectSendHandlers();
  bool Memo1Event(QObject* watched, QEvent* event);

  void BuildForm();
  void ConnectHandlers();
  void ConnectMenu();
  void ConnectTransmitMenus();
  void FormCreate();
  void SetStayOnTop(bool on);
  void RetuneToTone();

  std::unique_ptr<CaptureDevice> device_;
  std::unique_ptr<Host> host_;
  TextHub text_;
  std::unique_ptr<DecoderGate> gate_;  // the classic chain's text on its way to text_
  std::unique_ptr<Receiver> rx_;
  std::unique_ptr<ReceiveLoop> loop_;
  std::unique_ptr<SoundCardSelect> soundCard_;
  MemoriesPanel* memories_ = nullptr;  // a child object: memories, contest strip, scratch pad
  std::unique_ptr<KeyingPanel> keying_;
  WindowOptions options_;
  WindowSeams seams_;
  TransmitState tx_;
  std::unique_ptr<PartnerLink> partner_;  // null when not serving partner programs
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
  WindowTimers timers_;
  ReceiveSide* receive_ = nullptr;  // a child object
  // The receive pane and the partner hand-over, as subscribers of the text hub.
  std::unique_ptr<ReceivePaneText> paneText_;
  std::unique_ptr<PartnerText> partnerText_;
  std::unique_ptr<WindowSettings> settings_;
  std::unique_ptr<BandMapLink> bandMap_;
  DecoderChoice* decoder_ = nullptr;  // a child object

  StartupFiles files_;
  bool stayOnTop_ = false;
  int quitCount_ = 0;
  bool destroyed_ = false;
  // Last, so the keyer is gone before everything it reads.
  std::unique_ptr<ToneMenu> tone_;
};

}  // namespace kestrix::shell
