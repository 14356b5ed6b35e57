// The band map's own settings file: what is written is read back, a missing file gives the
// defaults, and a bad line costs only its own value.
#include "bandmap/band_map_settings.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

namespace kestrix::bandmap {
namespace {

std::string TempPath(const char* name) {
  return testing::TempDir() + "/bandmap_" + std::to_string(::getpid()) + "_" + name;
}

TEST(BandMapSettings, WhatIsSavedIsLoadedBack) {
  BandMapSettings s;
  s.x = -20;
  s.y = 40;
  s.width = 900;
  s.height = 560;
  s.listHeight = 210;
  s.rigctld = "localhost:4532";
  s.dialKhz = 7030.125;
  s.lowerSideband = true;
  const std::string path = TempPath("roundtrip.cfg");
  std::string error;
  ASSERT_TRUE(SaveBandMapSettings(path, s, error)) << error;
  BandMapSettings back;
  ASSERT_TRUE(LoadBandMapSettings(path, back, error)) << error;
  EXPECT_EQ(back, s);
  std::remove(path.c_str());
}

TEST(BandMapSettings, AMissingFileGivesTheDefaults) {
  BandMapSettings s;
  std::string error;
  EXPECT_TRUE(LoadBandMapSettings(TempPath("absent.cfg"), s, error));
  EXPECT_EQ(s, BandMapSettings{});
  EXPECT_FALSE(s.dialKhz.has_value());
}

TEST(BandMapSettings, ABadLineIsReportedAndTheOthersStillApply) {
  const struct {
    const char* text;
    const char* error;  // start of the message
  } cases[] = {
      {"geometry=1,2,3\n", "line 1: geometry"},
      {"geometry=a,b,c,d\n", "line 1: geometry"},
      {"dial_khz=7,030\n", "line 1: dial_khz"},
      {"sideband=cw\n", "line 1: sideband"},
      {"rigctld=localhost\n", "line 1: rig control address 'localhost' is not HOST:PORT"},
      {"rigctld=host:99999\n", "line 1: rig control address 'host:99999' has no port"},
      {"just words\n", "line 1: 'just words' is not key=value"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    BandMapSettings s;
    std::string error;
    const std::string text = std::string(c.text) + "list_height=150\nfuture_key=1\n";
    EXPECT_FALSE(ParseBandMapSettings(text, s, error));
    EXPECT_EQ(error.rfind(c.error, 0), 0u) << error;
    EXPECT_EQ(s.listHeight, 150);
    EXPECT_EQ(s.width, 0);
  }
}

TEST(BandMapSettings, TheFileIsPlainTextInTheCLocale) {
  BandMapSettings s;
  s.width = 800;
  s.height = 500;
  s.dialKhz = 14025.5;
  EXPECT_EQ(FormatBandMapSettings(s),
            "# Kestrix band map\ngeometry=0,0,800,500\nlist_height=0\nrigctld=\n"
            "dial_khz=14025.500\nsideband=usb\n");
}

}  // namespace
}  // namespace kestrix::bandmap
