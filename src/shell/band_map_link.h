// The band map's place in the program: the Display > Band Map item, the window, the engine
// that skims the receive loop's blocks while the window is open, the spot server for
// loggers (kestrix --band-map-telnet), and the band map's own settings file (BandMap.cfg
// beside the main settings file; the main file is never touched).
//
// Opening the window starts the engine and hands it the receive loop's blocks; closing it
// (or the program's end) takes the hand-off away, stops and joins the worker, and saves the
// window's place and options. A click on a label or Enter on a row tunes the main receiver
// exactly as a click on the main spectrum at that frequency does.
//
// Threads: the GUI thread; the engine's worker reaches nothing here (the window polls the
// engine's snapshot on a timer).
#pragma once

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <memory>
#include <optional>
#include <string>

#include "bandmap/band_map_engine.h"
#include "bandmap/band_map_settings.h"

namespace kestrix::skim {
class TelnetServer;
}

namespace kestrix::shell {

class MainWindow;
class BandMapWindow;

inline constexpr int kBandMapRefreshMs = 100;

// The main spectrum's click position for a tone at `audioHz` when capture runs at `rate`.
int BandMapClickPosition(double audioHz, uint32_t rate);

class BandMapLink : public QObject {
  Q_OBJECT

 public:
  BandMapLink(MainWindow& window, const bandmap::BandMapStartOptions& start);
  ~BandMapLink() override;

  // The spot server for loggers; false with a message when the port can't be had.
  bool StartTelnet(int port, std::string& error);
  int TelnetPort() const;

  // Display > Band Map: opens the window, or closes it when open.
  void BandMap1Click();
  void Open(bool activate = true);
  void Close();
  bool IsOpen() const { return window_ != nullptr; }

  // The band map's settings file (in the settings folder).
  const std::string& SettingsPath() const { return settingsPath_; }
  BandMapWindow* Window() const { return window_; }
  bandmap::BandMapEngine* Engine() const { return engine_.get(); }
  // One refresh of the window from the engine, as the timer does.
  void Refresh();
  // A tune to `audioHz`, as a label click or an activated row asks.
  void TuneTo(double audioHz);

 private:
  class TelnetSpots;
  void StartEngine();
  void StopEngine();
  void SaveSettings();

  MainWindow& w_;
  bandmap::BandMapStartOptions start_;
  std::string settingsPath_;
  bandmap::BandMapSettings settings_;
  BandMapWindow* window_ = nullptr;
  std::unique_ptr<bandmap::BandMapEngine> engine_;
  std::unique_ptr<skim::TelnetServer> telnet_;
  std::unique_ptr<TelnetSpots> spots_;
  QTimer refresh_;
  bandmap::Snapshot snapshot_;
};

}  // namespace kestrix::shell
