# Where the Windows command's libraries are: TRACKLOOM_WINDOWS_DEPS when given,
# else the cache scripts/build-windows-deps has filled for this machine's source
# packages and this version of the script, if it has. Without them the Windows build
# is the filter module alone, as before.
set(TRACKLOOM_WINDOWS_DEPS "" CACHE PATH
    "scripts/build-windows-deps's directory; the Windows trackloom.exe is built when set")
if(NOT TRACKLOOM_WINDOWS_DEPS AND CMAKE_SIZEOF_VOID_P EQUAL 8)
  execute_process(COMMAND ${PROJECT_SOURCE_DIR}/scripts/build-windows-deps --print-dir
                  OUTPUT_VARIABLE found RESULT_VARIABLE failed ERROR_QUIET
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT failed AND EXISTS ${found}/trackloom-windows-deps.txt)
    set(TRACKLOOM_WINDOWS_DEPS ${found} CACHE PATH "" FORCE)
  endif()
endif()
if(TRACKLOOM_WINDOWS_DEPS)
  message(STATUS "trackloom.exe: libraries from ${TRACKLOOM_WINDOWS_DEPS}")
else()
  message(STATUS "trackloom.exe: not built (no scripts/build-windows-deps libraries for this build)")
endif()
