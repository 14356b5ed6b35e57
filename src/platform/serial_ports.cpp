#include "platform/serial_ports.h"

#include <libserialport.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <filesystem>
#include <fstream>

namespace kestrix::platform {

namespace {

namespace fs = std::filesystem;

struct Family {
  const char* prefix;
  bool needsUart;  // the 8250 driver registers ports whether or not hardware is there
};
constexpr Family kFamilies[] = {{"ttyS", true}, {"ttyUSB", false}, {"ttyACM", false}};

// The number after `prefix`, or -1 when the rest is not all digits.
long SuffixNumber(std::string_view name, std::string_view prefix) {
  if (name.size() <= prefix.size() || name.substr(0, prefix.size()) != prefix) return -1;
  long n = 0;
  const char* first = name.data() + prefix.size();
  const char* last = name.data() + name.size();
  const auto [end, ec] = std::from_chars(first, last, n);
  return ec == std::errc() && end == last ? n : -1;
}

// The kernel's UART type for a ttyS port: 0 means no hardware answered at that address.
bool IsRealUart(const std::string& sysTtyDir, const std::string& name) {
  std::ifstream in(sysTtyDir + "/" + name + "/type");
  int type = 0;
  return static_cast<bool>(in >> type) && type != 0;
}

}  // namespace

std::vector<std::string> FindSerialDevices(const std::string& devDir,
                                           const std::string& sysTtyDir) {
  std::vector<std::string> devices;
  std::error_code ec;
  std::vector<std::string> names;
  for (const fs::directory_entry& e : fs::directory_iterator(devDir, ec))
    names.push_back(e.path().filename().string());
  for (const Family& family : kFamilies) {
    std::vector<std::pair<long, std::string>> found;
    for (const std::string& name : names) {
      const long n = SuffixNumber(name, family.prefix);
      if (n < 0) continue;
      if (family.needsUart && !IsRealUart(sysTtyDir, name)) continue;
      found.emplace_back(n, name);
    }
    std::sort(found.begin(), found.end());
    for (const auto& [n, name] : found) devices.push_back(devDir + "/" + name);
  }
  return devices;
}

std::vector<SerialPortInfo> ListSerialPorts() {
  std::vector<SerialPortInfo> ports;
  for (const std::string& device : FindSerialDevices()) {
    SerialPortInfo info{device, {}};
    // The port details come from sysfs; the device is not opened.
    sp_port* port = nullptr;
    if (sp_get_port_by_name(device.c_str(), &port) == SP_OK && port != nullptr) {
      if (sp_get_port_transport(port) == SP_TRANSPORT_USB) {
        if (const char* d = sp_get_port_description(port)) info.description = d;
      }
      sp_free_port(port);
    }
    if (info.description.empty()) {
      info.description =
          device.find("ttyS") != std::string::npos ? "built-in serial port" : "serial device";
    }
    ports.push_back(std::move(info));
  }
  return ports;
}

std::string ComPortName(int n) {
  return "\\\\.\\COM" + std::to_string(n);
}

int ComNumberOf(std::string_view name) {
  constexpr std::string_view kDevicePrefix = "\\\\.\\";
  if (name.substr(0, kDevicePrefix.size()) == kDevicePrefix)
    name.remove_prefix(kDevicePrefix.size());
  if (name.size() < 4) return 0;
  for (size_t i = 0; i < 3; ++i) {
    if (std::toupper(static_cast<unsigned char>(name[i])) != "COM"[i]) return 0;
  }
  name.remove_prefix(3);
  while (!name.empty() && name.front() == ' ')
    name.remove_prefix(1);  // "COM 3" as the dialog shows it
  int n = 0;
  const char* first = name.data();
  const char* last = name.data() + name.size();
  const auto [end, ec] = std::from_chars(first, last, n);
  return ec == std::errc() && end == last && n > 0 ? n : 0;
}

bool ResolveSerialPort(std::string_view name, const std::vector<std::string>& devices,
                       std::string& path, std::string& error) {
  if (!name.empty() && name.front() == '/') {
    path = std::string(name);
    return true;
  }
  const int n = ComNumberOf(name);
  if (n == 0) {
    error = "\"" + std::string(name) + "\" is neither a COM port nor a device path";
    return false;
  }
  if (static_cast<size_t>(n) > devices.size()) {
    error = "COM " + std::to_string(n) + ": only " + std::to_string(devices.size()) +
            " serial device" + (devices.size() == 1 ? " was" : "s were") + " found";
    return false;
  }
  path = devices[static_cast<size_t>(n - 1)];
  return true;
}

}  // namespace kestrix::platform
