# The configuration dialog. Natively: the terminal editor, driven through a
# pseudo-terminal. On Windows: the real dialog under wine on a virtual display,
# driven with window messages, with a screenshot left in the build tree.
if(NOT WIN32)
  trackloom_add_test(dialog_terminal_tests
    SOURCES dialog_terminal_test.cpp support/terminal.cpp
    LIBS trackloom_module util)
endif()

if(WIN32)
  # Run by hand on a virtual display of its own, not through the plain emulator line.
  add_executable(dialog_win32_tests dialog_win32_test.cpp)
  target_link_libraries(dialog_win32_tests PRIVATE trackloom_runner trackloom_core
    trackloom_test_support GTest::gtest_main user32 gdi32 shell32)
  trackloom_warnings(dialog_win32_tests)
  add_dependencies(dialog_win32_tests trackloom_vdf)
  target_compile_definitions(dialog_win32_tests PRIVATE
    TRACKLOOM_MODULE_FILE="$<TARGET_FILE:trackloom_vdf>"
    TRACKLOOM_SCREENSHOT_FILE="${CMAKE_BINARY_DIR}/dialog-screenshot.png")
  add_test(NAME dialog_win32_tests
    COMMAND ${PROJECT_SOURCE_DIR}/scripts/wine-run-windowed $<TARGET_FILE:dialog_win32_tests>)
  set_tests_properties(dialog_win32_tests PROPERTIES TIMEOUT 300)
  trackloom_label_tests(end-to-end dialog_win32_tests)
endif()
