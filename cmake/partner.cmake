# Partner messaging: the local socket partner programs connect to, its record format, the
# registration and posting rules (kestrix_partner, no Qt), the kestrix-partner client,
# kestrix-decode --partner, and the window's adapter that drives the server from the GUI
# thread. Tests of the GUI-free part carry the "core" label and run under the sanitizers.

add_library(kestrix_partner STATIC
  src/transmit/partner_protocol.cpp
  src/transmit/partner_server.cpp
  src/transmit/partner_client.cpp
)
target_include_directories(kestrix_partner PUBLIC src)

add_executable(kestrix-partner src/cli/partner_main.cpp)
target_link_libraries(kestrix-partner PRIVATE kestrix_partner kestrix_core kestrix_cmdline)
install(TARGETS kestrix-partner RUNTIME DESTINATION bin)

# kestrix-decode --partner serves partners from the live receive loop.
target_link_libraries(kestrix_cli PUBLIC kestrix_partner)

add_executable(kestrix_partner_tests
  tests/transmit/partner_protocol_test.cpp
  tests/transmit/partner_server_test.cpp
  tests/transmit/partner_posting_test.cpp
  tests/cli/partner_decode_test.cpp
)
target_include_directories(kestrix_partner_tests PRIVATE tests)
target_link_libraries(kestrix_partner_tests PRIVATE
  kestrix_partner kestrix_cli kestrix_morsegen GTest::gtest_main)
gtest_discover_tests(kestrix_partner_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120 LABELS core-tsan)

# Coverage-guided fuzzing of the record parser needs clang's libFuzzer:
#   cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DKESTRIX_BUILD_GUI=OFF
#   ninja -C build-fuzz kestrix_partner_fuzzer && build-fuzz/kestrix_partner_fuzzer -runs=1000000
# The seeded mutation test in kestrix_partner_tests runs in every build.
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  add_executable(kestrix_partner_fuzzer tests/transmit/partner_fuzzer.cpp
    src/transmit/partner_protocol.cpp)
  target_include_directories(kestrix_partner_fuzzer PRIVATE src)
  target_compile_options(kestrix_partner_fuzzer PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_options(kestrix_partner_fuzzer PRIVATE -fsanitize=fuzzer,address,undefined)
endif()

# The window: a socket notifier on the server's descriptor, messages through the window's
# message box.
if(TARGET kestrix_shell)
  target_sources(kestrix_shell PRIVATE src/shell/partner_link.cpp)
  target_link_libraries(kestrix_shell PUBLIC kestrix_partner)

  add_executable(kestrix_partner_window_tests
    tests/shell/shell_test_main.cpp
    tests/shell/partner_link_test.cpp
  )
  target_link_libraries(kestrix_partner_window_tests PRIVATE kestrix_shell GTest::gtest)
  gtest_discover_tests(kestrix_partner_window_tests DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT 120 LABELS gui ENVIRONMENT QT_QPA_PLATFORM=offscreen)
endif()
