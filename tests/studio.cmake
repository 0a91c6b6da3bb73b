# trackloom studio: its server's guard, asked with a plain HTTP client, and the page
# in a real browser (label "browser": Node with playwright-core driving Debian's
# chromium, skipped when either is missing).
if(TARGET trackloom AND TARGET trackloom_cli_studio)
  trackloom_add_test(studio_tests LABEL end-to-end
    SOURCES studio/studio_security_test.cpp studio/studio_units_test.cpp cli_run.cpp
    LIBS trackloom_cli_studio util)
  target_compile_definitions(studio_tests PRIVATE TRACKLOOM_BINARY="$<TARGET_FILE:trackloom>")
  add_dependencies(studio_tests trackloom)
endif()

# The page in chromium: tests/studio/node_modules comes from 'npm ci' there (which
# scripts/test-all runs); without it, or without chromium, the test is skipped.
find_program(TRACKLOOM_NODE node)
if(TARGET trackloom AND TARGET trackloom_cli_studio AND TRACKLOOM_NODE)
  add_test(NAME studio_browser
           COMMAND ${TRACKLOOM_NODE} ${CMAKE_CURRENT_SOURCE_DIR}/studio/studio_browser_test.js
                   --trackloom $<TARGET_FILE:trackloom>
                   --screenshots ${CMAKE_BINARY_DIR}/studio-screenshots)
  set_tests_properties(studio_browser PROPERTIES LABELS browser SKIP_RETURN_CODE 77 TIMEOUT 180)
endif()
