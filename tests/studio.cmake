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
