# trackloom inspect and trackloom decode: reading track files back.
# Included from cli/CMakeLists.txt, which links every part into the trackloom command.
find_package(PNG REQUIRED)

add_library(trackloom_track_tools STATIC
  ${CMAKE_CURRENT_LIST_DIR}/track_reader.cpp
  ${CMAKE_CURRENT_LIST_DIR}/png_writer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/contact_sheet.cpp
  ${CMAKE_CURRENT_LIST_DIR}/preview_video.cpp
  ${CMAKE_CURRENT_LIST_DIR}/inspect_command.cpp
  ${CMAKE_CURRENT_LIST_DIR}/decode_command.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tracks/disc_image.cpp
  ${CMAKE_CURRENT_LIST_DIR}/commands/disc_command.cpp
)
target_include_directories(trackloom_track_tools PUBLIC ${PROJECT_SOURCE_DIR})
# The reader takes only the format's constants from the core (header-only), never
# its writer: it is an independent check of what the writer produces.
# From the rest of the command: its progress line and its Ctrl-C handling.
target_link_libraries(trackloom_track_tools PUBLIC trackloom_cli_encode PNG::PNG PkgConfig::FFMPEG)
trackloom_warnings(trackloom_track_tools)
list(APPEND TRACKLOOM_CLI_PARTS trackloom_track_tools)
