# zlib, minizip (unzip half), libdeflate (patchkit's encoder) and the header-only Boost libraries,
# as imported targets: ZLIB::ZLIB, minizip::minizip, libdeflate::libdeflate, Boost::headers.
find_package(ZLIB REQUIRED)
if(WIN32)
  include(cmake/MinizipFromSource.cmake)
  include(cmake/LibdeflateFromSource.cmake)
else()
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(MINIZIP REQUIRED IMPORTED_TARGET minizip)
  add_library(minizip::minizip ALIAS PkgConfig::MINIZIP)
  pkg_check_modules(LIBDEFLATE REQUIRED IMPORTED_TARGET libdeflate)
  add_library(libdeflate::libdeflate ALIAS PkgConfig::LIBDEFLATE)
  find_package(Boost 1.74 REQUIRED)
endif()
