// The band map's own settings: its window's place and size and its options, in a small
// text file beside the main settings file (never inside it: that file's layout is fixed).
//
//   # Kestrix band map
//   geometry=100,80,900,560
//   list_height=220
//   rigctld=localhost:4532
//   dial_khz=7030.000
//   sideband=usb
//
// One "key=value" a line; unknown keys and blank or '#' lines are skipped, so a newer
// file read by an older program loses nothing it knows. Numbers are written and read in
// the C locale. A missing file gives the defaults; a line that does not parse leaves its
// value at the default and is reported, the rest still applies.
#pragma once

#include <optional>
#include <string>

namespace kestrix::bandmap {

inline constexpr const char* kBandMapSettingsFileName = "BandMap.cfg";

struct BandMapSettings {
  // Window geometry on the screen (pixels); width 0: let the window choose.
  int x = 0, y = 0, width = 0, height = 0;
  int listHeight = 0;             // the station list's share of the window; 0: default
  std::string rigctld;            // HOST:PORT, empty: no rig control
  std::optional<double> dialKhz;  // typed dial frequency (used without rig control)
  bool lowerSideband = false;
  bool operator==(const BandMapSettings&) const = default;
};

// What the command line asks of the band map (kestrix --band-map ...).
struct BandMapStartOptions {
  bool open = false;              // --band-map: open the window at start
  std::string rigctld;            // --band-map-rigctld HOST:PORT (over the file's)
  std::optional<double> dialKhz;  // --band-map-dial-khz KHZ (over the file's)
  int telnetPort = 0;             // --band-map-telnet PORT, 0: no spot server
};

// The file's text for `s`.
std::string FormatBandMapSettings(const BandMapSettings& s);
// Parses `text` over the defaults. Returns false (with `error` naming the first bad line)
// when a line did not parse; `s` holds everything that did.
bool ParseBandMapSettings(const std::string& text, BandMapSettings& s, std::string& error);

// File access. Load: a missing file is not an error (defaults, true). Save: writes a
// temporary file beside `path` and renames it, so a crash never leaves half a file.
bool LoadBandMapSettings(const std::string& path, BandMapSettings& s, std::string& error);

// Writes `text` to a temporary file beside `path` and renames it over `path`, so a crash
// never leaves half a file. False with a message naming the file and the system's reason.
bool WriteFileReplacing(const std::string& path, const std::string& text, std::string& error);
bool SaveBandMapSettings(const std::string& path, const BandMapSettings& s, std::string& error);

// "HOST:PORT" with a port 1..65535 (IPv6 hosts in brackets); false with a message.
bool CheckRigctldAddress(const std::string& address, std::string& error);

}  // namespace kestrix::bandmap
