// Measures the window's sending by hand: runs the real window (offscreen) on a recording
// paced in real time, with a keying line that timestamps every edge on the monotonic
// clock, and reports: key press to first key-down, the keying of characters typed faster
// than they go out (gaps and element lengths while reception pauses), and how long a send
// thread's window call waits while the receive loop pauses.
//
//   kestrix_send_latency RECORDING.wav
#include <QApplication>
#include <QKeyEvent>
#include <QMetaObject>
#include <QPlainTextEdit>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/file_capture.h"
#include "shell/main_window.h"
#include "shell/window_transmit_host.h"
#include "transmit/key_line.h"
#include "transmit/transmit_controller.h"

namespace {

int64_t NowUs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

struct Edge {
  int64_t us;
  uint8_t state;
};

class StampLine final : public kestrix::transmit::KeyLine {
 public:
  void SetKeyLine(uint8_t state) override {
    std::lock_guard<std::mutex> lock(mu_);
    edges_.push_back({NowUs(), state});
  }
  std::vector<Edge> Edges() {
    std::lock_guard<std::mutex> lock(mu_);
    return edges_;
  }

 private:
  std::mutex mu_;
  std::vector<Edge> edges_;
};

void Report(const char* what, std::vector<double> v, const char* unit) {
  if (v.empty()) {
    std::printf("%s: no samples\n", what);
    return;
  }
  std::sort(v.begin(), v.end());
  double sum = 0;
  for (double x : v) sum += x;
  std::printf("%s: n=%zu min %.3f median %.3f mean %.3f p95 %.3f max %.3f %s\n", what, v.size(),
              v.front(), v[v.size() / 2], sum / static_cast<double>(v.size()),
              v[v.size() * 95 / 100], v.back(), unit);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s RECORDING.wav\n", argv[0]);
    return 2;
  }
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  StampLine line;
  kestrix::shell::WindowSeams seams;
  seams.message = [](const std::string& t, const std::string& x) {
    std::printf("[message] %s: %s\n", t.c_str(), x.c_str());
  };
  seams.keyLine = &line;
  kestrix::shell::WindowOptions options;
  options.autoStart = true;
  kestrix::FileCaptureOptions fileOptions;
  fileOptions.loop = true;
  kestrix::shell::MainWindow w(std::make_unique<kestrix::FileCapture>(argv[1], fileOptions),
                               options, seams);
  w.show();
  QPlainTextEdit* memo = w.TransmitControls().Memo1;

  auto key = [&](int qtKey, char text) {
    QCoreApplication::postEvent(
        memo, new QKeyEvent(QEvent::KeyPress, qtKey, Qt::NoModifier, QString(QChar(text))));
    QCoreApplication::postEvent(
        memo, new QKeyEvent(QEvent::KeyRelease, qtKey, Qt::NoModifier, QString(QChar(text))));
  };
  auto sleepMs = [](int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); };
  auto firstDownAfter = [&](int64_t t) -> int64_t {
    for (const Edge& e : line.Edges())
      if (e.us >= t && e.state == kestrix::transmit::kKeyDown) return e.us;
    return -1;
  };

  std::thread driver([&] {
    sleepMs(2500);  // the automatic start has run the receive loop by now
    QMetaObject::invokeMethod(
        &w, [&] { w.Transmitter().XmitButtonClick(); }, Qt::BlockingQueuedConnection);
    const int unitMs = w.Tx().Timing.UnitMs.load();
    std::printf("speed %d wpm, unit %d ms, blocks processed %lld\n", w.Tx().SpeedWpm, unitMs,
                static_cast<long long>(w.Loop().BlocksProcessed()));

    // 1. One key at a time, with reception running between them.
    std::vector<double> latency;
    for (int i = 0; i < 30; ++i) {
      const int64_t t = NowUs();
      key(Qt::Key_E, 'e');
      sleepMs(400 + 37 * (i % 7));
      const int64_t down = firstDownAfter(t);
      if (down > 0) latency.push_back(static_cast<double>(down - t) / 1000.0);
    }
    Report("key press to first key-down", latency, "ms");

    // 2. Twenty T's typed 20 ms apart: they queue and go out back to back.
    const size_t from = line.Edges().size();
    for (int i = 0; i < 20; ++i) {
      key(Qt::Key_T, 't');
      sleepMs(20);
    }
    // 3. Meanwhile reception pauses: time window calls from another thread.
    sleepMs(600);
    std::vector<double> handOff;
    for (int i = 0; i < 150; ++i) {
      const int64_t t = NowUs();
      int64_t ran = 0;
      w.TransmitHostSide().CallOnGui([&] { ran = NowUs(); });
      if (w.Loop().TxActive.load() == 1 && ran > 0)
        handOff.push_back(static_cast<double>(ran - t) / 1000.0);
      sleepMs(3 + i % 11);
    }
    sleepMs(3000);
    const std::vector<Edge> edges = line.Edges();
    std::vector<double> gaps, marks;
    int64_t lastDown = -1;
    for (size_t i = from; i + 1 < edges.size(); ++i) {
      if (edges[i].state != kestrix::transmit::kKeyDown) continue;
      marks.push_back(static_cast<double>(edges[i + 1].us - edges[i].us) / 1000.0 - 3.0 * unitMs);
      if (lastDown >= 0)
        gaps.push_back(static_cast<double>(edges[i].us - lastDown) / 1000.0 - 6.0 * unitMs);
      lastDown = edges[i].us;
    }
    Report("typed ahead: dash length minus 3 units", marks, "ms");
    Report("typed ahead: character period minus 6 units", gaps, "ms");
    Report("window call from a send thread while reception pauses", handOff, "ms");
    QMetaObject::invokeMethod(
        &w, [&] { w.QuitButtonClick(); }, Qt::QueuedConnection);
  });
  const int rc = app.exec();
  driver.join();
  return rc;
}
