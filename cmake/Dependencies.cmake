# zlib, minizip (unzip half) and the header-only Boost libraries, as imported targets:
# ZLIB::ZLIB, minizip::minizip, Boost::headers.
find_package(ZLIB REQUIRED)
if(WIN32)
  include(cmake/MinizipFromSource.cmake)
else()
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(MINIZIP REQUIRED IMPORTED_TARGET minizip)
  add_library(minizip::minizip ALIAS PkgConfig::MINIZIP)
  find_package(Boost 1.74 REQUIRED)
endif()
