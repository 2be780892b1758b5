# The Debian package of the programs: kivphoto, kivphoto-desktop and the
# library they load, with their desktop entry, AppStream data, manual pages and
# Debian documentation. The Development component (headers, CMake package,
# pkg-config file, the .so link) stays out: it is for building against the
# library, not for running the programs.
set(KIV_PACKAGE_MAINTAINER "kivPhotoUpload developers <kivphoto@dealer-systems.example>")
set(KIV_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging/linux)
set(KIV_PACKAGING_OUT ${PROJECT_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${KIV_PACKAGING_OUT})

# The changelog entry and the AppStream release carry the date of the
# configure run (SOURCE_DATE_EPOCH when set, for reproducible builds), so they
# always name the version being built.
string(TIMESTAMP KIV_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
string(TIMESTAMP KIV_RELEASE_DATE "%Y-%m-%d" UTC)
configure_file(${KIV_PACKAGING_DIR}/changelog.in ${KIV_PACKAGING_OUT}/changelog @ONLY)
configure_file(${KIV_PACKAGING_DIR}/example.dealersystems.kivphoto.metainfo.xml.in
  ${KIV_PACKAGING_OUT}/example.dealersystems.kivphoto.metainfo.xml @ONLY)

# Debian wants the changelog and manual pages compressed with gzip -9, without
# the name and time stamp gzip would otherwise store (-n), so the package does
# not change from one build to the next.
find_program(KIV_GZIP gzip REQUIRED)
set(KIV_GZIPPED)
foreach(source IN ITEMS ${KIV_PACKAGING_OUT}/changelog
                        ${KIV_PACKAGING_DIR}/kivphoto.1
                        ${KIV_PACKAGING_DIR}/kivphoto-desktop.1)
  get_filename_component(name ${source} NAME)
  add_custom_command(OUTPUT ${KIV_PACKAGING_OUT}/${name}.gz
    COMMAND sh -c "\"$0\" -9n -c \"$1\" >\"$2\"" ${KIV_GZIP} ${source} ${KIV_PACKAGING_OUT}/${name}.gz
    DEPENDS ${source}
    COMMENT "Compressing ${name}"
    VERBATIM)
  list(APPEND KIV_GZIPPED ${KIV_PACKAGING_OUT}/${name}.gz)
endforeach()
add_custom_target(kiv_packaging_files ALL DEPENDS ${KIV_GZIPPED})

install(FILES ${KIV_PACKAGING_OUT}/kivphoto.1.gz
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT Runtime)
if(KIV_BUILD_DESKTOP)
  install(FILES ${KIV_PACKAGING_OUT}/kivphoto-desktop.1.gz
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT Runtime)
  install(FILES ${KIV_PACKAGING_OUT}/example.dealersystems.kivphoto.metainfo.xml
    DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo COMPONENT Runtime)
endif()
install(FILES ${KIV_PACKAGING_DIR}/copyright ${KIV_PACKAGING_OUT}/changelog.gz
  DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/kivphoto COMPONENT Runtime)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kivphoto)
set(CPACK_PACKAGE_VENDOR "kivPhotoUpload developers")
set(CPACK_PACKAGE_CONTACT "${KIV_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# The synopsis of the package; CPACK_DEBIAN_PACKAGE_DESCRIPTION below is the
# extended description under it.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "upload vehicle photos to a dealer system")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
# Only the Runtime component goes into the package.
set(CPACK_INSTALL_CMAKE_PROJECTS "${PROJECT_BINARY_DIR};${PROJECT_NAME};Runtime;/")
set(CPACK_STRIP_FILES ON)

execute_process(COMMAND dpkg --print-architecture
  OUTPUT_VARIABLE KIV_DEB_ARCHITECTURE OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
if(NOT KIV_DEB_ARCHITECTURE)
  set(KIV_DEB_ARCHITECTURE amd64)
endif()
set(CPACK_DEBIAN_PACKAGE_NAME kivphoto)
set(CPACK_DEBIAN_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${KIV_DEB_ARCHITECTURE})
set(CPACK_DEBIAN_FILE_NAME "kivphoto_${PROJECT_VERSION}_${KIV_DEB_ARCHITECTURE}.deb")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${KIV_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION [=[kivPhotoUpload sends the photos a dealer copied from a camera into a folder to
the dealer's servers. Each photo gets its number from the dealer's web
server, is reduced to a size limit, is put by FTP into the company's folder
and is then deleted locally.

This package contains kivphoto-desktop, a window that shows the photos as
thumbnails to tick and send, kivphoto, which lists and sends them from a
terminal or a script, and the libkivPhotoUpload library both of them use.]=])
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The package ships a public shared library: a shlibs file and the ldconfig
# trigger go with it. CPack writes the shlibs file but not the trigger (it
# calls ldconfig from postinst and postrm instead, which is harmless beside it).
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${KIV_PACKAGING_DIR}/triggers)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
