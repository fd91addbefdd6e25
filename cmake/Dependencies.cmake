# zlib, minizip (unzip half), libdeflate and zopfli (patchkit's encoders) and the header-only Boost
# libraries, as imported targets: ZLIB::ZLIB, minizip::minizip, libdeflate::libdeflate,
# zopfli::zopfli, Boost::headers.
find_package(ZLIB REQUIRED)
if(WIN32)
  include(cmake/MinizipFromSource.cmake)
  include(cmake/LibraryFromSource.cmake)
else()
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(MINIZIP REQUIRED IMPORTED_TARGET minizip)
  add_library(minizip::minizip ALIAS PkgConfig::MINIZIP)
  pkg_check_modules(LIBDEFLATE REQUIRED IMPORTED_TARGET libdeflate)
  add_library(libdeflate::libdeflate ALIAS PkgConfig::LIBDEFLATE)
  # Debian's package has no pkg-config file; its headers are under zopfli/.
  find_path(ZOPFLI_INCLUDE_DIR zopfli/deflate.h REQUIRED)
  find_library(ZOPFLI_LIBRARY zopfli REQUIRED)
  add_library(zopfli::zopfli UNKNOWN IMPORTED)
  set_target_properties(zopfli::zopfli PROPERTIES IMPORTED_LOCATION "${ZOPFLI_LIBRARY}"
                                                  INTERFACE_INCLUDE_DIRECTORIES "${ZOPFLI_INCLUDE_DIR}")
  find_package(Boost 1.74 REQUIRED)
endif()
