# Reference encodes pinned by size and SHA-256: the filter module through the
# replacement editor, and the trackloom command on a generated clip.
if(TARGET trackloom AND TARGET trackloom_cli_commands AND NOT WIN32)
  trackloom_add_test(golden_tests LABEL end-to-end
    SOURCES golden_output_test.cpp track_test_support.cpp cli_run.cpp
    LIBS trackloom_cli_commands trackloom_runner trackloom_module trackloom_core util)
  target_compile_definitions(golden_tests PRIVATE TRACKLOOM_BINARY="$<TARGET_FILE:trackloom>")
  add_dependencies(golden_tests trackloom)
endif()
