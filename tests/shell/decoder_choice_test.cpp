// Receive > Decoder in the window: the choice kept in the window's own file across a
// restart with the main settings file untouched, the classic chain's text held back while
// the soft engine reads, the controls it does not use disabled with their reason, a weak
// recording read into the pane, and a band map tune moving the soft reading.
#include "shell/decoder_choice.h"

#include <QAction>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QScrollBar>
#include <QThread>
#include <QTimer>
#include <cctype>
#include <string>
#include <vector>

#include "platform/file_capture.h"
#include "shell/band_map_link.h"
#include "shell/main_menu.h"
#include "shell/settings_command.h"
#include "signalgen/band_scene.h"
#include "signalgen/morse_gen.h"
#include "support/scene_blocks.h"
#include "support/text_metrics.h"
#include "window_fixture.h"

namespace kestrix::shell::testing {
namespace {

using softrx::DecoderKind;

class Decoder : public WindowTest {
 protected:
  DecoderChoice& D() { return W().Decoder(); }
};

QByteArray Bytes(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// What reaches the hub, as one string; CLEAR as '|'.
class Recorder final : public TextSink {
 public:
  void InsertText(const char* bytes, size_t length) override { text.append(bytes, length); }
  void TableCharacter(char c) override { table += c; }
  void ProsignLetter(char c) override { table += c; }
  void ClearPanes() override { text += '|'; }
  std::string text;
  std::string table;
};

TEST(DecoderGate, TheClassicChainsTextPassesOnlyWhileClassicIsChosenAndClearAlways) {
  Recorder out;
  DecoderGate gate(out);
  softrx::SoftReceiver soft({});
  gate.InsertText("ab", 2);
  gate.TableCharacter('a');
  gate.SetSoft(&soft);
  gate.InsertText("cd", 2);
  gate.TableCharacter('c');
  gate.ProsignLetter('K');
  gate.ClearPanes();
  gate.SetSoft(nullptr);
  gate.InsertText("e", 1);
  EXPECT_EQ(out.text, "ab|e");
  EXPECT_EQ(out.table, "a");
}

TEST_F(Decoder, TheChoiceSurvivesARestartAndTheMainSettingsFileIsUntouched) {
  const QString main = Home() + "/Kestrix.cfc";
  std::string error;
  ASSERT_TRUE(WriteDefaultSettingsFile(main.toStdString(), error)) << error;
  Start();
  EXPECT_EQ(D().Kind(), DecoderKind::kClassic);
  EXPECT_FALSE(Find<QLabel>("DecoderLabel")->isVisibleTo(&W()));
  Destroy();
  const QByteArray classic = Bytes(main);
  ASSERT_FALSE(classic.isEmpty());

  Start();
  Find<QAction>("Soft1")->trigger();
  EXPECT_EQ(D().Kind(), DecoderKind::kSoft);
  ASSERT_NE(D().Engine(), nullptr);
  EXPECT_TRUE(D().Engine()->Running());
  Destroy();
  EXPECT_EQ(Bytes(main), classic);
  EXPECT_TRUE(Bytes(Home() + "/KestrixWindow.cfg").contains("decoder=soft"));

  Start();
  EXPECT_EQ(D().Kind(), DecoderKind::kSoft);
  EXPECT_TRUE(Find<QAction>("Soft1")->isChecked());
  EXPECT_FALSE(Find<QAction>("Classic1")->isChecked());
  EXPECT_TRUE(Find<QLabel>("DecoderLabel")->isVisibleTo(&W()));
  Destroy();

  // The command line's choice is for this start only.
  WindowOptions options;
  options.decoder = "classic";
  Make(std::make_unique<FakeCapture>(), options).show();
  FirstTick();
  EXPECT_EQ(D().Kind(), DecoderKind::kClassic);
  Destroy();
  EXPECT_TRUE(Bytes(Home() + "/KestrixWindow.cfg").contains("decoder=soft"));
  EXPECT_EQ(Bytes(main), classic);
}

TEST_F(Decoder, ABadLineInTheWindowsFileIsReportedAndClassicReads) {
  QFile f(Home() + "/KestrixWindow.cfg");
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write("decoder=fast\n");
  f.close();
  Start();
  EXPECT_EQ(D().Kind(), DecoderKind::kClassic);
  EXPECT_NE(D().Problem().find("fast"), std::string::npos) << D().Problem();
}

TEST_F(Decoder, ControlsTheSoftDecoderDoesNotUseAreDisabledAndSayWhy) {
  Start();
  const char* widgets[] = {"ThresholdBar", "ThresholdBar2", "RunOnButton"};
  const char* items[] = {"Quiet1",     "Normal2", "Noisy2",  "Manual3", "FilterOn1",
                         "FilterOff1", "Short1",  "Medium2", "Long1"};
  std::vector<std::pair<bool, QString>> before;
  for (const char* n : widgets)
    before.emplace_back(Find<QWidget>(n)->isEnabled(), Find<QWidget>(n)->toolTip());

  D().Soft1Click();
  for (const char* n : widgets) {
    SCOPED_TRACE(n);
    EXPECT_FALSE(Find<QWidget>(n)->isEnabled());
    EXPECT_EQ(Find<QWidget>(n)->toolTip(), kSoftDisabledHint);
  }
  for (const char* n : items) {
    SCOPED_TRACE(n);
    EXPECT_FALSE(Find<QAction>(n)->isEnabled());
    EXPECT_EQ(Find<QAction>(n)->toolTip(), kSoftDisabledHint);
  }
  // Tuning, CLEAR, Lock WPM and the modes still work.
  for (const char* n : {"ClearButton", "LockWpmBtn", "FrequencyBar"}) {
    SCOPED_TRACE(n);
    EXPECT_TRUE(Find<QWidget>(n)->isEnabled());
  }
  EXPECT_TRUE(Find<QAction>("Text2")->isEnabled());

  D().Classic1Click();
  for (size_t i = 0; i < std::size(widgets); ++i) {
    SCOPED_TRACE(widgets[i]);
    EXPECT_EQ(Find<QWidget>(widgets[i])->isEnabled(), before[i].first);
    EXPECT_EQ(Find<QWidget>(widgets[i])->toolTip(), before[i].second);
  }
  for (const char* n : items) EXPECT_TRUE(Find<QAction>(n)->isEnabled()) << n;
}

TEST_F(Decoder, ABandMapTuneMovesTheSoftReadingToThatStation) {
  Start();
  D().Soft1Click();
  W().BandMap().TuneTo(1000.0);
  const std::vector<uint8_t> silence(2 * kBlockFrames, 0);
  W().Rx().Mode = ReceiveMode::kText;
  D().OnCaptureBlock(silence.data(), static_cast<uint32_t>(silence.size()), W().Rx().Capture);
  EXPECT_NEAR(D().Engine()->ToneHz(), 1000.0, kBinHz);
}

// With the band map open, Enter on a row puts that station's text in the pane: the band
// map's decoder for it, handed over as it reads.
TEST_F(Decoder, WithTheBandMapOpenThePaneReadsTheTunedStationFromItsDecoder) {
  signalgen::SceneRecipe r;
  r.durationS = 40;
  r.lowHz = 500;
  r.highHz = 2000;
  r.runners = 2;
  r.callersPerRunner = 0;
  r.ragchews = r.beacons = r.birdies = r.clickers = 0;
  r.minSnrDb = 15;
  r.maxSnrDb = 25;
  r.fadingShare = r.handKeyShare = 0;
  r.contest = false;
  r.seed = 3;
  const auto plan = signalgen::PlanScene(r);
  const auto blocks = kestrix::testing::SceneBlocks(plan);
  ASSERT_EQ(plan.stations.size(), 2u);

  Start();
  D().Soft1Click();
  W().BandMap().Open();
  bandmap::BandMapEngine& engine = *W().BandMap().Engine();
  W().BandMap().TuneTo(plan.stations[1].offsetHz);  // as Enter on its row
  W().Rx().Mode = ReceiveMode::kText;
  for (const auto& block : blocks) {
    const auto bytes = static_cast<uint32_t>(block.size());
    const uint64_t before = engine.Queue().Pushed();
    engine.OnCaptureBlock(block.data(), bytes, W().Rx().Capture);
    D().OnCaptureBlock(block.data(), bytes, W().Rx().Capture);
    for (int wait = 0; wait < 5000; ++wait) {
      bandmap::Snapshot s;
      engine.TakeSnapshot(s);
      if (s.blocks == before + 1) break;
      QThread::msleep(1);
    }
    D().Poll();
  }
  EXPECT_TRUE(engine.Following());  // the band map's decoder, not a second one
  const std::string pane = Memo2()->toPlainText().toUpper().toStdString();
  EXPECT_NE(pane.find(plan.stations[1].call), std::string::npos) << pane;
  EXPECT_EQ(pane.find(plan.stations[0].call), std::string::npos) << pane;
}

// A weak recording (-1 dB in 500 Hz) through the window's receive loop, as
// `kestrix --input-file --decoder soft` plays it: the soft engine's text reaches the pane.
TEST_F(Decoder, WithSoftAWeakRecordingReadsInTheReceivePane) {
  const std::string sent = "CQ CQ DE K1ABC K1ABC THE QUICK BROWN FOX JUMPS OVER THE LAZY DOG K";
  signalgen::MorseSignalParams p;
  p.wpm = 20;
  p.toneHz = 700;
  p.snrDb = -8;  // in 2500 Hz
  p.amplitude = 0.02;
  p.seed = 2;
  const QString wav = Home() + "/weak.wav";
  ASSERT_TRUE(signalgen::WriteWav16(wav.toStdString(), signalgen::GenerateMorse(sent, p), 44100));
  auto file = std::make_unique<FileCapture>(wav.toStdString(), FileCaptureOptions{false, false});
  FileCapture* device = file.get();
  WindowOptions options;
  options.autoStart = true;
  options.tunePosition = 131;  // 700 Hz
  options.decoder = "soft";
  options.softQueueBlocks = 400;  // the whole recording: handed over faster than it is read
  Make(std::move(file), options).show();

  ASSERT_TRUE(PlayToEnd(*device, 10)) << "the loop never reached the end of the recording";
  // The worker finishes what was handed to it; the pane takes it.
  for (int i = 0; i < 500; ++i) {
    softrx::SoftReading r;
    D().Engine()->Take(r);
    if (!r.text.empty()) W().Text().InsertText(r.text.data(), r.text.size());
    if (r.blocks > 0 && r.blocks + r.dropped >= static_cast<uint64_t>(device->EndBuffer())) break;
    QThread::msleep(10);
  }
  D().Poll();
  softrx::SoftReading last;
  D().Engine()->Take(last);
  EXPECT_EQ(last.dropped, 0u);
  std::string got = Memo2()->toPlainText().toStdString();
  std::string want;
  for (char c : sent) want += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  EXPECT_LE(kestrix::testing::CharacterErrorRate(want, got), 0.05) << got;
}

}  // namespace
}  // namespace kestrix::shell::testing
