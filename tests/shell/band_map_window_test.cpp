// The Band Map window in the main window: the Display menu item and its check mark, labels
// painted over the stations' traces, a label click and Enter on a row tuning the receiver
// as a spectrum click does, the band map's own settings surviving a restart while the main
// settings file stays byte for byte what it would have been, and the real engine filling
// the window from blocks handed over as the receive loop hands them.
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QSplitter>
#include <QTreeWidget>
#include <chrono>
#include <cmath>
#include <thread>

#include "receive/tone_finder.h"
#include "shell/band_map_link.h"
#include "shell/band_map_window.h"
#include "shell/settings_command.h"
#include "signalgen/band_scene.h"
#include "support/scene_blocks.h"
#include "window_fixture.h"

namespace kestrix::shell::testing {
namespace {

class BandMap : public WindowTest {
 protected:
  BandMapLink& Link() { return W().BandMap(); }
  BandMapWindow& Map() { return *Link().Window(); }
  QAction* Item() { return Find<QAction>("BandMap1"); }
};

bandmap::StationRow Station(const char* call, double hz, bool cq, double heard, double snr) {
  bandmap::StationRow r;
  r.call = call;
  r.audioHz = hz;
  r.cq = cq;
  r.lastHeard = heard;
  r.snrDb = snr;
  r.wpm = 24;
  return r;
}

// Three stations as the engine would report them, with a second of waterfall.
bandmap::Snapshot Stations() {
  bandmap::Snapshot s;
  s.now = 1.7e9;
  s.columns = 560;
  s.stations = {Station("DK9IOM", 700, true, s.now - 1, 20),
                Station("N4VP", 760, false, s.now - 2, 12),
                Station("ZL7OR", 1900, true, s.now - 3, 15)};
  for (int i = 0; i < 10; ++i) s.rows.emplace_back(560, -90.0f);
  return s;
}

QByteArray Bytes(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

TEST_F(BandMap, TheDisplayMenuItemOpensAndClosesTheWindowAndCarriesItsCheckMark) {
  Start();
  ASSERT_NE(Item(), nullptr);
  EXPECT_EQ(Item()->text(), "Band Map");
  EXPECT_TRUE(Item()->isCheckable());
  EXPECT_FALSE(Item()->isChecked());
  Item()->trigger();
  ASSERT_TRUE(Link().IsOpen());
  EXPECT_TRUE(Item()->isChecked());
  EXPECT_TRUE(Map().isVisible());
  EXPECT_FALSE(Map().isModal());
  EXPECT_EQ(Map().windowTitle(), "Band Map");
  ASSERT_NE(Link().Engine(), nullptr);
  EXPECT_TRUE(Link().Engine()->Running());
  // Resizable: no fixed size.
  EXPECT_NE(Map().minimumSize(), Map().maximumSize());

  Item()->trigger();
  EXPECT_FALSE(Link().IsOpen());
  EXPECT_FALSE(Item()->isChecked());
  EXPECT_EQ(Link().Engine(), nullptr);

  // The window's close box does the same.
  Item()->trigger();
  ASSERT_TRUE(Link().IsOpen());
  Map().close();
  EXPECT_FALSE(Link().IsOpen());
  EXPECT_FALSE(Item()->isChecked());
}

// An options field with an unconfirmed edit reports it when closing takes its focus; the
// window is gone by then (this crashed on quit with the band map open).
TEST_F(BandMap, ClosingWithAnOptionsFieldInFocusDropsItsUnconfirmedEdit) {
  Start();
  Item()->trigger();
  ASSERT_TRUE(Link().IsOpen());
  // What a window system does when the window hides with the field in focus.
  struct FocusOutOnHide : QObject {
    QLineEdit* edit = nullptr;
    bool eventFilter(QObject*, QEvent* e) override {
      if (e->type() == QEvent::Hide) emit edit->editingFinished();
      return false;
    }
  } focusOut;
  focusOut.edit = Map().RigctldEdit();
  Map().installEventFilter(&focusOut);
  Map().RigctldEdit()->setText("not an address");
  Item()->trigger();
  QApplication::processEvents();
  EXPECT_FALSE(Link().IsOpen());
  EXPECT_EQ(Link().Engine(), nullptr);
}

TEST_F(BandMap, LabelsArePaintedOverTheStationsInTheirColours) {
  Start();
  Link().Open();
  Map().resize(1000, 600);
  Map().Show(Stations());
  BandMapView* view = Map().View();
  const auto& labels = view->Labels();
  ASSERT_EQ(labels.size(), 3u);
  const QImage picture = view->grab().toImage();
  for (const auto& l : labels) {
    SCOPED_TRACE(l.call.toStdString());
    const double x = view->XOf(l.audioHz);
    EXPECT_NEAR(l.rect.center().x(), x, 1.5);
    // The label's pointer runs down to the waterfall in the label's colour.
    const QColor want = l.cq ? BandMapView::CqColour() : BandMapView::OtherColour();
    const QColor got =
        picture.pixelColor(static_cast<int>(std::lround(x)), view->WaterfallTop() - 2);
    EXPECT_EQ(got.rgb(), want.rgb());
  }
  // The runner and its caller 60 Hz away do not overprint each other.
  EXPECT_FALSE(labels[0].rect.intersects(labels[1].rect));
  // A station long quiet has no label.
  bandmap::Snapshot later = Stations();
  later.now += 1000;
  Map().Show(later);
  EXPECT_TRUE(view->Labels().empty());
}

TEST_F(BandMap, EnterOnARowAndAClickOnALabelTuneTheReceiverAsASpectrumClick) {
  Start();
  Link().Open();
  Map().resize(1000, 600);
  Map().Show(Stations());
  QTreeWidget* list = Map().List();
  ASSERT_EQ(list->topLevelItemCount(), 3);
  EXPECT_EQ(list->topLevelItem(0)->text(kColCall), "DK9IOM");
  EXPECT_EQ(list->topLevelItem(0)->text(kColFrequency), "700 Hz");  // no dial: audio Hz
  EXPECT_EQ(list->topLevelItem(0)->text(kColCq), "CQ");
  EXPECT_EQ(list->topLevelItem(1)->text(kColCq), "");

  // What a click on the main spectrum at 1900 Hz does.
  const int position = ToneClickPosition(1900);
  list->setFocus();
  list->setCurrentItem(list->topLevelItem(2));
  QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
  QCoreApplication::sendEvent(list, &enter);
  EXPECT_EQ(W().Rx().FrequencyBar, position);
  EXPECT_EQ(W().Rx().Tone.MarkerHz, position * 22050 / 4096);
  EXPECT_EQ(Find<QLineEdit>("MkrLabel")->text(), QString::number(position * 22050 / 4096));

  // A click on the first label tunes to its station.
  const auto label = Map().View()->Labels().front();
  const QPointF at = label.rect.center();
  QMouseEvent press(QEvent::MouseButtonPress, at, Map().View()->mapToGlobal(at), Qt::LeftButton,
                    Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(Map().View(), &press);
  EXPECT_EQ(W().Rx().FrequencyBar, ToneClickPosition(label.audioHz));

  // With a dial the list reads kHz on the air.
  bandmap::Snapshot withDial = Stations();
  withDial.dialHz = 7030000;
  Map().Show(withDial);
  EXPECT_EQ(list->topLevelItem(0)->text(kColFrequency), "7030.70");
}

TEST_F(BandMap, ItsSettingsSurviveARestartAndTheMainSettingsFileIsUntouched) {
  const QString main = Home() + "/Kestrix.cfc";
  std::string error;
  ASSERT_TRUE(WriteDefaultSettingsFile(main.toStdString(), error)) << error;

  // The main file after a session without the band map ...
  Start();
  Destroy();
  const QByteArray without = Bytes(main);
  ASSERT_FALSE(without.isEmpty());

  // ... and after one with it: the same bytes.
  Start();
  Link().Open();
  Map().resize(720, 460);
  QCoreApplication::processEvents();
  const int total = Map().Split()->sizes().value(0) + Map().Split()->sizes().value(1);
  Map().Split()->setSizes({total - 150, 150});
  Map().DialEdit()->setText("7030.5");
  emit Map().DialEdit()->editingFinished();
  Map().Show(Stations());
  Destroy();
  EXPECT_EQ(Bytes(main), without);
  const QString own = Home() + "/BandMap.cfg";
  ASSERT_TRUE(QFile::exists(own));
  EXPECT_FALSE(Bytes(own).contains("Kestrix.cfc"));

  // The next start opens it as it was left.
  WindowOptions options;
  options.bandMap.open = true;
  Make(std::make_unique<FakeCapture>(), options).show();
  FirstTick();
  QCoreApplication::processEvents();
  ASSERT_TRUE(Link().IsOpen());
  EXPECT_EQ(Map().size(), QSize(720, 460));
  EXPECT_EQ(Map().DialEdit()->text(), "7030.500");
  EXPECT_NEAR(Map().Split()->sizes().value(1), 150, 2);  // the splitter rounds
  Destroy();
  EXPECT_EQ(Bytes(main), without);
}

TEST_F(BandMap, ABadSettingsLineCostsOnlyItsValueAndTheFileIsKept) {
  const QString own = Home() + "/BandMap.cfg";
  {
    QFile f(own);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("geometry=oops\ndial_khz=7010\n");
  }
  Start();
  Link().Open();
  EXPECT_EQ(Map().DialEdit()->text(), "7010.000");
  EXPECT_EQ(Bytes(own + ".bad"), QByteArray("geometry=oops\ndial_khz=7010\n"));
  Link().Close();
  EXPECT_TRUE(Bytes(own).contains("dial_khz=7010.000"));
}

// The real engine in the window: a generated passband handed over block by block as the
// receive loop hands it (without the loop's real-time pacing).
TEST_F(BandMap, TheEngineListsTheCqStationsOfAPassbandAndLabelsTheirTraces) {
  signalgen::SceneRecipe r;
  r.durationS = 50;
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

  Start();
  Link().Open();
  Map().resize(1000, 600);
  bandmap::BandMapEngine& engine = *Link().Engine();
  uint64_t handed = 0;
  for (const auto& block : blocks) {
    engine.OnCaptureBlock(block.data(), static_cast<uint32_t>(block.size()), W().Rx().Capture);
    ++handed;
    // One block in flight at a time, so none is dropped.
    while (engine.Queue().Pushed() == handed && engine.Queue().Dropped() == 0) {
      bandmap::Snapshot s;
      engine.TakeSnapshot(s);
      if (s.blocks == handed) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  Link().Refresh();
  QTreeWidget* list = Map().List();
  for (const auto& station : plan.stations) {
    SCOPED_TRACE(station.call);
    const auto rows =
        list->findItems(QString::fromStdString(station.call), Qt::MatchExactly, kColCall);
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows[0]->text(kColCq), "CQ");
    bool labelled = false;
    for (const auto& l : Map().View()->Labels()) {
      if (l.call.toStdString() == station.call) {
        labelled = true;
        EXPECT_NEAR(l.audioHz, station.offsetHz, 15.0);
      }
    }
    EXPECT_TRUE(labelled);
  }
}

}  // namespace
}  // namespace kestrix::shell::testing
