# The configuration dialog. Natively: the terminal editor, driven through a
# pseudo-terminal. On Windows: the real dialog under wine on a virtual display,
# driven with window messages, with a screenshot left in the build tree.
if(NOT WIN32)
  trackloom_add_test(dialog_terminal_tests
    SOURCES dialog_terminal_test.cpp
    LIBS trackloom_module util)
endif()
