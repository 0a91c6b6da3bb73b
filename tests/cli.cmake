# The trackloom command's encode, demo and configure: its parts on their own, and
# the command end to end on clips made with FFmpeg's test sources.
if(TARGET trackloom AND TARGET trackloom_cli_commands AND NOT WIN32)
  trackloom_add_test(cli_tests LABEL end-to-end
    SOURCES cli_units_test.cpp cli_encode_test.cpp cli_configure_test.cpp cli_disc_test.cpp cli_inputs_test.cpp
            cli_faults_test.cpp cli_options_test.cpp cli_rip_test.cpp
            cli_run.cpp support/terminal.cpp
    LIBS trackloom_cli_commands util)
  target_compile_definitions(cli_tests PRIVATE TRACKLOOM_BINARY="$<TARGET_FILE:trackloom>")
  add_dependencies(cli_tests trackloom)
endif()
