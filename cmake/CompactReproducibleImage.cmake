# The Windows programs: as small as what they use, and the same bytes from the same sources in any
# folder at any time, so a publisher or a player who rebuilds the stub can compare it.
if(NOT WIN32)
  return()
endif()

# Size: every function in a section of its own, so the linker drops what nothing reaches (in the
# runtime libraries too, which are built the same way). Not data: for a PE target gcc then puts
# zero-filled statics into initialised data, and the updater's 64 KiB path buffer with them.
add_compile_options(-ffunction-sections)
add_link_options(-Wl,--gc-sections)

# Same bytes: no link time in the PE header, and no build folder in the image (assertion texts and
# the like name sources from the project's root).
add_link_options(-Wl,--no-insert-timestamp)
add_compile_options("-ffile-prefix-map=${PROJECT_SOURCE_DIR}/=" "-ffile-prefix-map=${PROJECT_BINARY_DIR}/=")

# The C libraries compiled here (minizip, libdeflate, zopfli) are never unwound through: no unwind tables.
add_compile_options($<$<COMPILE_LANGUAGE:C>:-fno-asynchronous-unwind-tables>)

# Where each program's bytes come from: <program>.map beside the build's root.
add_link_options("-Wl,-Map=$<TARGET_PROPERTY:NAME>.map")

# Only the code a program reaches: GNU ld keeps every function an unwind table names, and drops
# the delay-load thunks only import slots name (cmake/link-reachable-code.py links twice).
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(CMAKE_CXX_LINKER_LAUNCHER ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/cmake/link-reachable-code.py)

# The updater's own code for size: its time goes to zlib's inflate and the runtime's file writes,
# which keep their optimisation. Set once every folder has made its targets.
function(qrt_compact_updater_code)
  foreach(target QRTManualPatch patchengine patchpackage)
    target_compile_options(${target} PRIVATE -Os)
  endforeach()
endfunction()
cmake_language(DEFER DIRECTORY ${PROJECT_SOURCE_DIR} CALL qrt_compact_updater_code)
