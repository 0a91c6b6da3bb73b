# The trackloom command's encode, demo and configure: its parts on their own, and
# the command end to end on clips made with FFmpeg's test sources.
if(TARGET trackloom AND TARGET trackloom_cli_commands AND NOT WIN32)
  trackloom_add_test(cli_tests LABEL end-to-end
    SOURCES cli_common_units_test.cpp cli_ffmpeg_units_test.cpp cli_pictures_units_test.cpp
            cli_tracks_units_test.cpp cli_encode_test.cpp cli_configure_test.cpp cli_disc_test.cpp cli_inputs_test.cpp
            cli_faults_test.cpp cli_options_test.cpp cli_rip_test.cpp
            cli_run.cpp support/terminal.cpp
    LIBS trackloom_cli_commands util)
  target_compile_definitions(cli_tests PRIVATE TRACKLOOM_BINARY="$<TARGET_FILE:trackloom>")
  add_dependencies(cli_tests trackloom)
endif()

# The same end-to-end tests against trackloom.exe under wine, when a Windows build of
# it is at hand: TRACKLOOM_WINDOWS_EXE names one, or the win64 preset's is used when it
# was built before this configure. Labelled "wine" only, so `-L end-to-end` stays the
# Linux command's; each case is a ctest entry of its own (prefix "wine."), so -j2 runs
# two wine starts side by side. What cannot hold on Windows skips itself there.
set(TRACKLOOM_WINDOWS_EXE "" CACHE FILEPATH
    "trackloom.exe for the wine-labelled tests (default: build/win64/cli/trackloom.exe when it exists)")
set(trackloom_windows_exe "${TRACKLOOM_WINDOWS_EXE}")
if(NOT trackloom_windows_exe AND EXISTS ${PROJECT_SOURCE_DIR}/build/win64/cli/trackloom.exe)
  set(trackloom_windows_exe ${PROJECT_SOURCE_DIR}/build/win64/cli/trackloom.exe)
endif()
if(TARGET cli_tests AND trackloom_windows_exe AND NOT EXISTS "${trackloom_windows_exe}")
  message(WARNING "TRACKLOOM_WINDOWS_EXE: ${trackloom_windows_exe} does not exist; no wine tests")
elseif(TARGET cli_tests AND trackloom_windows_exe)
  message(STATUS "wine tests run ${trackloom_windows_exe}")
  # Two environment variables through two properties: a list in one would be split.
  set(trackloom_wine_environment
      ENVIRONMENT "TRACKLOOM_TEST_BINARY=${trackloom_windows_exe}"
      ENVIRONMENT_MODIFICATION "TRACKLOOM_TEST_WRAPPER=set:${PROJECT_SOURCE_DIR}/scripts/wine-run")
  gtest_discover_tests(cli_tests TEST_PREFIX "wine." DISCOVERY_TIMEOUT 60
    TEST_FILTER "CliEncode.*:CliOptions.*:CliDisc.*:CliFaults.*:CliInputs.*"
    PROPERTIES LABELS wine TIMEOUT 900 ${trackloom_wine_environment})
  # The Windows and Linux commands side by side: the same tracks, discs each reads.
  add_executable(windows_cli_tests cli_windows_test.cpp cli_run.cpp)
  target_link_libraries(windows_cli_tests PRIVATE trackloom_cli_tracks trackloom_test_support GTest::gtest_main)
  trackloom_warnings(windows_cli_tests)
  target_compile_definitions(windows_cli_tests PRIVATE TRACKLOOM_BINARY="$<TARGET_FILE:trackloom>")
  add_dependencies(windows_cli_tests trackloom)
  gtest_discover_tests(windows_cli_tests TEST_PREFIX "wine." DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS wine TIMEOUT 900 ${trackloom_wine_environment})
endif()
