# encode, demo and configure: the FFmpeg picture and sound pipeline, and the filter
# driven through the replacement editor.
add_library(trackloom_cli_encode STATIC
  ${CMAKE_CURRENT_LIST_DIR}/audio_convert.cpp
  ${CMAKE_CURRENT_LIST_DIR}/cli_error.cpp
  ${CMAKE_CURRENT_LIST_DIR}/configure_command.cpp
  ${CMAKE_CURRENT_LIST_DIR}/demo_command.cpp
  ${CMAKE_CURRENT_LIST_DIR}/encode_command.cpp
  ${CMAKE_CURRENT_LIST_DIR}/filter_host.cpp
  ${CMAKE_CURRENT_LIST_DIR}/interrupt.cpp
  ${CMAKE_CURRENT_LIST_DIR}/progress.cpp
  ${CMAKE_CURRENT_LIST_DIR}/sound_wav_writer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/source_graph.cpp
  ${CMAKE_CURRENT_LIST_DIR}/temp_file.cpp
  ${CMAKE_CURRENT_LIST_DIR}/track_files.cpp
  ${CMAKE_CURRENT_LIST_DIR}/video_source.cpp
)
target_include_directories(trackloom_cli_encode PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(trackloom_cli_encode PUBLIC trackloom_runner trackloom_module PkgConfig::FFMPEG)
trackloom_warnings(trackloom_cli_encode)
list(APPEND TRACKLOOM_CLI_PARTS trackloom_cli_encode)
