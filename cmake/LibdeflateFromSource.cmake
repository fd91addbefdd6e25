# Windows build: libdeflate's compressor compiled from Debian's source package (fetched by
# script/setup into build/third_party/libdeflate). Only patchkit links it.
set(QRT_LIBDEFLATE_SOURCE_DIR "${PROJECT_SOURCE_DIR}/build/third_party/libdeflate"
    CACHE PATH "Unpacked libdeflate source package")
if(NOT EXISTS "${QRT_LIBDEFLATE_SOURCE_DIR}/lib/deflate_compress.c")
  message(FATAL_ERROR "libdeflate source missing in ${QRT_LIBDEFLATE_SOURCE_DIR}: run script/setup")
endif()

add_library(libdeflate_from_source STATIC "${QRT_LIBDEFLATE_SOURCE_DIR}/lib/deflate_compress.c"
                                          "${QRT_LIBDEFLATE_SOURCE_DIR}/lib/utils.c"
                                          "${QRT_LIBDEFLATE_SOURCE_DIR}/lib/x86/cpu_features.c")
target_include_directories(libdeflate_from_source SYSTEM PUBLIC "${QRT_LIBDEFLATE_SOURCE_DIR}")
target_compile_options(libdeflate_from_source PRIVATE -w)
set_target_properties(libdeflate_from_source PROPERTIES COMPILE_WARNING_AS_ERROR OFF)
add_library(libdeflate::libdeflate ALIAS libdeflate_from_source)
