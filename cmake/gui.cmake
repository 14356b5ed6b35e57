# The main window (Qt): the kestrix program, the kestrix_shell library it is made of, and
# the widget tests, which run with the offscreen platform.
# The documentation folder is the package's name in lower case, as Debian has it.
if(NOT CMAKE_INSTALL_DOCDIR)
  set(CMAKE_INSTALL_DOCDIR "share/doc/kestrix" CACHE PATH "Documentation (KestrixHelp.html)" FORCE)
endif()
include(GNUInstallDirs)

add_library(kestrix_shell STATIC
  src/shell/afc_start_dialog.cpp
  src/shell/band_map_link.cpp
  src/shell/band_map_view.cpp
  src/shell/band_map_window.cpp
  src/shell/decoder_choice.cpp
  src/shell/main_menu.cpp
  src/shell/main_window.cpp
  src/shell/receive_side.cpp
  src/shell/receive_side_text.cpp
  src/shell/receive_panel.cpp
  src/shell/sound_card_dialog.cpp
  src/shell/status_panel.cpp
  src/shell/text_outlets.cpp
  src/shell/transmit_wiring.cpp
  src/shell/transmit_panel.cpp
  src/shell/ui_helpers.cpp
  src/shell/up_down.cpp
  src/shell/settings_bridge.cpp
  src/shell/user_files_menu.cpp
)
target_include_directories(kestrix_shell PUBLIC src)
target_link_libraries(kestrix_shell PUBLIC
  kestrix_core kestrix_transmit kestrix_capture kestrix_display kestrix_settings kestrix_userfiles
  kestrix_bandmap kestrix_softrx Qt6::Widgets)
# Where an installed help file is looked for when the settings folder has none.
target_compile_definitions(kestrix_shell PRIVATE
  KESTRIX_DOC_DIR="${CMAKE_INSTALL_FULL_DOCDIR}")

add_executable(kestrix src/shell/main.cpp)
target_link_libraries(kestrix PRIVATE kestrix_shell kestrix_cli)

# The help file: next to the program in the build tree, in the documentation folder once
# installed.
configure_file(docs/help.html ${CMAKE_CURRENT_BINARY_DIR}/KestrixHelp.html COPYONLY)
install(TARGETS kestrix RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES docs/help.html DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME KestrixHelp.html)

add_executable(kestrix_shell_tests
  tests/shell/shell_test_main.cpp
  tests/shell/window_composition_test.cpp
  tests/shell/receive_handlers_test.cpp
  tests/shell/text_output_test.cpp
  tests/shell/life_cycle_test.cpp
  tests/shell/band_map_window_test.cpp
  tests/shell/decoder_choice_test.cpp
)
target_include_directories(kestrix_shell_tests PRIVATE tests)
target_link_libraries(kestrix_shell_tests PRIVATE
  kestrix_shell kestrix_cli kestrix_morsegen kestrix_bandscene GTest::gtest)
gtest_discover_tests(kestrix_shell_tests DISCOVERY_TIMEOUT 60
  PROPERTIES TIMEOUT 300 LABELS gui ENVIRONMENT QT_QPA_PLATFORM=offscreen)
