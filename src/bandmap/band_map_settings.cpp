#include "bandmap/band_map_settings.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <locale>
#include <sstream>

namespace kestrix::bandmap {

namespace {

bool ParseInt(const std::string& s, int& out) {
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(s.c_str(), &end, 10);
  if (end == s.c_str() || *end != '\0' || errno != 0 || v < -100000 || v > 100000) return false;
  out = static_cast<int>(v);
  return true;
}

// strtod follows the C locale's decimal point; the window never changes LC_NUMERIC from
// "C", but a stream imbued with the classic locale makes that independent of it.
bool ParseNumber(const std::string& s, double& out) {
  std::istringstream in(s);
  in.imbue(std::locale::classic());
  double v = 0.0;
  if (!(in >> v)) return false;
  in >> std::ws;
  if (!in.eof() || !std::isfinite(v)) return false;
  out = v;
  return true;
}

std::string Trim(const std::string& s) {
  const size_t a = s.find_first_not_of(" \t\r");
  if (a == std::string::npos) return {};
  const size_t b = s.find_last_not_of(" \t\r");
  return s.substr(a, b - a + 1);
}

}  // namespace

std::string FormatBandMapSettings(const BandMapSettings& s) {
  std::ostringstream out;
  out.imbue(std::locale::classic());
  out << "# Kestrix band map\n";
  out << "geometry=" << s.x << ',' << s.y << ',' << s.width << ',' << s.height << '\n';
  out << "list_height=" << s.listHeight << '\n';
  out << "rigctld=" << s.rigctld << '\n';
  out << "dial_khz=";
  if (s.dialKhz) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.3f", *s.dialKhz);
    out << buf;
  }
  out << '\n';
  out << "sideband=" << (s.lowerSideband ? "lsb" : "usb") << '\n';
  return out.str();
}

bool ParseBandMapSettings(const std::string& text, BandMapSettings& s, std::string& error) {
  std::istringstream in(text);
  std::string line;
  int number = 0;
  bool ok = true;
  auto bad = [&](const std::string& why) {
    if (ok) error = "line " + std::to_string(number) + ": " + why;
    ok = false;
  };
  while (std::getline(in, line)) {
    ++number;
    line = Trim(line);
    if (line.empty() || line[0] == '#') continue;
    const size_t eq = line.find('=');
    if (eq == std::string::npos) {
      bad("'" + line + "' is not key=value");
      continue;
    }
    const std::string key = Trim(line.substr(0, eq));
    const std::string value = Trim(line.substr(eq + 1));
    if (key == "geometry") {
      int v[4] = {};
      std::istringstream parts(value);
      std::string part;
      int n = 0;
      bool good = true;
      while (std::getline(parts, part, ',')) {
        if (n >= 4 || !ParseInt(Trim(part), v[n])) good = false;
        ++n;
      }
      if (!good || n != 4 || v[2] < 0 || v[3] < 0) {
        bad("geometry '" + value + "' is not X,Y,WIDTH,HEIGHT");
        continue;
      }
      s.x = v[0];
      s.y = v[1];
      s.width = v[2];
      s.height = v[3];
    } else if (key == "list_height") {
      int v = 0;
      if (!ParseInt(value, v) || v < 0) {
        bad("list_height '" + value + "' is not a size in pixels");
        continue;
      }
      s.listHeight = v;
    } else if (key == "rigctld") {
      std::string why;
      if (!value.empty() && !CheckRigctldAddress(value, why)) {
        bad(why);
        continue;
      }
      s.rigctld = value;
    } else if (key == "dial_khz") {
      double v = 0.0;
      if (value.empty()) {
        s.dialKhz.reset();
      } else if (ParseNumber(value, v) && v > 0.0 && v < 1e8) {
        s.dialKhz = v;
      } else {
        bad("dial_khz '" + value + "' is not a frequency in kHz");
      }
    } else if (key == "sideband") {
      if (value == "usb" || value == "lsb") {
        s.lowerSideband = value == "lsb";
      } else {
        bad("sideband '" + value + "' is neither usb nor lsb");
      }
    }
  }
  return ok;
}

bool LoadBandMapSettings(const std::string& path, BandMapSettings& s, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    if (errno == ENOENT) return true;
    error = "cannot read '" + path + "': " + std::strerror(errno);
    return false;
  }
  std::ostringstream text;
  text << in.rdbuf();
  std::string why;
  if (!ParseBandMapSettings(text.str(), s, why)) {
    error = path + ": " + why;
    return false;
  }
  return true;
}

bool WriteFileReplacing(const std::string& path, const std::string& text, std::string& error) {
  const std::string temp = path + ".new";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.flush();
    if (!out) {
      error = "cannot write '" + temp + "': " + std::strerror(errno);
      std::remove(temp.c_str());
      return false;
    }
  }
  if (std::rename(temp.c_str(), path.c_str()) != 0) {
    error = "cannot replace '" + path + "': " + std::strerror(errno);
    std::remove(temp.c_str());
    return false;
  }
  return true;
}

bool SaveBandMapSettings(const std::string& path, const BandMapSettings& s, std::string& error) {
  return WriteFileReplacing(path, FormatBandMapSettings(s), error);
}

bool CheckRigctldAddress(const std::string& address, std::string& error) {
  const size_t colon = address.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 >= address.size()) {
    error = "rig control address '" + address + "' is not HOST:PORT";
    return false;
  }
  int port = 0;
  if (!ParseInt(address.substr(colon + 1), port) || port < 1 || port > 65535) {
    error = "rig control address '" + address + "' has no port 1..65535";
    return false;
  }
  return true;
}

}  // namespace kestrix::bandmap
