# Windows programs are run with administrator rights from download folders, where a web page can
# leave a DLL of any name. Each program restricts the DLL search to System32 first thing
# (platform/SafeStartWin32.cpp, its entry point), every DLL it imports is delay-loaded, so that it
# and what it pulls in is found only after that, and its load configuration asks the loader for
# System32 alone for its static imports too. Only kernel32 and msvcrt stay static imports: the
# entry point and the C runtime's start need them, and both are KnownDLLs.
set(QRT_DELAY_LOADED_DLLS advapi32 bcrypt comctl32 crypt32 gdi32 ole32 oleaut32 shell32 user32
                          wintrust)

# Delay-import libraries made from the toolchain's import libraries: every function they name.
find_program(QRT_DLLTOOL ${QRT_MINGW_TRIPLET}-dlltool REQUIRED)
find_program(QRT_NM ${QRT_MINGW_TRIPLET}-nm REQUIRED)
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(delay_dir ${PROJECT_BINARY_DIR}/delay-imports)
file(MAKE_DIRECTORY ${delay_dir})
set(delay_libraries "")
foreach(dll IN LISTS QRT_DELAY_LOADED_DLLS)
  find_library(QRT_IMPORT_LIBRARY_${dll} NAMES lib${dll}.a REQUIRED)
  execute_process(COMMAND ${QRT_NM} -g --defined-only ${QRT_IMPORT_LIBRARY_${dll}}
                  OUTPUT_VARIABLE symbols COMMAND_ERROR_IS_FATAL ANY)
  # Functions have a thunk (T); 32-bit names carry a leading underscore.
  string(REGEX MATCHALL "[0-9a-fA-F]+ T [^\r\n]+" functions "${symbols}")
  set(definition "LIBRARY ${dll}.dll\nEXPORTS\n")
  foreach(function IN LISTS functions)
    string(REGEX REPLACE "^[0-9a-fA-F]+ T " "" name "${function}")
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
      string(REGEX REPLACE "^_" "" name "${name}")
    endif()
    string(APPEND definition "${name}\n")
  endforeach()
  file(WRITE ${delay_dir}/${dll}.def "${definition}")
  # dlltool names its members and their symbols after the output's path unless given a prefix,
  # and the linked image then depends on the build folder.
  execute_process(COMMAND ${QRT_DLLTOOL} --kill-at --input-def ${dll}.def --temp-prefix ${dll}
                          --dllname ${dll}.dll --output-delaylib lib${dll}_delay.a
                  WORKING_DIRECTORY ${delay_dir} COMMAND_ERROR_IS_FATAL ANY)
  # Named from the build's root, where the links run: ld orders import sections by their
  # archive's path, so a full path would order them by the build folder's name.
  string(APPEND delay_libraries " delay-imports/lib${dll}_delay.a")
  # What a library names for its calls into the DLL, in place of the import library.
  add_library(DelayLoaded::${dll} INTERFACE IMPORTED GLOBAL)
  set_target_properties(DelayLoaded::${dll} PROPERTIES
    INTERFACE_LINK_LIBRARIES ${delay_dir}/lib${dll}_delay.a)
endforeach()
# Calls name the function, whose thunk jumps through its slot, not the slot itself: a 32-bit link
# drops the code that loads the DLL when only slots name it (binutils bug 14339), and the first
# call then jumps to address zero. cmake/check-linked-image.py checks every slot after the link.
add_compile_definitions(DECLSPEC_IMPORT=)

# The same after every library of ours and ahead of the toolchain's import libraries, so that the
# calls the toolchain's own libraries make are resolved to the delay-loaded form too.
set(CMAKE_C_STANDARD_LIBRARIES "${delay_libraries} ${CMAKE_C_STANDARD_LIBRARIES}")
set(CMAKE_CXX_STANDARD_LIBRARIES "${delay_libraries} ${CMAKE_CXX_STANDARD_LIBRARIES}")

# The entry point that restricts the search before the C runtime starts, and the load
# configuration pointed at after the link. KIND: WINDOWS or CONSOLE.
function(qrt_safe_dll_loading target kind)
  if(kind STREQUAL "WINDOWS")
    set(entry QrtWindowsEntry)
  else()
    set(entry QrtConsoleEntry)
  endif()
  # 32-bit C names carry a leading underscore.
  set(prefix "")
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(prefix _)
  endif()
  target_link_libraries(${target} PRIVATE qrtsafestart)
  target_link_options(${target} PRIVATE LINKER:--entry=${prefix}${entry}
                                        LINKER:--undefined=${prefix}QrtLoadConfiguration)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/cmake/point-load-configuration.py
            $<TARGET_FILE:${target}>
    VERBATIM)
endfunction()
