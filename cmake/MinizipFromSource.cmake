# Windows build: minizip's unzip half compiled from Debian's source package (fetched by script/setup into
# build/third_party/minizip), zlib from the mingw-w64 package, and Boost's header-only libraries
# through a folder that holds nothing but a link to the host's boost/ headers.
set(QRT_MINIZIP_SOURCE_DIR "${PROJECT_SOURCE_DIR}/build/third_party/minizip"
    CACHE PATH "Unpacked minizip source package")
if(NOT EXISTS "${QRT_MINIZIP_SOURCE_DIR}/unzip.c")
  message(FATAL_ERROR "minizip source missing in ${QRT_MINIZIP_SOURCE_DIR}: run script/setup")
endif()

add_library(minizip_from_source STATIC "${QRT_MINIZIP_SOURCE_DIR}/ioapi.c"
                                       "${QRT_MINIZIP_SOURCE_DIR}/unzip.c")
# Headers are included as <minizip/unzip.h> and as <unzip.h>, as with the native package.
set(QRT_MINIZIP_INCLUDE_DIR "${PROJECT_BINARY_DIR}/third_party/include")
file(MAKE_DIRECTORY "${QRT_MINIZIP_INCLUDE_DIR}/minizip")
foreach(header ioapi.h unzip.h)
  configure_file("${QRT_MINIZIP_SOURCE_DIR}/${header}" "${QRT_MINIZIP_INCLUDE_DIR}/minizip/${header}"
                 COPYONLY)
endforeach()
target_include_directories(minizip_from_source SYSTEM
                           PUBLIC "${QRT_MINIZIP_INCLUDE_DIR}" "${QRT_MINIZIP_INCLUDE_DIR}/minizip")
target_compile_definitions(minizip_from_source PRIVATE NOCRYPT NOUNCRYPT)
target_compile_options(minizip_from_source PRIVATE -w)
set_target_properties(minizip_from_source PROPERTIES COMPILE_WARNING_AS_ERROR OFF)
target_link_libraries(minizip_from_source PUBLIC ZLIB::ZLIB)
add_library(minizip::minizip ALIAS minizip_from_source)

set(QRT_BOOST_INCLUDE_DIR "${PROJECT_BINARY_DIR}/third_party/boost-headers")
file(MAKE_DIRECTORY "${QRT_BOOST_INCLUDE_DIR}")
file(CREATE_LINK /usr/include/boost "${QRT_BOOST_INCLUDE_DIR}/boost" SYMBOLIC)
add_library(Boost::headers INTERFACE IMPORTED)
target_include_directories(Boost::headers SYSTEM INTERFACE "${QRT_BOOST_INCLUDE_DIR}")
