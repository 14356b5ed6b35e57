#include "platform/key_lines.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/ppdev.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/fake_key_device.h"
#include "platform/serial_ports.h"

namespace kestrix::platform {
namespace {

using test::DeviceCall;
using test::FakeKeyDevice;

constexpr int kBoth = TIOCM_DTR | TIOCM_RTS;
const std::string kTty = "/dev/ttyUSB0";
const std::string kPar = "/dev/parport0";

std::vector<DeviceCall> IoctlsOnly(const std::vector<DeviceCall>& calls) {
  std::vector<DeviceCall> out;
  for (const DeviceCall& c : calls)
    if (c.op == "ioctl") out.push_back(c);
  return out;
}

TEST(SerialLine, OpenClearsBothLinesFirstThenEveryChangeIsOneCall) {
  FakeKeyDevice dev;
  dev.present = {kTty};
  LineOpen opened = OpenSerialLine(dev, kTty);
  ASSERT_TRUE(opened.line) << opened.error;
  const std::vector<DeviceCall> calls = dev.Calls();
  ASSERT_GE(calls.size(), 3u);
  EXPECT_EQ(calls[0].op, "open");
  EXPECT_EQ(calls[1].op, "ioctl");
  EXPECT_EQ(calls[1].request, static_cast<unsigned long>(TIOCMBIC))
      << "nothing may come before the clear";
  EXPECT_EQ(calls[1].arg, kBoth);
  EXPECT_EQ(calls[2].request, static_cast<unsigned long>(TIOCEXCL));
  EXPECT_EQ(dev.Modem(kTty), 0);
  EXPECT_TRUE(dev.HangUpOnClose(kTty)) << "a crash must drop the lines";

  dev.ClearCalls();
  for (bool down : {true, false, true, false}) {
    EXPECT_EQ(opened.line->Write(down), 0);
    EXPECT_EQ(dev.Modem(kTty), down ? kBoth : 0);
  }
  const std::vector<DeviceCall> writes = dev.Calls();
  ASSERT_EQ(writes.size(), 4u) << "one system call per line change";
  for (size_t i = 0; i < writes.size(); ++i) {
    EXPECT_EQ(writes[i].request, static_cast<unsigned long>(i % 2 == 0 ? TIOCMBIS : TIOCMBIC));
    EXPECT_EQ(writes[i].arg, kBoth) << "DTR and RTS move together";
  }
  opened.line.reset();
  EXPECT_EQ(dev.Calls().back().op, "close");
}

TEST(SerialLine, DtrKeysAndRtsIsPttWhenAskedOneCallEach) {
  FakeKeyDevice dev;
  dev.present = {kTty};
  LineOpen opened = OpenSerialLine(dev, kTty, SerialLines::kDtrKeyRtsPtt);
  ASSERT_TRUE(opened.line) << opened.error;
  EXPECT_EQ(dev.Modem(kTty), 0) << "both cleared at open, the PTT too";
  dev.ClearCalls();
  EXPECT_EQ(opened.line->WritePtt(true), 0);
  EXPECT_EQ(dev.Modem(kTty), TIOCM_RTS);
  EXPECT_EQ(opened.line->Write(true), 0);
  EXPECT_EQ(dev.Modem(kTty), kBoth);
  EXPECT_EQ(opened.line->Write(false), 0);
  EXPECT_EQ(dev.Modem(kTty), TIOCM_RTS) << "the key leaves the PTT alone";
  EXPECT_EQ(opened.line->WritePtt(false), 0);
  EXPECT_EQ(dev.Modem(kTty), 0);
  EXPECT_EQ(IoctlsOnly(dev.Calls()).size(), 4u);

  opened.line.reset();
  LineOpen both = OpenSerialLine(dev, kTty);
  ASSERT_TRUE(both.line);
  EXPECT_EQ(both.line->WritePtt(true), ENOTSUP) << "the default keys both lines, no PTT";
}

TEST(SerialLine, DropOnCloseFollowsTheRequest) {
  FakeKeyDevice dev;
  dev.present = {kTty};
  LineOpen opened = OpenSerialLine(dev, kTty);
  ASSERT_TRUE(opened.line);
  opened.line->SetDropOnClose(false);
  EXPECT_FALSE(dev.HangUpOnClose(kTty));
  opened.line->SetDropOnClose(true);
  EXPECT_TRUE(dev.HangUpOnClose(kTty));
}

TEST(KeyLineOpen, FailuresNameTheDeviceAndTheRemedy) {
  struct Case {
    bool serial;
    int openErr;            // 0: the open works
    unsigned long failing;  // an ioctl that fails, 0 none
    int ioctlErr;
    const char* wanted;
  };
  const Case cases[] = {
      {true, EACCES, 0, 0, "dialout"},
      {true, ENOENT, 0, 0, "plugged in"},
      {true, EBUSY, 0, 0, "another program"},
      {true, 0, static_cast<unsigned long>(TIOCMBIC), ENOTTY, "not a serial port"},
      {false, ENOENT, 0, 0, "modprobe ppdev"},
      {false, EACCES, 0, 0, "lp group"},
      {false, 0, static_cast<unsigned long>(PPCLAIM), EBUSY, "busy"},
  };
  for (const Case& c : cases) {
    FakeKeyDevice dev;
    const std::string path = c.serial ? kTty : kPar;
    dev.present = {path};
    if (c.openErr) dev.openErrors[path] = c.openErr;
    if (c.failing) dev.ioctlErrors[c.failing] = c.ioctlErr;
    LineOpen opened = c.serial ? OpenSerialLine(dev, path) : OpenParallelLine(dev, path);
    EXPECT_FALSE(opened.line) << c.wanted;
    EXPECT_NE(opened.error.find(path), std::string::npos) << opened.error;
    EXPECT_NE(opened.error.find(c.wanted), std::string::npos) << opened.error;
    EXPECT_EQ(dev.OpenCount(), 0) << "a failed open leaves nothing open: " << c.wanted;
  }
}

TEST(ParallelLine, ClaimsWritesKeyUpAndKeysBitsZeroAndOne) {
  FakeKeyDevice dev;
  dev.present = {kPar};
  LineOpen opened = OpenParallelLine(dev, kPar);
  ASSERT_TRUE(opened.line) << opened.error;
  const std::vector<DeviceCall> ioctls = IoctlsOnly(dev.Calls());
  ASSERT_EQ(ioctls.size(), 3u);
  EXPECT_EQ(ioctls[1].request, static_cast<unsigned long>(PPCLAIM));
  EXPECT_EQ(ioctls[2].request, static_cast<unsigned long>(PPWDATA));
  EXPECT_EQ(ioctls[2].arg, 0);
  EXPECT_EQ(opened.line->Write(true), 0);
  EXPECT_EQ(dev.Data(kPar), 3);
  EXPECT_EQ(opened.line->Write(false), 0);
  EXPECT_EQ(dev.Data(kPar), 0);
  opened.line.reset();
  const std::vector<DeviceCall> calls = dev.Calls();
  EXPECT_EQ(calls[calls.size() - 2].request, static_cast<unsigned long>(PPRELEASE));
  EXPECT_EQ(calls.back().op, "close");
}

// The real system calls on a pseudo-terminal: it opens like a tty but has no modem lines,
// so the first call (the clear of DTR and RTS) fails and nothing is left open.
TEST(SerialLine, APseudoTerminalIsRefusedAsNoSerialPort) {
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(::grantpt(master), 0);
  ASSERT_EQ(::unlockpt(master), 0);
  const std::string slave = ::ptsname(master);
  LineOpen opened = OpenSerialLine(SystemDevices(), slave);
  EXPECT_FALSE(opened.line);
  EXPECT_NE(opened.error.find(slave), std::string::npos) << opened.error;
  EXPECT_NE(opened.error.find("clearing DTR and RTS"), std::string::npos) << opened.error;
  ::close(master);

  const LineOpen missing = OpenSerialLine(SystemDevices(), "/nonexistent/ttyUSB9");
  EXPECT_FALSE(missing.line);
  EXPECT_NE(missing.error.find("ENOENT"), std::string::npos) << missing.error;
}

TEST(ParallelLine, AddressesMapToPpdevDevices) {
  EXPECT_EQ(ParallelDeviceForAddress(0x378), "/dev/parport0");
  EXPECT_EQ(ParallelDeviceForAddress(0x3BC), "/dev/parport1");
}

// A /dev and /sys/class/tty made of plain files.
class DeviceTree : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ =
        std::filesystem::temp_directory_path() / ("kestrix-ports-" + std::to_string(::getpid()));
    std::filesystem::create_directories(root_ / "dev");
    std::filesystem::create_directories(root_ / "sys");
  }
  void TearDown() override { std::filesystem::remove_all(root_); }
  void Device(const std::string& name, int uartType = -1) {
    std::ofstream(root_ / "dev" / name).put('x');
    if (uartType >= 0) {
      std::filesystem::create_directories(root_ / "sys" / name);
      std::ofstream(root_ / "sys" / name / "type") << uartType << "\n";
    }
  }
  std::vector<std::string> Found() {
    return FindSerialDevices((root_ / "dev").string(), (root_ / "sys").string());
  }
  std::string Dev(const std::string& name) { return (root_ / "dev" / name).string(); }
  std::filesystem::path root_;
};

