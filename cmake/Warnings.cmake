# Our own targets build warning-free at a strict level; third-party code
# (GoogleTest) keeps its own flags.
function(mediaprep_strict target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4 /WX /permissive-)
  else()
    target_compile_options(${target} PRIVATE
      -Wall -Wextra -Wpedantic -Wshadow -Wcast-qual -Wformat=2
      -Wmissing-declarations -Wundef -Werror)
  endif()
endfunction()
