#include "transmit/keying_port.h"

#include <gtest/gtest.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>

#include <thread>

#include "fake_line.h"
#include "platform/fake_key_device.h"
#include "platform/serial_ports.h"
#include "transmit/port_keyer.h"

namespace kestrix::transmit {
namespace {

using test::FakeKeyDevice;

constexpr int kBoth = TIOCM_DTR | TIOCM_RTS;

struct RecordingHost final : KeyingPortHost {
  void PortMessage(const std::string& title, const std::string& text) override {
    messages.push_back(title + ": " + text);
  }
  void RunNoneHandler() override {
    ++noneRuns;
    port->SelectNoPort();
  }
  void LineFailed(const std::string& device, const std::string& text) override {
    std::lock_guard<std::mutex> lock(mu);
    failures.push_back(device + ": " + text);
  }
  KeyingPort* port = nullptr;
  std::vector<std::string> messages;
  int noneRuns = 0;
  std::mutex mu;
  std::vector<std::string> failures;
};

struct PortRig {
  PortRig() {
    for (int i = 0; i < 12; ++i) {
      devices.push_back("/dev/ttyUSB" + std::to_string(i));
      dev.present.insert(devices.back());
    }
    dev.present.insert("/dev/parport0");
    dev.present.insert("/dev/parport1");
    host.port = &port;
  }
  int Modem(int n) { return dev.Modem(devices[static_cast<size_t>(n)]); }
  TransmitState tx;
  FakeKeyDevice dev;
  RecordingHost host;
  std::vector<std::string> devices;
  KeyingPort port{tx, dev, host, [this] { return devices; }};
};

TEST(KeyingPort, ComPortTwelveOpensTheTwelfthDeviceKeyUp) {
  PortRig rig;
  rig.tx.KeyState = kKeyDown;  // whatever was last commanded, a new port starts key up
  rig.port.SelectComPort(12);
  EXPECT_EQ(rig.tx.PortNameText(), "\\\\.\\COM12");
  EXPECT_EQ(rig.tx.PortKind, kSerialPort);
  EXPECT_EQ(rig.tx.ComPortNumber, 12);
  EXPECT_EQ(rig.port.OpenDevice(), "/dev/ttyUSB11");
  EXPECT_TRUE(rig.port.PortConfigured());
  EXPECT_EQ(rig.tx.KeyState.load(), kKeyUp);
  EXPECT_EQ(rig.Modem(11), 0);
  rig.port.SetKeyLine(kKeyDown);
  EXPECT_EQ(rig.Modem(11), kBoth);
  EXPECT_TRUE(rig.host.messages.empty());
}

TEST(KeyingPort, RtsIsPttWhenSetAndTheCloseReleasesIt) {
  PortRig rig;
  EXPECT_FALSE(rig.port.SetPtt(true)) << "no line";
  rig.port.OpenNamedPort("/dev/ttyUSB0");
  EXPECT_FALSE(rig.port.SetPtt(true)) << "DTR and RTS key together: no PTT";
  rig.port.SetRtsPtt(true);
  rig.port.SetPolarity(2);  // inverted keying leaves the PTT's sense alone
  rig.port.OpenNamedPort("/dev/ttyUSB0");
  EXPECT_EQ(rig.Modem(0), TIOCM_DTR) << "key up, inverted: DTR set, PTT off";
  EXPECT_TRUE(rig.port.SetPtt(true));
  EXPECT_EQ(rig.Modem(0), TIOCM_DTR | TIOCM_RTS);
  rig.port.SetKeyLine(kKeyDown);
  EXPECT_EQ(rig.Modem(0), TIOCM_RTS);
  rig.port.SetPolarity(1);
  rig.port.SetKeyLine(kKeyUp);
  rig.port.ShutDown();
  EXPECT_EQ(rig.Modem(0), 0) << "closing keys up and releases the PTT";
}

TEST(KeyingPort, PolarityFlipsTheLineAtOnceAndGuardsTheClose) {
  struct Case {
    const char* what;
    bool serial;
    uint8_t keyState;
  };
  for (const Case& c :
       {Case{"serial up", true, kKeyUp}, Case{"serial down", true, kKeyDown},
        Case{"parallel up", false, kKeyUp}, Case{"parallel down", false, kKeyDown}}) {
    PortRig rig;
    if (c.serial) {
      rig.port.OpenNamedPort("/dev/ttyUSB0");
    } else {
      rig.port.SelectParallelPort(kPrinter1Address);
    }
    auto asserted = [&] {
      return c.serial ? rig.Modem(0) == kBoth : rig.dev.Data("/dev/parport0") == 3;
    };
    rig.tx.KeyState = c.keyState;
    rig.port.SetKeyLine(c.keyState);
    EXPECT_EQ(asserted(), c.keyState == kKeyDown) << c.what;
    rig.port.SetPolarity(2);
    EXPECT_EQ(asserted(), c.keyState == kKeyUp) << c.what << ": inverted at once";
    EXPECT_EQ(rig.tx.KeyPolarity, 2);
    if (c.serial) {
      EXPECT_FALSE(rig.dev.HangUpOnClose("/dev/ttyUSB0")) << "a close must not key an inverted rig";
    }
    rig.port.SetPolarity(1);
    EXPECT_EQ(asserted(), c.keyState == kKeyDown) << c.what << ": back to normal";
    if (c.serial) {
      EXPECT_TRUE(rig.dev.HangUpOnClose("/dev/ttyUSB0"));
    }
  }
}

TEST(KeyingPort, ClosingLeavesTheKeyUpWhateverThePolarity) {
  for (int polarity : {1, 2}) {
    PortRig rig;
    rig.port.OpenNamedPort("/dev/ttyUSB3");
    rig.port.SetPolarity(polarity);
    rig.port.SetKeyLine(kKeyDown);
    rig.port.SelectNoPort();
    EXPECT_EQ(rig.Modem(3), polarity == 2 ? kBoth : 0) << "polarity " << polarity;
    EXPECT_EQ(rig.tx.PortNameText(), "NONE");
    EXPECT_EQ(rig.tx.PortKind, kNoPort);
    EXPECT_EQ(rig.dev.OpenCount(), 0);
  }
}

TEST(KeyingPort, StoredNamesFollowTheLoadRule) {
  struct Case {
    const char* name;
    int32_t kind;
    const char* device;
  };
  for (const Case& c :
       {Case{"LPT1", kParallelPort, "/dev/parport0"}, Case{"LPT2", kParallelPort, "/dev/parport0"},
        Case{"NONE", kNoPort, ""}, Case{"\\\\.\\COM2", kSerialPort, "/dev/ttyUSB1"},
        Case{"/dev/ttyUSB7", kSerialPort, "/dev/ttyUSB7"}}) {
    PortRig rig;
    rig.port.OpenNamedPort("/dev/ttyUSB5");  // something open before the load
    rig.port.LoadStoredPort(c.name);
    EXPECT_EQ(rig.tx.PortKind, c.kind) << c.name;
    EXPECT_EQ(rig.port.OpenDevice(), c.device) << c.name;
    if (c.kind == kParallelPort) {
      EXPECT_EQ(rig.tx.ParallelAddress, kPrinter1Address) << c.name;
    }
    EXPECT_EQ(rig.dev.OpenCount(), c.kind == kNoPort ? 0 : 1) << c.name;
    EXPECT_TRUE(rig.host.messages.empty()) << c.name;
  }
}

TEST(KeyingPort, OpenFailuresReportAndFallBackToNone) {
  PortRig rig;
  rig.dev.openErrors["/dev/ttyUSB4"] = EACCES;
  rig.port.SelectComPort(5);
  ASSERT_EQ(rig.host.messages.size(), 1u);
  EXPECT_NE(rig.host.messages[0].find("Communications I/O Error: Failed to open the comms device"),
            std::string::npos);
  EXPECT_NE(rig.host.messages[0].find("/dev/ttyUSB4"), std::string::npos);
  EXPECT_NE(rig.host.messages[0].find("dialout"), std::string::npos);
  EXPECT_EQ(rig.host.noneRuns, 1);
  EXPECT_EQ(rig.tx.PortNameText(), "NONE");
  EXPECT_FALSE(rig.port.PortConfigured());

  rig.port.SelectComPort(40);  // no such device
  EXPECT_EQ(rig.host.messages.size(), 2u);
  EXPECT_EQ(rig.host.noneRuns, 2);

  rig.dev.present.erase("/dev/parport1");
  rig.port.SelectParallelPort(kPrinter2Address);
  ASSERT_EQ(rig.host.messages.size(), 3u);
  EXPECT_NE(rig.host.messages[2].find("ppdev"), std::string::npos) << rig.host.messages[2];
  EXPECT_EQ(rig.tx.PortKind, kNoPort);
}

TEST(KeyingPort, VanishedLineReportsOnceDropsToNoneAndKeyingGoesOn) {
  PortRig rig;
  rig.port.OpenNamedPort("/dev/ttyUSB0");
  ElementTiming timing;
  ComputeElementTiming(timing, 20, {});
  test::FakeClock clock;
  PortKeyer keyer(SendTable(), timing, rig.port, clock, rig.tx.KeyState);
  rig.dev.vanishAfter = 4;  // the open's key up was the first change
  for (char c : std::string("PARIS")) keyer.SendCharToPort(static_cast<uint8_t>(c));
  ASSERT_EQ(rig.host.failures.size(), 1u) << "one report, not one per edge";
  EXPECT_NE(rig.host.failures[0].find("/dev/ttyUSB0"), std::string::npos);
  EXPECT_NE(rig.host.failures[0].find("EIO"), std::string::npos) << rig.host.failures[0];
  EXPECT_EQ(rig.port.OpenDevice(), "");
  EXPECT_EQ(clock.NowMs(), 46 * 54) << "PARIS (46 units with its last character space), in full";
  EXPECT_EQ(rig.tx.KeyState.load(), kKeyUp);

  // The adapter is back: selecting it again works and keys.
  rig.dev.vanishAfter = 0;
  rig.port.OpenNamedPort("/dev/ttyUSB1");
  EXPECT_EQ(rig.port.OpenDevice(), "/dev/ttyUSB1");
  rig.port.SetKeyLine(kKeyDown);
  EXPECT_EQ(rig.Modem(1), kBoth);
  EXPECT_EQ(rig.host.failures.size(), 1u);
}

TEST(KeyingPort, NoPortTimesInFullAndDrivesNothing) {
  PortRig rig;
  ElementTiming timing;
  ComputeElementTiming(timing, 20, {});
  test::FakeClock clock;
  PortKeyer keyer(SendTable(), timing, rig.port, clock, rig.tx.KeyState);
  keyer.SendCharToPort('E');
  EXPECT_EQ(clock.NowMs(), 54 + 54 + 108);
  EXPECT_TRUE(rig.dev.Calls().empty());
}

TEST(KeyingPort, SwitchingPortsWhileAKeyerKeysEndsKeyUp) {
  PortRig rig;
  rig.port.OpenNamedPort("/dev/ttyUSB0");
  std::atomic<bool> done{false};
  std::thread keyer([&] {
    for (int i = 0; i < 20000; ++i) rig.port.SetKeyLine(i % 2 == 0 ? kKeyDown : kKeyUp);
    done = true;
  });
  for (int i = 0; !done; ++i) rig.port.OpenNamedPort(rig.devices[static_cast<size_t>(i % 3)]);
  keyer.join();
  rig.port.ReleaseLine();
  rig.port.SelectNoPort();
  for (int n = 0; n < 3; ++n) EXPECT_EQ(rig.Modem(n), 0) << "device " << n << " left keyed";
  EXPECT_EQ(rig.dev.OpenCount(), 0);
}

}  // namespace
}  // namespace kestrix::transmit
