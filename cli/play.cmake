# trackloom play: tracks in a window, as the player's panel shows them, with sound.
# Included from cli/CMakeLists.txt, which links every part into the trackloom command.
pkg_check_modules(SDL2 REQUIRED IMPORTED_TARGET sdl2)

# Pictures: the panel's dot grid, shared by everything that shows what the player shows.
add_library(trackloom_panel_view STATIC ${CMAKE_CURRENT_LIST_DIR}/pictures/panel_view.cpp)
target_include_directories(trackloom_panel_view PUBLIC ${PROJECT_SOURCE_DIR})
trackloom_warnings(trackloom_panel_view)

# The subcommand, and the window and sound on SDL (the only code that includes SDL).
add_library(trackloom_play STATIC
  ${CMAKE_CURRENT_LIST_DIR}/commands/play_command.cpp
  ${CMAKE_CURRENT_LIST_DIR}/sdl/sdl_player.cpp
)
target_include_directories(trackloom_play PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(trackloom_play PUBLIC trackloom_panel_view trackloom_track_tools PkgConfig::SDL2)
trackloom_warnings(trackloom_play)
list(APPEND TRACKLOOM_CLI_PARTS trackloom_play)
