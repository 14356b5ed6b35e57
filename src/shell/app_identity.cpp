#include "shell/app_identity.h"

#include <QPixmapCache>

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
  // The style caches every button's pixmaps keyed by its palette, and each caption colour
  // change (M3 and SEND turn red while they send, black after) is a new palette: with the
  // default 10 MB the cache grew by about 30 kB a message for hours. 1 MB holds what the
  // window shows at any time; older entries make room.
  QPixmapCache::setCacheLimit(kPixmapCacheKb);
}

}  // namespace kestrix::shell
