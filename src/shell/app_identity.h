// How the program names itself to the desktop: the application name, the desktop entry
// that gives its windows their icon and menu entry, and the one widget style.
//
// The application display name is left unset on purpose: once it is set, Qt's X11 and
// Wayland back ends add " — <display name>" to every window title, and each window and
// message box must carry exactly its own caption ("Time Line Display", "Wave Device
// Message", ...).
#pragma once

namespace kestrix::shell {

// The desktop entry's and the icon's name (data/<id>.desktop, the hicolor icon <id>), and
// the AppStream component id.
inline constexpr const char* kDesktopId = "org.kestrix.Kestrix";
inline constexpr const char* kApplicationName = "Kestrix";
// The style's pixmap cache, kB (see ConfigureApplication).
inline constexpr int kPixmapCacheKb = 1024;

// Call once, right after the QApplication is made.
void ConfigureApplication();

}  // namespace kestrix::shell
