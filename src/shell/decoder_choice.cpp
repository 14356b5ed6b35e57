#include "shell/decoder_choice.h"

#include <QAction>
#include <QBoxLayout>
#include <QFrame>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <algorithm>
#include <cmath>
#include <iostream>

#include "receive/tone.h"
#include "shell/main_menu.h"
#include "shell/receive_panel.h"
#include "shell/status_panel.h"

namespace kestrix::shell {
namespace {

// The soft engine in the window: text final 1.2 s after it was keyed; with a capture
// block (186 ms) and the pane's poll (100 ms) a character is in the pane within 1.5 s of
// its last key-up. A shorter lag reads weak signals worse (at -3 dB in 500 Hz, 1.0 s cost
// about three points of character errors against 1.5 s; 1.2 s about two).
softrx::SoftReceiverConfig WindowSoftConfig(size_t queueBlocks) {
  softrx::SoftReceiverConfig c;
  c.decoder.maxLagS = 1.2;
  c.queueSlots = std::max<size_t>(1, queueBlocks);
  return c;
}

char UpperOf(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}
char LowerOf(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

DecoderChoice::DecoderChoice(const DecoderParts& parts, const std::string& settingsFolder,
                             size_t queueBlocks, QObject* parent)
    : QObject(parent), parts_(parts), queueBlocks_(queueBlocks) {
  if (!settingsFolder.empty()) path_ = settingsFolder + "/" + softrx::kWindowSettingsFileName;
  poll_.setInterval(kSoftTextPollMs);
  connect(&poll_, &QTimer::timeout, this, &DecoderChoice::Poll);
  connect(parts_.menu.Classic1, &QAction::triggered, this, &DecoderChoice::Classic1Click);
  connect(parts_.menu.Soft1, &QAction::triggered, this, &DecoderChoice::Soft1Click);

  label_ = new QLabel("Soft", parts_.sp.Panel);
  label_->setObjectName("DecoderLabel");
  label_->setToolTip("The Soft decoder reads at the tuned frequency");
  if (auto* row = qobject_cast<QBoxLayout*>(parts_.sp.Panel->layout())) row->addWidget(label_);
  label_->hide();
}

DecoderChoice::~DecoderChoice() {
  parts_.loop.SetBlockTap(nullptr, 1);
  parts_.gate.SetSoft(nullptr);
  if (soft_) soft_->Stop();
}

void DecoderChoice::ChooseAtStart(const std::string& commandLine) {
  softrx::DecoderKind kind = softrx::DecoderKind::kClassic;
  if (!commandLine.empty()) {
    softrx::ParseDecoderKind(commandLine, kind);  // checked by the command line already
  } else if (!path_.empty() && !softrx::LoadDecoderKind(path_, kind, problem_)) {
    std::cerr << "kestrix: " << problem_ << "\n";
  }
  Choose(kind, false);
}

void DecoderChoice::Choose(softrx::DecoderKind kind, bool keep) {
  kind_ = kind;
  const bool soft = kind == softrx::DecoderKind::kSoft;
  parts_.menu.Classic1->setChecked(!soft);
  parts_.menu.Soft1->setChecked(soft);
  if (soft && !soft_) {
    soft_ = std::make_unique<softrx::SoftReceiver>(WindowSoftConfig(queueBlocks_));
    soft_->Start();
    parts_.gate.SetSoft(soft_.get());
    parts_.loop.SetBlockTap(this, 1);
    poll_.start();
  } else if (!soft && soft_) {
    if (bandmap::BandMapEngine* map = BandMap()) map->Follow(std::nan(""));
    parts_.loop.SetBlockTap(nullptr, 1);
    parts_.gate.SetSoft(nullptr);
    poll_.stop();
    soft_->Stop();
    Poll();  // what it had decided still reaches the pane
    soft_.reset();
  }
  label_->setVisible(soft);
  DisableClassicOnly(soft);
  if (keep && !path_.empty()) {
    std::string error;
    if (!softrx::SaveDecoderKind(path_, kind, error)) {
      problem_ = error;
      std::cerr << "kestrix: " << error << "\n";
    }
  }
}

void DecoderChoice::OnCaptureBlock(const uint8_t* data, uint32_t bytes,
                                   const CaptureSettings& capture) {
  if (!soft_ || parts_.rx.Mode != ReceiveMode::kText) return;
  // The tuning bar's bin, at the capture's rate (the spectrum's bins are rate / 8192 wide).
  const double binHz = static_cast<double>(capture.Format.SamplesPerSecond) / 8192.0;
  const double toneHz = (parts_.rx.FrequencyBar - 1) * binHz;
  soft_->SetToneHz(toneHz);
  bandmap::BandMapEngine* map = BandMap();
  if (map) map->Follow(toneHz);
  // The band map's decoder reads this station: the window's own rests.
  if (map && map->Following()) return;
  soft_->OnCaptureBlock(data, bytes, capture);
}

bandmap::BandMapEngine* DecoderChoice::BandMap() const {
  return parts_.bandMap ? parts_.bandMap() : nullptr;
}

void DecoderChoice::Poll() {
  if (!soft_) return;
  soft_->Take(reading_);
  if (!reading_.text.empty()) Insert(reading_.text);
  if (bandmap::BandMapEngine* map = BandMap()) {
    followed_.clear();
    map->TakeFollowedText(followed_);
    if (!followed_.empty()) Insert(followed_);
  }
  ShowStatus();
}

void DecoderChoice::Insert(const std::string& text) {
  if (!parts_.rx.Options.TextOutputOn()) return;
  const bool upper = parts_.rx.Options.Case == LetterCase::kUpper;
  for (char c : text) {
    c = upper ? UpperOf(c) : LowerOf(c);
    parts_.text.InsertText(&c, 1);
    parts_.text.TableCharacter(c);
  }
}

void DecoderChoice::ShowStatus() {
  if (!soft_ || reading_.blocks == 0) return;
  const soft::SoftSignalState& s = reading_.state;
  parts_.sp.AvgSignalCntr->setText(
      s.active ? QString::number(static_cast<long long>(std::lround(s.snrDb))) : "?");
  parts_.sp.TestString->setText(
      s.wpm > 0 ? QString::number(static_cast<long long>(std::lround(s.wpm))) : "?");
  label_->setToolTip(reading_.locked ? QString("The Soft decoder reads the carrier at %1 Hz")
                                           .arg(std::lround(reading_.carrierHz))
                                     : QString("The Soft decoder reads at the tuned frequency"));
}

void DecoderChoice::DisableClassicOnly(bool disable) {
  MainMenu& m = parts_.menu;
  ReceivePanel& rp = parts_.rp;
  const std::vector<QObject*> targets = {
      m.Quiet1, m.Normal2, m.Noisy2, m.Manual3,       m.FilterOn1,      m.FilterOff1,
      m.Short1, m.Medium2, m.Long1,  rp.ThresholdBar, rp.ThresholdBar2, rp.RunOnButton};
  if (disable && hints_.empty()) {
    for (QObject* o : targets) {
      if (auto* a = qobject_cast<QAction*>(o)) {
        hints_.push_back({o, a->toolTip(), a->isEnabled()});
        a->setToolTip(kSoftDisabledHint);
        a->setEnabled(false);
        if (auto* menu = qobject_cast<QMenu*>(a->parent())) menu->setToolTipsVisible(true);
      } else if (auto* w = qobject_cast<QWidget*>(o)) {
        hints_.push_back({o, w->toolTip(), w->isEnabled()});
        w->setToolTip(kSoftDisabledHint);
        w->setEnabled(false);
      }
    }
  } else if (!disable) {
    for (const Held& h : hints_) {
      if (!h.object) continue;
      if (auto* a = qobject_cast<QAction*>(h.object.data())) {
        a->setToolTip(h.hint);
        a->setEnabled(h.enabled);
      } else if (auto* w = qobject_cast<QWidget*>(h.object.data())) {
        w->setToolTip(h.hint);
        w->setEnabled(h.enabled);
      }
    }
    hints_.clear();
  }
}

}  // namespace kestrix::shell
