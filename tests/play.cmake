# trackloom play end to end, on a virtual display of its own: SDL's disk sound driver
# writes what would be heard to a file, xdotool presses keys, FFmpeg grabs the window.
if(TARGET trackloom AND TARGET trackloom_cli_sdl AND NOT WIN32)
  add_executable(play_tests play_test.cpp cli_run.cpp)
  target_link_libraries(play_tests PRIVATE trackloom_cli_tracks trackloom_test_support GTest::gtest_main)
  trackloom_warnings(play_tests)
  target_compile_definitions(play_tests PRIVATE TRACKLOOM_BINARY="$<TARGET_FILE:trackloom>")
  add_dependencies(play_tests trackloom)
  add_test(NAME play_tests COMMAND ${PROJECT_SOURCE_DIR}/scripts/with-xvfb $<TARGET_FILE:play_tests>)
  set_tests_properties(play_tests PROPERTIES TIMEOUT 180)
  trackloom_label_tests(end-to-end play_tests)
endif()
# The same against trackloom.exe under wine (see cli.cmake), in a wine prefix of its own:
# the wine server of a prefix stays on the display it started with, so the play tests'
# server runs on their virtual display and is waited for before that display ends.
if(TARGET play_tests AND trackloom_windows_exe AND EXISTS "${trackloom_windows_exe}")
  add_test(NAME wine.play_tests
    COMMAND ${PROJECT_SOURCE_DIR}/scripts/with-xvfb bash -c "\"$0\" \"$@\"; s=$?; wineserver -w; exit $s"
            $<TARGET_FILE:play_tests>)
  set_tests_properties(wine.play_tests PROPERTIES TIMEOUT 300 LABELS wine
    ENVIRONMENT "TRACKLOOM_TEST_BINARY=${trackloom_windows_exe};TRACKLOOM_TEST_WRAPPER=${PROJECT_SOURCE_DIR}/scripts/wine-run;WINEPREFIX=${PROJECT_SOURCE_DIR}/build/wineprefix-play")
endif()
