# trackloom inspect / decode: the track reader, and the two subcommands run as a user
# would, on tracks written by the core and by the filter module through the runner.
# Native only, like the command itself.
if(TARGET trackloom_cli_commands AND NOT WIN32)
  trackloom_add_test(track_tools_tests LABEL end-to-end
    SOURCES track_test_support.cpp track_reader_test.cpp track_module_roundtrip_test.cpp
            track_commands_test.cpp
    LIBS trackloom_cli_commands trackloom_runner trackloom_module trackloom_core)
endif()
