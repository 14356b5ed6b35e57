// What a new user sees first: exact window titles, where a default settings file puts the
// windows, the manual threshold line following its bar, and the Text menu leaving the
// buttons' captions alone.
#include <QAction>
#include <QApplication>
#include <QGuiApplication>
#include <QMenuBar>
#include <QScreen>
#include <QScrollBar>

#include "display/spectrum_display.h"
#include "display/timeline_window.h"
#include "settings_test_util.h"
#include "shell/afc_start_dialog.h"
#include "shell/app_identity.h"
#include "shell/settings_bridge.h"
#include "shell/settings_command.h"
#include "shell/sound_card_dialog.h"
#include "shell/window_placement.h"
#include "window_fixture.h"

namespace kestrix::shell::testing {
namespace {

class WindowPolish : public WindowTest {};

TEST_F(WindowPolish, EveryWindowCarriesExactlyItsOwnTitle) {
  ConfigureApplication();
  // With a display name set, Qt's desktop back ends append " — <name>" to every title.
  // An unset one follows the application name, so renaming the application shows it.
  QCoreApplication::setApplicationName("probe");
  EXPECT_EQ(QGuiApplication::applicationDisplayName(), "probe")
      << "a display name is set; window titles would carry it";
  QCoreApplication::setApplicationName(kApplicationName);
  EXPECT_EQ(QGuiApplication::desktopFileName(), kDesktopId);

  MainWindow& w = Make();
  const std::pair<const QWidget*, const char*> titles[] = {
      {&w, "Kestrix"},
      {&w.Timeline(), "Time Line Display"},
      {&w.AfcStartForm(), "AFC Start Frequency"},
      {&w.SoundCardForm(), "Select Sound Card"},
  };
  for (const auto& [window, title] : titles) EXPECT_EQ(window->windowTitle(), title);
}

TEST_F(WindowPolish, DefaultSettingsFileCentresTheWindowAndKeepsTheTimelineClear) {
  const std::string path = (Home() + "/Kestrix.cfc").toStdString();
  std::string error;
  ASSERT_TRUE(WriteDefaultSettingsFile(path, error)) << error;
  MainWindow& w = Make();
  w.move(0, 0);
  w.show();
  FirstTick();

  const QRect desk = w.screen()->availableGeometry();
  const QRect frame = w.frameGeometry();
  EXPECT_LE(std::abs(frame.center().x() - desk.center().x()), 1);
  EXPECT_LE(std::abs(frame.center().y() - desk.center().y()), 1);
  // The first start saves real positions, never the placeholder.
  const SettingsRecord saved = w.Settings().Current();
  EXPECT_EQ(saved.MainLeft, frame.x());
  EXPECT_EQ(saved.MainTop, frame.y());

  w.Receive().Enable3Click();
  const QWidget* bar = w.ReceiveControls().FrequencyBar;
  const QRect menuAndDisplay(frame.topLeft(),
                             QPoint(frame.right(), bar->mapToGlobal(QPoint(0, bar->height())).y()));
  EXPECT_FALSE(w.Timeline().frameGeometry().intersects(menuAndDisplay))
      << "timeline at " << w.Timeline().x() << "," << w.Timeline().y();
  EXPECT_NE(w.Timeline().Geometry.Top, kAutomaticPosition);
  EXPECT_NE(w.Timeline().Geometry.Left, kAutomaticPosition);
}

TEST_F(WindowPolish, StoredPositionsAreKeptAsTheyAre) {
  SettingsRecord r = DefaultSettings();
  r.MainLeft = 30;
  r.MainTop = 40;
  r.TimelineLeft = 50;
  r.TimelineTop = 60;
  kestrix::testing::WriteBytes((Home() + "/Kestrix.cfc").toStdString(), SerializeSettings(r));
  MainWindow& w = Make();
  w.show();
  FirstTick();
  EXPECT_EQ(w.pos(), QPoint(30, 40));
  EXPECT_EQ(w.Timeline().Geometry.Left, 50);
  EXPECT_EQ(w.Timeline().Geometry.Top, 60);
}

// Rows of the bitmap holding a full-width run of `colour` from x = 0.
std::vector<int> LineRows(const QImage& bmp, QRgb colour, int width) {
  std::vector<int> rows;
  for (int y = 0; y < bmp.height(); ++y) {
    bool line = true;
    for (int x = 0; x < width && line; ++x) line = bmp.pixel(x, y) == colour;
    if (line) rows.push_back(y);
  }
  return rows;
}

TEST_F(WindowPolish, ThresholdLineFollowsTheBarWhileStopped) {
  Start();
  ASSERT_FALSE(W().Loop().Running());
  auto* bar = Find<QScrollBar>("ThresholdBar2");
  const QImage& bmp = W().ReceiveControls().SpectrumBox->SpectrumBitmap();
  struct Step {
    const char* mode;
    int position;
    QRgb colour;
    int row;
  };
  const Step steps[] = {
      // Text mode: 16/35 pixel per step, blue.
      {"text", 100, 0xFF0000FF, 100 * 16 / 35},
      {"text", 40, 0xFF0000FF, 40 * 16 / 35},
      // Manual mode: one pixel per step, red.
      {"manual", 70, 0xFFFF0000, 70},
      {"manual", 20, 0xFFFF0000, 20},
  };
  W().Receive().Manual3Click();
  for (const Step& s : steps) {
    if (std::string(s.mode) == "manual" && W().Rx().Mode != ReceiveMode::kManual) {
      W().Receive().ManualButtonClick();
    }
    bar->setValue(s.position);
    EXPECT_EQ(LineRows(bmp, s.colour, 400), std::vector<int>{s.row}) << s.mode << " " << s.position;
  }
  // Another threshold type draws no line and leaves the picture alone.
  W().Receive().Noisy2Click();
  const QImage before = bmp.copy();
  bar->setValue(200);
  EXPECT_EQ(bmp, before);
}

TEST_F(WindowPolish, TextMenusSetValuesAndMarksButNotTheButtons) {
  Start();
  auto* spaces = Find<QPushButton>("SpaceButton");
  auto* runOn = Find<QPushButton>("RunOnButton");
  struct Choice {
    void (ReceiveSide::*handler)();
    const char* item;
    bool spacesOn;
    SpaceTime spacing;
  };
  const Choice choices[] = {
      {&ReceiveSide::SpacesOffClick, "SpacesOff", false, SpaceTime::kMedium},
      {&ReceiveSide::Long1Click, "Long1", false, SpaceTime::kLong},
      {&ReceiveSide::Short1Click, "Short1", false, SpaceTime::kShort},
      {&ReceiveSide::SpacesOnClick, "SpacesOn", true, SpaceTime::kShort},
  };
  for (const Choice& c : choices) {
    (W().Receive().*c.handler)();
    EXPECT_TRUE(Find<QAction>(c.item)->isChecked()) << c.item;
    EXPECT_EQ(W().Rx().Options.SpacesOn(), c.spacesOn) << c.item;
    EXPECT_EQ(W().Rx().Options.Spacing, c.spacing) << c.item;
    EXPECT_EQ(Caption(spaces), "ON") << c.item;
    EXPECT_EQ(Caption(runOn), "MEDIUM") << c.item;
    EXPECT_EQ(Colour(runOn), kRed) << c.item;
  }
  // The button then goes on from the value the menu set: SHORT -> MEDIUM.
  runOn->click();
  EXPECT_EQ(Caption(runOn), "MEDIUM");
  EXPECT_EQ(W().Rx().Options.Spacing, SpaceTime::kMedium);
  runOn->click();
  EXPECT_EQ(Caption(runOn), "LONG");
}

}  // namespace
}  // namespace kestrix::shell::testing
