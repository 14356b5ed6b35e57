# Installing Kestrix like a Linux desktop program, and its Debian package.
#
#   cmake --install build --prefix /usr/local    the same tree under any prefix
#   (cd build && cpack -G DEB)                     kestrix_<version>_<arch>.deb
#
# Installed: the programs in bin/, their manual pages (share/man/man1, gzip'd), the user's
# guide KestrixHelp.html with its pictures and the copyright file (share/doc/kestrix), the
# desktop entry, the icon in the hicolor theme and the AppStream metainfo.
include(GNUInstallDirs)

# --- Small window parts that came with the packaging -----------------------------------
# Where the windows open when a fresh settings file leaves it to the program (no Qt).
target_sources(kestrix_settings PRIVATE src/shell/window_placement.cpp)
target_sources(kestrix_settings_tests PRIVATE tests/shell/window_placement_test.cpp)
if(TARGET kestrix_shell)
  # The application's names for the desktop (no display name: titles stay exact).
  target_sources(kestrix_shell PRIVATE src/shell/app_identity.cpp)
  target_sources(kestrix_shell_tests PRIVATE tests/shell/window_polish_test.cpp)
endif()
