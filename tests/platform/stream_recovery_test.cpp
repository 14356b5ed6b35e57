#include "platform/stream_recovery.h"

#include <gtest/gtest.h>

#include <sstream>

namespace kestrix {
namespace {

double gNow = 0.0;
double FakeNow() {
  return gNow;
}

int Lines(const std::string& s) {
  int n = 0;
  for (char c : s) n += c == '\n';
  return n;
}

TEST(StreamRecovery, KeepsTryingForTheGraceTimeAndSaysSoOncePerLoss) {
  std::ostringstream log;
  StreamRecovery r(20.0, "input", "recording", log, &FakeNow);
  gNow = 100.0;
  EXPECT_FALSE(r.Recovering());
  // A server restart: every late buffer tries again; only the first failure is told.
  for (double t : {100.0, 100.4, 101.1, 119.9}) {
    gNow = t;
    EXPECT_TRUE(r.KeepTrying("Connection refused")) << t;
  }
  EXPECT_TRUE(r.Recovering());
  EXPECT_EQ(log.str(),
            "kestrix: the sound input stopped (Connection refused); trying to reopen it\n");
  r.Recovered();
  EXPECT_FALSE(r.Recovering());
  EXPECT_EQ(Lines(log.str()), 2);
  EXPECT_NE(log.str().find("the sound input is recording again"), std::string::npos);

  // The next loss has its own grace time, measured from its own first failure.
  gNow = 500.0;
  EXPECT_TRUE(r.KeepTrying("gone"));
  gNow = 519.99;
  EXPECT_TRUE(r.KeepTrying("gone"));
  gNow = 520.0;
  EXPECT_FALSE(r.KeepTrying("gone")) << "a device gone for good is a failure after 20 s";
  EXPECT_FALSE(r.Recovering());
  EXPECT_EQ(Lines(log.str()), 3);
}

TEST(StreamRecovery, ARecoveryWithoutAToldLossSaysNothing) {
  std::ostringstream log;
  StreamRecovery r(20.0, "output", "playing", log, &FakeNow);
  // A stream replaced at once (a cut run, a new device) is no news for the operator.
  r.Recovered();
  gNow = 5.0;
  ASSERT_TRUE(r.KeepTrying("x"));
  r.Forget();  // a new device opened: the old loss is forgotten unannounced
  r.Recovered();
  EXPECT_EQ(Lines(log.str()), 1);
  EXPECT_NE(log.str().find("sound output stopped (x)"), std::string::npos);
}

}  // namespace
}  // namespace kestrix