TEST_F(DeviceTree, ComOrderIsUartsThenUsbThenAcmEachNumerically) {
  Device("ttyS0", 4);
  Device("ttyS1", 0);  // registered by the driver, no hardware
  Device("ttyS10", 4);
  Device("ttyS2", 4);
  Device("ttyS3");  // no type file: not a UART we can vouch for
  Device("ttyUSB10");
  Device("ttyUSB2");
  Device("ttyACM0");
  Device("ttyUSBx");
  Device("tty5");
  const std::vector<std::string> want = {Dev("ttyS0"),   Dev("ttyS2"),    Dev("ttyS10"),
                                         Dev("ttyUSB2"), Dev("ttyUSB10"), Dev("ttyACM0")};
  EXPECT_EQ(Found(), want);
}

TEST(ComNames, NumbersAndPaths) {
  EXPECT_EQ(ComPortName(12), "\\\\.\\COM12");
  struct Case {
    const char* name;
    int number;
  };
  for (const Case& c :
       {Case{"\\\\.\\COM12", 12}, Case{"COM3", 3}, Case{"COM 4", 4}, Case{"com7", 7},
        Case{"COM0", 0}, Case{"COM", 0}, Case{"COM1x", 0}, Case{"NONE", 0}, Case{"LPT1", 0}}) {
    EXPECT_EQ(ComNumberOf(c.name), c.number) << c.name;
  }
  std::vector<std::string> devices;
  for (int i = 0; i < 12; ++i) devices.push_back("/dev/ttyUSB" + std::to_string(i));
  std::string path, error;
  ASSERT_TRUE(ResolveSerialPort(ComPortName(12), devices, path, error));
  EXPECT_EQ(path, "/dev/ttyUSB11") << "COM 12 is the twelfth device";
  ASSERT_TRUE(ResolveSerialPort("/dev/ttyACM3", devices, path, error));
  EXPECT_EQ(path, "/dev/ttyACM3") << "a path opens as it stands";
  EXPECT_FALSE(ResolveSerialPort(ComPortName(13), devices, path, error));
  EXPECT_NE(error.find("COM 13"), std::string::npos) << error;
  EXPECT_FALSE(ResolveSerialPort("garbage", devices, path, error));
}

}  // namespace
}  // namespace kestrix::platform
