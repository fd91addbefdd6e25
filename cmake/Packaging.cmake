# Install rules and packages. `cmake --install` puts patchkit, its man page, the publishers' part of
# README and the updater stubs under the prefix; CPack makes the Debian package of the same
# (patchkit_VERSION_amd64.deb) and, with -G ZIP, the Windows bundle: both patchkit.exe builds and
# both updaters. The Windows programs come from the win32 and win64 build folders, which must be
# built first; script/package does it all.
include(GNUInstallDirs)

set(QRT_PACKAGE_PREFIX /usr)
set(QRT_STUBS_DIR ${CMAKE_INSTALL_DATADIR}/patchkit/stubs)
set(QRT_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/patchkit)
set(packaging ${PROJECT_SOURCE_DIR}/cmake/packaging)
set(generated ${CMAKE_CURRENT_BINARY_DIR}/packaging)

install(TARGETS patchkit RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT patchkit)

find_program(QRT_HELP2MAN help2man)
if(QRT_HELP2MAN)
  add_custom_command(
    OUTPUT ${generated}/patchkit.1.gz
    COMMAND ${CMAKE_COMMAND} -DPATCHKIT=$<TARGET_FILE:patchkit> -DWORK=${generated}/man
            -DOUTPUT=${generated}/patchkit.1.gz -DSTUBS=${QRT_PACKAGE_PREFIX}/${QRT_STUBS_DIR}
            -P ${PROJECT_SOURCE_DIR}/cmake/ManPage.cmake
    DEPENDS patchkit ${PROJECT_SOURCE_DIR}/cmake/ManPage.cmake
    VERBATIM)
  add_custom_target(patchkit_manpage ALL DEPENDS ${generated}/patchkit.1.gz)
  install(FILES ${generated}/patchkit.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
          COMPONENT patchkit)
else()
  message(STATUS "help2man not found: the man page is left out of the install (script/setup all)")
endif()

# The publishers' manual is the .deb's README: docs/publishing.md where it has a document of its
# own, otherwise README's part from its heading up to the next part.
set(manual ${PROJECT_SOURCE_DIR}/docs/publishing.md)
if(EXISTS ${manual})
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${manual})
  configure_file(${manual} ${generated}/README.md COPYONLY)
else()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/README.md)
  file(READ ${PROJECT_SOURCE_DIR}/README.md readme)
  string(FIND "${readme}" "## For publishers" start)
  string(FIND "${readme}" "\n## Layout" end)
  if(start EQUAL -1 OR end LESS start)
    message(FATAL_ERROR "README.md: no part \"## For publishers\" ahead of \"## Layout\"")
  endif()
  math(EXPR length "${end} - ${start} + 1")
  string(SUBSTRING "${readme}" ${start} ${length} publishers)
  file(WRITE ${generated}/README.md "# patchkit\n\n${publishers}")
endif()

# Debian's changelog and copyright; the changelog compressed as policy asks, with no time stamp.
configure_file(${packaging}/changelog.in ${generated}/changelog @ONLY)
add_custom_command(
  OUTPUT ${generated}/changelog.gz
  COMMAND gzip -9nc ${generated}/changelog > ${generated}/changelog.gz
  DEPENDS ${generated}/changelog
  VERBATIM)
add_custom_target(patchkit_changelog ALL DEPENDS ${generated}/changelog.gz)
install(FILES ${generated}/README.md ${packaging}/copyright ${generated}/changelog.gz
        DESTINATION ${QRT_DOC_DIR} COMPONENT patchkit)

# The stubs, so that a publisher with only the Debian package can build a package.
foreach(build win32 win64)
  string(TOUPPER ${build} upper)
  set(dir ${QRT_${upper}_BUILD_DIR})
  install(FILES ${dir}/QRTManualPatch.exe DESTINATION ${QRT_STUBS_DIR}/${build} COMPONENT stubs)
  install(PROGRAMS ${dir}/tools/patchkit/patchkit.exe ${dir}/QRTManualPatch.exe
          DESTINATION ${build} COMPONENT windows EXCLUDE_FROM_ALL)
endforeach()
configure_file(${packaging}/README-windows.txt.in ${generated}/README.txt @ONLY NEWLINE_STYLE CRLF)
install(FILES ${generated}/README.txt DESTINATION . COMPONENT windows EXCLUDE_FROM_ALL)

set(CPACK_PACKAGE_NAME patchkit)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "QRTManualPatch")
set(CPACK_PACKAGE_CONTACT "QRTManualPatch maintainers <patchkit@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "build, check, sign and apply QRTManualPatch.exe packages")
set(CPACK_PACKAGE_DESCRIPTION
    "patchkit makes the update packages that QRTManualPatch.exe carries: it
appends an archive of the update's files to the updater program, checks a
package as the updater would read it, applies it to a game folder with the
updater's own engine, makes the update from two releases, and signs and
seals it. The 32- and 64-bit updater programs come with it.")
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_SOURCE_DIR}/build/package)
set(CPACK_PACKAGING_INSTALL_PREFIX ${QRT_PACKAGE_PREFIX})
set(CPACK_GENERATOR DEB)
set(CPACK_STRIP_FILES TRUE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS osslsigncode)
# Directories as dpkg makes them, whatever the umask of the build.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
                                                GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
# The zip holds only the Windows programs and their README.
configure_file(${packaging}/CPackProjectConfig.cmake.in ${generated}/CPackProjectConfig.cmake
               @ONLY)
set(CPACK_PROJECT_CONFIG_FILE ${generated}/CPackProjectConfig.cmake)
include(CPack)
