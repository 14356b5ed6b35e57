// Receive > Decoder: the window reads with the classic chain (the default) or with the soft
// engine. The classic chain always runs (it draws the spectrum, finds the peak and runs the
// AFC); with Soft chosen its characters stop at the gate and the soft engine's reach the
// text hub instead, so the receive pane, partner programs and every other subscriber get
// them. The soft engine reads the station at the tuned frequency (a click, the AFC, a band
// map row) through a narrow channel of its own, on a worker (softrx::SoftReceiver). While
// the band map is open and one of its decoders reads within 15 Hz of the tuning, the pane
// shows that decoder's text instead and the window's own rests: one decoder per station.
//
// Controls that mean nothing to the soft engine are disabled while it reads, each with a
// tooltip that says why. The choice is kept in the window's own settings file beside the
// main one (softrx/decoder_setting.h), never in the main settings file.
//
// Threads: GUI thread; the worker reaches nothing here (a timer takes its text).
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "bandmap/band_map_engine.h"
#include "decoder/text_hub.h"
#include "decoder/text_sink.h"
#include "receive/receive_loop.h"
#include "receive/receiver.h"
#include "softrx/decoder_setting.h"
#include "softrx/soft_receiver.h"

class QLabel;
class QWidget;
class QAction;

namespace kestrix::shell {

struct MainMenu;
struct ReceivePanel;
struct StatusPanel;

inline constexpr int kSoftTextPollMs = 100;
inline constexpr const char* kSoftDisabledHint =
    "Not used by the Soft decoder: it measures the signal, the noise and the spacing itself";

// The classic chain's way out: its text goes on to the hub while Classic is chosen; with
// Soft chosen only CLEAR passes (and clears the soft engine too).
class DecoderGate final : public TextSink {
 public:
  explicit DecoderGate(TextSink& out) : out_(out) {}
  void SetSoft(softrx::SoftReceiver* soft) { soft_ = soft; }
  bool Soft() const { return soft_ != nullptr; }

  void InsertText(const char* bytes, size_t length) override {
    if (!soft_) out_.InsertText(bytes, length);
  }
  void TableCharacter(char c) override {
    if (!soft_) out_.TableCharacter(c);
  }
  void ProsignLetter(char c) override {
    if (!soft_) out_.ProsignLetter(c);
  }
  void ClearPanes() override {
    if (soft_) soft_->Clear();
    out_.ClearPanes();
  }

 private:
  TextSink& out_;
  softrx::SoftReceiver* soft_ = nullptr;
};

struct DecoderParts {
  MainMenu& menu;
  ReceivePanel& rp;
  StatusPanel& sp;
  Receiver& rx;
  ReceiveLoop& loop;
  TextHub& text;
  DecoderGate& gate;
  // The band map's engine while the band map is open, else null.
  std::function<bandmap::BandMapEngine*()> bandMap;
};

class DecoderChoice final : public QObject, public CaptureBlockTap {
 public:
  // `settingsFolder`: where the window's own settings file lives (empty: not kept);
  // `queueBlocks`: capture blocks the worker may fall behind by.
  DecoderChoice(const DecoderParts& parts, const std::string& settingsFolder, size_t queueBlocks,
                QObject* parent);
  ~DecoderChoice() override;

  // Receive > Decoder > Classic / Soft: switches and keeps the choice.
  void Classic1Click() { Choose(softrx::DecoderKind::kClassic, true); }
  void Soft1Click() { Choose(softrx::DecoderKind::kSoft, true); }
  // The choice at start: the command line's, else the file's.
  void ChooseAtStart(const std::string& commandLine);
  void Choose(softrx::DecoderKind kind, bool keep);
  softrx::DecoderKind Kind() const { return kind_; }
  const std::string& SettingsPath() const { return path_; }
  // A message about the window's settings file, empty when none.
  const std::string& Problem() const { return problem_; }

  // The soft engine's text into the hub and its read-outs onto the status line (the timer
  // runs it; after each block the status is shown again over the classic chain's).
  void Poll();
  void ShowStatus();
  softrx::SoftReceiver* Engine() { return soft_.get(); }

  // The receive loop's blocks, in Text mode, to the soft engine.
  void OnCaptureBlock(const uint8_t* data, uint32_t bytes, const CaptureSettings& capture) override;

 private:
  void DisableClassicOnly(bool disable);
  bandmap::BandMapEngine* BandMap() const;
  void Insert(const std::string& text);

  DecoderParts parts_;
  std::string path_;
  std::string problem_;
  size_t queueBlocks_;
  softrx::DecoderKind kind_ = softrx::DecoderKind::kClassic;
  std::unique_ptr<softrx::SoftReceiver> soft_;
  softrx::SoftReading reading_;
  std::string followed_;  // the band map's text for the tuned station
  QTimer poll_;
  QLabel* label_ = nullptr;  // "Soft" on the status line
  // What the disabled controls were before, to give back with Classic.
  struct Held {
    QPointer<QObject> object;
    QString hint;
    bool enabled = true;
  };
  std::vector<Held> hints_;
};

}  // namespace kestrix::shell
