#include "shell/app_identity.h"

#include <QApplication>
#include <QIcon>

namespace kestrix::shell {

void ConfigureApplication() {
  QApplication::setApplicationName(kApplicationName);
  // Wayland's app id and the desktop's match between the running window and its entry.
  QGuiApplication::setDesktopFileName(kDesktopId);
  // The installed icon; without it (the build tree) the desktop's generic one.
  if (QIcon::hasThemeIcon(kDesktopId)) QApplication::setWindowIcon(QIcon::fromTheme(kDesktopId));
  // One style everywhere, so the caption colours read the same on every desktop.
  QApplication::setStyle("Fusion");
}

}  // namespace kestrix::shell
