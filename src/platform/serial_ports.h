// COM numbering on Linux: "COM n" is the n-th serial device found, counting the built-in
// UARTs (/dev/ttyS*, only those the kernel found hardware for), then USB serial adapters
// (/dev/ttyUSB*), then USB modems and CDC adapters (/dev/ttyACM*), each family in numeric
// order. A port name may also be a device path, which is opened as it stands.
//
// Listing never opens a device: opening a tty raises DTR and RTS, which would key a
// transmitter hanging on a port the user did not choose.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kestrix::platform {

struct SerialPortInfo {
  std::string device;       // "/dev/ttyUSB0"
  std::string description;  // "FT232R USB UART", "built-in serial port"
};

// The serial devices in COM order, found under `devDir` with the kernel's view of them
// under `sysTtyDir`.
std::vector<std::string> FindSerialDevices(const std::string& devDir = "/dev",
                                           const std::string& sysTtyDir = "/sys/class/tty");

// The same devices with descriptions (USB product names where the adapter gives one).
std::vector<SerialPortInfo> ListSerialPorts();

// The stored name of COM n: the prefix "\\.\COM" and the number.
std::string ComPortName(int n);

// n for "\\.\COMn" or "COMn" (any case), 0 when `name` is not a COM name.
int ComNumberOf(std::string_view name);

// The device a port name opens: a path as it stands, COM n the n-th of `devices`.
// Returns false with `error` naming the port when there is no such device.
bool ResolveSerialPort(std::string_view name, const std::vector<std::string>& devices,
                       std::string& path, std::string& error);

}  // namespace kestrix::platform
