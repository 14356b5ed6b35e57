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

# --- Where things go ---------------------------------------------------------------------
# Same folder as gui.cmake chooses, for builds without the window.
if(NOT CMAKE_INSTALL_DOCDIR)
  set(CMAKE_INSTALL_DOCDIR "share/doc/kestrix" CACHE PATH "Documentation (KestrixHelp.html)" FORCE)
endif()
include(GNUInstallDirs)
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(kestrix_desktop_id org.kestrix.Kestrix)

if(TARGET kestrix_shell)
  # The program finds its manual in the documentation folder relative to its own, so any
  # prefix works, not only the one it was configured for.
  file(RELATIVE_PATH kestrix_doc_from_bin
    ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR} ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DOCDIR})
  target_compile_definitions(kestrix_shell PRIVATE
    KESTRIX_DOC_DIR_FROM_BIN="${kestrix_doc_from_bin}")
endif()

# The transmitter's programs arrive from their own parts, whose files may be included after
# this one; the check runs once the whole list has been read. (kestrix and kestrix-decode
# are installed by gui.cmake and the main list, kestrix-skim by skim.cmake.)
function(kestrix_install_transmit_programs)
  foreach(program kestrix-send kestrix-partner)
    if(TARGET ${program})
      install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    endif()
  endforeach()
endfunction()
cmake_language(DEFER CALL kestrix_install_transmit_programs)

# --- Manual pages: roff sources in docs/man, gzip'd without a time stamp -------------------
file(GLOB kestrix_man_pages CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/docs/man/*.1)
set(kestrix_man_gz)
foreach(page ${kestrix_man_pages})
  get_filename_component(name ${page} NAME)
  set(gz ${CMAKE_CURRENT_BINARY_DIR}/man/${name}.gz)
  add_custom_command(OUTPUT ${gz}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/man
    COMMAND gzip -9 -n -c ${page} > ${gz}
    DEPENDS ${page} VERBATIM)
  list(APPEND kestrix_man_gz ${gz})
endforeach()
set(kestrix_changelog_gz ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz)
add_custom_command(OUTPUT ${kestrix_changelog_gz}
  COMMAND gzip -9 -n -c ${CMAKE_CURRENT_SOURCE_DIR}/data/changelog > ${kestrix_changelog_gz}
  DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/data/changelog VERBATIM)
add_custom_target(kestrix_docs ALL DEPENDS ${kestrix_man_gz} ${kestrix_changelog_gz})
install(FILES ${kestrix_man_gz} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# --- The user's guide and what goes with it -----------------------------------------------
# KestrixHelp.html itself is installed by gui.cmake; its pictures sit beside it.
file(GLOB kestrix_manual_pictures CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/docs/*.png)
install(FILES ${kestrix_manual_pictures} DESTINATION ${CMAKE_INSTALL_DOCDIR})
# In the build tree the guide is read next to the program; so are its pictures.
foreach(picture ${kestrix_manual_pictures})
  get_filename_component(name ${picture} NAME)
  configure_file(${picture} ${CMAKE_CURRENT_BINARY_DIR}/${name} COPYONLY)
endforeach()
foreach(note partner-protocol.md network-keying.md live-input.md skimmer.md)
  if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/docs/${note})
    install(FILES docs/${note} DESTINATION ${CMAKE_INSTALL_DOCDIR})
  endif()
endforeach()
install(FILES data/copyright ${kestrix_changelog_gz} DESTINATION ${CMAKE_INSTALL_DOCDIR})

# --- Desktop integration ---------------------------------------------------------------------
install(FILES data/${kestrix_desktop_id}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES data/${kestrix_desktop_id}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES data/icons/${kestrix_desktop_id}.svg
  DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(size 16 24 32 48 64 128 256)
  install(FILES data/icons/hicolor/${size}x${size}/apps/${kestrix_desktop_id}.png
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()

# --- The Debian package ------------------------------------------------------------------------
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kestrix)
set(CPACK_PACKAGE_VENDOR "The Kestrix developers")
set(KESTRIX_MAINTAINER "The Kestrix developers <kestrix@example.org>" CACHE STRING
  "Maintainer field of the Debian package (name <address>)")
set(CPACK_PACKAGE_CONTACT "${KESTRIX_MAINTAINER}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Morse code (CW) decoder and keyer for radio amateurs")
set(CPACK_PACKAGE_DESCRIPTION
  "Kestrix listens to the receiver's audio through the sound card, shows the
band as a line spectrum or a waterfall, follows the tone you click on,
learns the sender's speed and writes the decoded Morse text as it arrives.
It sends typed text, ten message memories and contest exchanges on the
DTR/RTS lines of a serial port, the data lines of a parallel port, or as a
tone on the sound card.
.
Command-line tools decode recordings (kestrix-decode), key text and serve
loggers over the cwdaemon UDP protocol (kestrix-send), print the decoded
text for other programs (kestrix-partner) and decode every CW signal in a
band segment from an SDR, an I/Q recording or a receiver's audio, serving
the call signs heard as DX cluster spots over telnet (kestrix-skim).")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION hamradio)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Help opens the manual in the desktop's browser.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "fluidsynth")
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
include(CPack)
