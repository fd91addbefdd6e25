# Every warning our own code gives; the presets make them errors (CMAKE_COMPILE_WARNING_AS_ERROR,
# which --compile-no-warning-as-error turns off), third-party sources opt out per target.
function(qrt_strict_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion
                                           -Wsign-conversion)
endfunction()
