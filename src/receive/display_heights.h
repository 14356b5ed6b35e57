// The heights of the display area the receive modes choose (pixels): the controller picks
// one per mode change, the spectrum display draws into it.
#pragma once

namespace kestrix {

inline constexpr int kDisplayHeightButton = 130;  // "TEXT" / "MANUAL" buttons, and at start
inline constexpr int kDisplayHeightMenu = 120;    // Receive > Op Modes menu items
inline constexpr int kDisplayHeightScan = 142;    // Scan mode

}  // namespace kestrix
