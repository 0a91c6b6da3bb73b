# The Windows command's libraries: the static FFmpeg, x264, zimg, libpng, zlib, SDL2
# (and libcdio when it could be built) that scripts/build-windows-deps leaves in
# TRACKLOOM_WINDOWS_DEPS. Each is declared under the name the native build gets from
# pkg-config and FindPNG (PkgConfig::FFMPEG, PkgConfig::SDL2, PNG::PNG), so the rooms
# link the same names on both systems. pkg-config is asked for the static link line:
# every library a static library needs, down to the Windows system libraries.
set(TRACKLOOM_WINDOWS_DEPS_PKGCONFIG ${TRACKLOOM_WINDOWS_DEPS}/lib/pkgconfig)
if(NOT EXISTS ${TRACKLOOM_WINDOWS_DEPS}/trackloom-windows-deps.txt)
  message(FATAL_ERROR "TRACKLOOM_WINDOWS_DEPS=${TRACKLOOM_WINDOWS_DEPS} is not a complete "
                      "build of scripts/build-windows-deps; run it and pass the directory it prints")
endif()
find_program(TRACKLOOM_PKG_CONFIG pkg-config REQUIRED)

# trackloom_windows_library(TARGET module...): an imported target with the modules'
# include directories and static link line, read from the cache's .pc files only.
function(trackloom_windows_library target)
  set(run ${CMAKE_COMMAND} -E env PKG_CONFIG_LIBDIR=${TRACKLOOM_WINDOWS_DEPS_PKGCONFIG}
          PKG_CONFIG_PATH= PKG_CONFIG_SYSROOT_DIR= ${TRACKLOOM_PKG_CONFIG} --static)
  execute_process(COMMAND ${run} --cflags ${ARGN} OUTPUT_VARIABLE cflags
                  RESULT_VARIABLE cflags_failed OUTPUT_STRIP_TRAILING_WHITESPACE)
  execute_process(COMMAND ${run} --libs ${ARGN} OUTPUT_VARIABLE libs
                  RESULT_VARIABLE libs_failed OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(cflags_failed OR libs_failed)
    message(FATAL_ERROR "${TRACKLOOM_WINDOWS_DEPS} lacks ${ARGN}; run scripts/build-windows-deps again")
  endif()
  separate_arguments(cflags UNIX_COMMAND "${cflags}")
  # Include directories as such, so the libraries' headers are system headers and
  # the project's warnings are not turned on them.
  set(includes ${cflags})
  list(FILTER includes INCLUDE REGEX "^-I")
  list(TRANSFORM includes REPLACE "^-I" "")
  # SDL's "-Dmain=SDL_main" is for its own main(); the command has its own.
  list(FILTER cflags EXCLUDE REGEX "^-I|^-Dmain=")
  separate_arguments(libs UNIX_COMMAND "${libs}")
  # SDL's own main() and the windowed subsystem are for programs that are only a
  # window; the command keeps its console and its main().
  list(REMOVE_ITEM libs -lSDL2main -mwindows)
  add_library(${target} INTERFACE IMPORTED GLOBAL)
  # As link libraries, not link options: a static library's -l must follow the objects.
  set_target_properties(${target} PROPERTIES INTERFACE_COMPILE_OPTIONS "${cflags}"
                                             INTERFACE_INCLUDE_DIRECTORIES "${includes}"
                                             INTERFACE_LINK_LIBRARIES "${libs}")
  message(STATUS "Windows ${target}: ${ARGN} from ${TRACKLOOM_WINDOWS_DEPS}")
endfunction()

trackloom_windows_library(PkgConfig::FFMPEG
  libavformat libavcodec libavfilter libavutil libswscale libswresample)
trackloom_windows_library(PNG::PNG libpng16)
trackloom_windows_library(PkgConfig::SDL2 sdl2)
# libcdio, and its paranoia when that was built too (the rip reads without it).
if(EXISTS ${TRACKLOOM_WINDOWS_DEPS_PKGCONFIG}/libcdio.pc)
  if(EXISTS ${TRACKLOOM_WINDOWS_DEPS_PKGCONFIG}/libcdio_paranoia.pc)
    trackloom_windows_library(PkgConfig::CDIO libcdio libcdio_cdda libcdio_paranoia)
    set(TRACKLOOM_CD_PARANOIA ON CACHE INTERNAL "")
  else()
    trackloom_windows_library(PkgConfig::CDIO libcdio)
    set(TRACKLOOM_CD_PARANOIA OFF CACHE INTERNAL "")
  endif()
endif()
target_compile_definitions(PkgConfig::SDL2 INTERFACE SDL_MAIN_HANDLED)
