# Message memories, the contest strip and the scratch pad: the GUI-free logic joins the
# transmitter's library; the window's panel and the memory window join the shell.
target_sources(kestrix_transmit PRIVATE src/transmit/memories.cpp)

add_executable(kestrix_memories_tests tests/transmit/memories_test.cpp)
target_include_directories(kestrix_memories_tests PRIVATE tests)
target_link_libraries(kestrix_memories_tests PRIVATE kestrix_transmit GTest::gtest_main)
gtest_discover_tests(kestrix_memories_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300 LABELS core)

if(TARGET kestrix_shell)
  target_sources(kestrix_shell PRIVATE
    src/shell/memories_panel.cpp
    src/shell/memory_window.cpp
  )
  add_executable(kestrix_memories_window_tests
    tests/shell/shell_test_main.cpp
    tests/shell/memories_window_test.cpp
  )
  target_link_libraries(kestrix_memories_window_tests PRIVATE
    kestrix_shell kestrix_cli kestrix_morsegen GTest::gtest)
  gtest_discover_tests(kestrix_memories_window_tests DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT 300 LABELS gui ENVIRONMENT QT_QPA_PLATFORM=offscreen)
endif()
