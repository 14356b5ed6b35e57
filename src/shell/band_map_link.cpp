#include "shell/band_map_link.h"

#include <QGuiApplication>
#include <QScreen>
#include <algorithm>
#include <cstdio>
#include <iostream>

#include "receive/tone_finder.h"
#include "shell/band_map_window.h"
#include "shell/main_window.h"
#include "shell/receive_side.h"
#include "shell/settings_paths.h"
#include "skim/telnet_server.h"

namespace kestrix::shell {

int BandMapClickPosition(double audioHz, uint32_t rate) {
  // The spectrum's bins are rate / 8192 wide; ToneClickPosition counts them at 44100 Hz.
  const double at44100 = rate > 0 ? audioHz * 44100.0 / static_cast<double>(rate) : audioHz;
  return ToneClickPosition(at44100);
}

// Spot lines to the telnet server (on the engine's worker; Publish never blocks).
class BandMapLink::TelnetSpots final : public skim::SpotOutput {
 public:
  explicit TelnetSpots(skim::TelnetServer& server) : server_(server) {}
  void OnSpot(const std::string& line, const skim::Spot&) override { server_.Publish(line); }

 private:
  skim::TelnetServer& server_;
};

BandMapLink::BandMapLink(MainWindow& window, const bandmap::BandMapStartOptions& start)
    : w_(window), start_(start) {
  const std::string folder = SettingsFolder();
  if (!folder.empty()) settingsPath_ = folder + "/" + bandmap::kBandMapSettingsFileName;
  refresh_.setInterval(kBandMapRefreshMs);
  connect(&refresh_, &QTimer::timeout, this, &BandMapLink::Refresh);
  connect(window.Menu().BandMap1, &QAction::triggered, this, &BandMapLink::BandMap1Click);
  // Opened with the program: the main window keeps the keyboard (the operator types into
  // the transmit pane, not into the band map's dial field).
  if (start_.open) QTimer::singleShot(0, this, [this] { Open(false); });
}

BandMapLink::~BandMapLink() {
  Close();
  if (telnet_) telnet_->Stop();
}

bool BandMapLink::StartTelnet(int port, std::string& error) {
  skim::TelnetServerConfig c;
  c.port = port;
  c.greeting = "Kestrix band map";
  telnet_ = std::make_unique<skim::TelnetServer>(c);
  if (!telnet_->Start(error)) {
    telnet_.reset();
    return false;
  }
  spots_ = std::make_unique<TelnetSpots>(*telnet_);
  return true;
}

int BandMapLink::TelnetPort() const {
  return telnet_ ? telnet_->Port() : 0;
}

void BandMapLink::BandMap1Click() {
  if (IsOpen()) {
    Close();
  } else {
    Open();
  }
}

void BandMapLink::Open(bool activate) {
  if (IsOpen()) {
    window_->raise();
    return;
  }
  settings_ = {};
  std::string error;
  if (!settingsPath_.empty() && !bandmap::LoadBandMapSettings(settingsPath_, settings_, error)) {
    // The lines that parsed apply; the file is written anew when the window closes, so the
    // one read is kept beside it for the user to look at.
    const std::string kept = settingsPath_ + ".bad";
    std::rename(settingsPath_.c_str(), kept.c_str());
    std::cerr << "kestrix: band map settings: " << error << " (kept as '" << kept << "')\n";
  }
  if (!start_.rigctld.empty()) settings_.rigctld = start_.rigctld;
  if (start_.dialKhz) settings_.dialKhz = start_.dialKhz;

  window_ = new BandMapWindow(&w_);
  window_->SetOptions(settings_.rigctld, settings_.dialKhz);
  if (settings_.width > 0 && settings_.height > 0) {
    const QRect want(settings_.x, settings_.y, settings_.width, settings_.height);
    window_->resize(want.size());
    // Back where it was, if that is still on a screen.
    for (const QScreen* screen : QGuiApplication::screens()) {
      if (screen->availableGeometry().intersects(want)) {
        window_->move(want.topLeft());
        break;
      }
    }
  }
  connect(window_, &BandMapWindow::tuneRequested, this, &BandMapLink::TuneTo);
  connect(window_, &BandMapWindow::closed, this, &BandMapLink::Close);
  connect(window_, &BandMapWindow::dialChanged, this, [this](std::optional<double> khz) {
    settings_.dialKhz = khz;
    if (engine_) engine_->SetDialHz(khz ? *khz * 1000.0 : std::nan(""));
  });
  connect(window_, &BandMapWindow::rigctldChanged, this, [this](const QString& address) {
    if (window_ == nullptr) return;
    std::string why;
    const std::string a = address.toStdString();
    if (!a.empty() && !bandmap::CheckRigctldAddress(a, why)) {
      window_->StatusLine()->setText(QString::fromStdString(why));
      return;
    }
    if (a == settings_.rigctld) return;
    settings_.rigctld = a;
    // A new address: the engine starts over with it (the stations stay on the air).
    StopEngine();
    StartEngine();
  });
  StartEngine();
  if (!activate) window_->setAttribute(Qt::WA_ShowWithoutActivating);
  window_->show();
  if (!activate) w_.activateWindow();
  // The splitter knows its height once the window is laid out.
  if (settings_.listHeight > 0) {
    const int total = window_->Split()->height();
    const int list = std::min(settings_.listHeight, total - 120);
    if (list > 40) window_->Split()->setSizes({total - list, list});
  }
  w_.Menu().BandMap1->setChecked(true);
}

void BandMapLink::StartEngine() {
  bandmap::EngineConfig c;
  c.rigctld = settings_.rigctld;
  c.dialHz = settings_.dialKhz ? *settings_.dialKhz * 1000.0 : std::nan("");
  c.lowerSideband = settings_.lowerSideband;
  engine_ = std::make_unique<bandmap::BandMapEngine>(c, spots_.get());
  engine_->Start();
  w_.Loop().SetBlockTap(engine_.get());
  refresh_.start();
}

void BandMapLink::StopEngine() {
  refresh_.stop();
  // The loop lets go of the engine before it goes; both run on this thread.
  w_.Loop().SetBlockTap(nullptr);
  if (engine_) engine_->Stop();
  engine_.reset();
}

void BandMapLink::Close() {
  if (!IsOpen()) return;
  StopEngine();
  SaveSettings();
  BandMapWindow* gone = window_;
  window_ = nullptr;
  // Hiding takes the focus from an options field, which then reports its edit: the window
  // is going, and an edit not confirmed with Enter goes with it.
  gone->disconnect(this);
  gone->hide();
  gone->deleteLater();
  w_.Menu().BandMap1->setChecked(false);
}

void BandMapLink::SaveSettings() {
  if (settingsPath_.empty() || window_ == nullptr) return;
  const QRect g = window_->geometry();
  settings_.x = g.x();
  settings_.y = g.y();
  settings_.width = g.width();
  settings_.height = g.height();
  const QList<int> sizes = window_->Split()->sizes();
  if (sizes.size() == 2 && sizes[1] > 0) settings_.listHeight = sizes[1];
  std::string error;
  const std::string folder = settingsPath_.substr(0, settingsPath_.rfind('/'));
  if (!MakeFolders(folder, error) ||
      !bandmap::SaveBandMapSettings(settingsPath_, settings_, error)) {
    std::cerr << "kestrix: band map settings: " << error << "\n";
  }
}

void BandMapLink::Refresh() {
  if (!engine_ || window_ == nullptr) return;
  engine_->TakeSnapshot(snapshot_);
  window_->Show(snapshot_);
}

void BandMapLink::TuneTo(double audioHz) {
  // The very handler a click on the main spectrum runs.
  w_.Receive().SpectrumBoxMouseDown(
      BandMapClickPosition(audioHz, w_.Rx().Capture.Format.SamplesPerSecond));
}

}  // namespace kestrix::shell
