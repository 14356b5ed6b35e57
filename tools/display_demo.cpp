// Runs a CW signal through the receiver block by block, drawing the spectrum box, the
// level bar and the timeline window as the window does, and saves pictures of them:
//   <out>/screenshot-spectrum-line.png   line graph after 30 blocks
//   <out>/screenshot-waterfall.png       waterfall 130 blocks later, with two retuning
//                                        clicks in it
//   <out>/screenshot-timeline.png        the timeline window at the same moment
// Input: a recording (--input-file FILE, any rate) or, by default, a generated 20 wpm
// signal at 700 Hz, 10 dB SNR, with a weaker keyed signal at 1200 Hz beside it.
//
// Usage: kestrix_display_demo [--input-file FILE] [--out DIR] [--tone HZ] [--other HZ]
#include <QApplication>
#include <QDir>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QVBoxLayout>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/decode_session.h"
#include "decoder/cp1252.h"
#include "display/level_bar.h"
#include "display/spectrum_display.h"
#include "display/timeline_window.h"
#include "platform/audio_file.h"
#include "receive/receiver.h"
#include "signalgen/morse_gen.h"

namespace {

using namespace kestrix;

struct Text : TextSink {
  void InsertText(const char* bytes, size_t length) override { text.append(bytes, length); }
  std::string text;
};

struct Window : ReceiverSink {
  SpectrumDisplay* box = nullptr;
  TimelineWindow* timeline = nullptr;
  LevelBar* bar = nullptr;
  int displayHeight = kDisplayHeightMenu;
  void SpectrumFrame(const Receiver& rx) override { box->DrawTextFrame(rx, displayHeight); }
  void LevelsUpdated(const Receiver& rx) override { bar->SetInputLevel(rx.InputLevel); }
  void TimelineBlock(const Receiver& rx) override { timeline->AddBlock(rx); }
};

bool Save(QWidget* w, const QString& path) {
  QApplication::processEvents();
  if (!w->grab().save(path)) {
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    return false;
  }
  std::printf("wrote %s\n", qPrintable(path));
  return true;
}

void Click(SpectrumDisplay* box, int x) {
  QMouseEvent press(QEvent::MouseButtonPress, QPointF(x, 40), QPointF(x, 40), Qt::LeftButton,
                    Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(box, &press);
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  QApplication app(argc, argv);

  std::string input;
  QString out = "docs";
  double toneHz = 700.0;
  double otherHz = 1200.0;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (i + 1 < argc && a == "--input-file") {
      input = argv[++i];
    } else if (i + 1 < argc && a == "--out") {
      out = argv[++i];
    } else if (i + 1 < argc && a == "--tone") {
      toneHz = std::stod(argv[++i]);
    } else if (i + 1 < argc && a == "--other") {
      otherHz = std::stod(argv[++i]);
    } else {
      std::fprintf(stderr, "usage: %s [--input-file FILE] [--out DIR] [--tone HZ] [--other HZ]\n",
                   argv[0]);
      return 2;
    }
  }

  std::vector<int16_t> samples;
  if (input.empty()) {
    signalgen::MorseSignalParams p;
    p.wpm = 20;
    p.toneHz = toneHz;
    p.snrDb = 10;
    p.interfererHz = otherHz;
    p.interfererDb = -6;
    p.interfererText.clear();
    for (int i = 0; i < 12; ++i) p.interfererText += "TEST DE XX1XX ";
    p.seed = 3;
    samples = signalgen::GenerateMorse(
        "VVV VVV CQ CQ CQ DE K1ABC K1ABC K1ABC PSE K = THE QUICK BROWN FOX JUMPS OVER THE "
        "LAZY DOG 0123456789 = UR RST 599 599 NAME HANK QTH BOSTON = K",
        p);
  } else {
    RecordingReader reader;
    std::string error;
    if (!reader.Open(input, 44100, error)) {
      std::fprintf(stderr, "%s\n", error.c_str());
      return 1;
    }
    std::vector<int16_t> frames(static_cast<size_t>(4096 * reader.Channels()));
    for (;;) {
      const int got = reader.Read(frames.data(), 4096);
      if (got <= 0) break;
      for (int i = 0; i < got; ++i) {
        samples.push_back(reader.Channels() == 1
                              ? frames[static_cast<size_t>(i)]
                              : static_cast<int16_t>((frames[2 * static_cast<size_t>(i)] +
                                                      frames[2 * static_cast<size_t>(i) + 1]) /
                                                     2));
      }
    }
  }
  if (!QDir().mkpath(out)) {
    std::fprintf(stderr, "cannot create %s\n", qPrintable(out));
    return 1;
  }

  // The upper part of the window: marker label and level bar over the spectrum box.
  QWidget panel;
  panel.setStyleSheet("background: white");
  auto* mkr = new QLabel("0", &panel);
  mkr->setObjectName("MkrLabel");
  QFont bold = mkr->font();
  bold.setBold(true);
  mkr->setFont(bold);
  auto* bar = new LevelBar(&panel);
  bar->setFixedSize(kLevelBarWidth, kLevelBarHeight);
  auto* box = new SpectrumDisplay(&panel);
  box->setFixedSize(kImagePanelWidth, kDisplayBitmapHeight);
  auto* top = new QHBoxLayout;
  top->addWidget(mkr);
  top->addStretch();
  top->addWidget(new QLabel("Input Level", &panel));
  top->addWidget(bar);
  auto* col = new QVBoxLayout(&panel);
  col->setContentsMargins(4, 4, 4, 4);
  col->addLayout(top);
  col->addWidget(box);
  panel.show();

  TimelineWindow timeline;
  timeline.Geometry = {100, 200, 340, 640};

  Window sink;
  sink.box = box;
  sink.timeline = &timeline;
  sink.bar = bar;
  Text text;
  Receiver rx(text, &sink);
  QObject::connect(box, &SpectrumDisplay::markerTextChanged, mkr, &QLabel::setText);
  QObject::connect(box, &SpectrumDisplay::mouseDown, [&](int x) {
    rx.SpectrumClick(x);
    mkr->setText(QString::number(rx.Tone.MarkerHz));
  });

  rx.TextModeSetup();
  rx.RestartLearning();
  rx.StartValues();
  box->ClearForStart(sink.displayHeight);
  Click(box, ToneClickPosition(toneHz));
  timeline.Enable();
  rx.TimelineEnabled = true;

  const auto blocks = [&] {
    std::vector<std::vector<uint8_t>> b;
    for (size_t s = 0; s + kBlockFrames <= samples.size() + kBlockFrames - 1; s += kBlockFrames) {
      std::vector<uint8_t> block(2 * static_cast<size_t>(kBlockFrames), 0);
      for (size_t i = 0; i < static_cast<size_t>(kBlockFrames) && s + i < samples.size(); ++i) {
        const auto v = static_cast<uint16_t>(samples[s + i]);
        block[2 * i] = static_cast<uint8_t>(v & 0xFF);
        block[2 * i + 1] = static_cast<uint8_t>(v >> 8);
      }
      b.push_back(std::move(block));
    }
    return b;
  }();

  // Line graph for the first 30 blocks (5.6 s), then the waterfall. 40 rows into the
  // waterfall the marker goes to the other signal for 30 blocks and comes back; the
  // pictures are taken when the waterfall's 130 rows hold all of it.
  const int n = static_cast<int>(blocks.size());
  const int lineBlocks = 30;
  const int awayAt = lineBlocks + 40;
  const int backAt = awayAt + 30;
  const int pictureAt = std::min(lineBlocks + kDisplayBitmapHeight, n);
  bool ok = true;
  for (int i = 0; i < n; ++i) {
    if (i == lineBlocks) {
      ok = Save(&panel, out + "/screenshot-spectrum-line.png") && ok;
      box->ClearLineBlack(sink.displayHeight);  // Display > Type > "Waterfall"
      rx.SetDisplayType(DisplayType::kWaterfall);
    }
    if (i == awayAt) Click(box, ToneClickPosition(otherHz));
    if (i == backAt) Click(box, ToneClickPosition(toneHz));
    if (i == pictureAt) {
      ok = Save(&panel, out + "/screenshot-waterfall.png") && ok;
      ok = Save(&timeline, out + "/screenshot-timeline.png") && ok;
    }
    box->ClearTextFrame(sink.displayHeight);
    rx.ProcessTextBlock(blocks[static_cast<size_t>(i)].data());
    QApplication::processEvents();
  }
  if (pictureAt >= n) {
    ok = Save(&panel, out + "/screenshot-waterfall.png") && ok;
    ok = Save(&timeline, out + "/screenshot-timeline.png") && ok;
  }
  std::printf("%d blocks, decoded: %s\n", n, Cp1252ToUtf8(text.text).c_str());
  return ok ? 0 : 1;
}
