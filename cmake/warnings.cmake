# Warnings for the project's own targets (not for GoogleTest built from source).
function(trackloom_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion
                                           -Wno-sign-conversion)
  if(TRACKLOOM_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
