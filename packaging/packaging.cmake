# SPDX-License-Identifier: MIT
# CPack: one Debian package, zolt-usb-jtag, holding the "Runtime" component.
#   cmake --build <build> --target package    or    (cd <build> && cpack -G DEB)
# Shared-library dependencies come from dpkg-shlibdeps over every ELF file in the package
# (libVorlink.so included, although the programs load it with dlopen); what dpkg-shlibdeps cannot
# see (fonts, udev) is recommended explicitly.

set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "${PROJECT_NAME}")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_VENDOR "zolt-usb-jtag developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "flash programmer for ZOLT target boards through USB JTAG probes")
set(CPACK_PACKAGING_INSTALL_PREFIX "${ZOLT_PACKAGE_PREFIX}")
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};${PROJECT_NAME};Runtime;/")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY "${CMAKE_BINARY_DIR}/package")

set(ZOLT_DEB_MAINTAINER "zolt-usb-jtag developers <zolt-usb-jtag@example.com>"
    CACHE STRING "Maintainer field of the Debian package")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${ZOLT_DEB_MAINTAINER}")

# ---- Debian documentation: copyright and changelog ----------------------------------------------
# The copyright file covers the project and the header-only libraries compiled into the binaries.
install(FILES deb/copyright DESTINATION ${ZOLT_DOC_DIR} COMPONENT Runtime)
# The Debian changelog is made from CHANGELOG.md at build time. The version carries no Debian
# revision (a native package), and a native package's changelog is changelog.gz.
set(ZOLT_DEB_DISTRIBUTION "unstable" CACHE STRING "Distribution of the Debian changelog entries")
set(zolt_deb_changelog ${CMAKE_CURRENT_BINARY_DIR}/deb/changelog.gz)
add_custom_command(
  OUTPUT ${zolt_deb_changelog}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/deb
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/deb/debian-changelog ${ZOLT_CHANGELOG} ${PROJECT_NAME} ${PROJECT_VERSION}
          ${ZOLT_DEB_MAINTAINER} ${ZOLT_DEB_DISTRIBUTION} > ${CMAKE_CURRENT_BINARY_DIR}/deb/changelog
  COMMAND ${GZIP_PROGRAM} -9 -n -c ${CMAKE_CURRENT_BINARY_DIR}/deb/changelog > ${zolt_deb_changelog}
  DEPENDS ${ZOLT_CHANGELOG} ${CMAKE_CURRENT_SOURCE_DIR}/deb/debian-changelog
  COMMENT "Making the Debian changelog from CHANGELOG.md"
  VERBATIM)
add_custom_target(zolt-deb-changelog ALL DEPENDS ${zolt_deb_changelog})
install(FILES ${zolt_deb_changelog} DESTINATION ${ZOLT_DOC_DIR} COMPONENT Runtime)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "electronics")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
# The summary is the synopsis line; CPack indents the lines below and turns the empty one into " .".
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Programs NAND and NOR flash on TARVIS, KELDA, VTN3300, OKO and SOLANT target
boards through up to 16 USB JTAG probes side by side, and toggles all target
pins as a board test aid.

The package holds the Qt dialog zolt-usb-jtag, the command line zolt-flash for
production lines, the USB link library libVorlink.so, a udev rule that gives
the logged-in user access to the probes, and example files for the virtual
probe bench, with which everything runs without hardware.")

set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS "${CMAKE_BINARY_DIR}/bin")
# dpkg-shlibdeps names libusb-1.0-0 and libusb-0.1-4 (from libVorlink.so) and the Qt libraries,
# QtSvg for the icon included (from zolt-usb-jtag), with their minimum versions; scripts/test-deb
# checks that it did. The platform plugins come with libqt6gui6.
set(zolt_deb_depends)
set(zolt_deb_recommends "udev")
if(TARGET zolt-usb-jtag)
  # The dialog is laid out for Baekmuk Gulim and draws its Latin text in DejaVu Sans Condensed;
  # Noto Sans CJK KR serves its Korean texts as well.
  list(APPEND zolt_deb_depends "fonts-baekmuk | fonts-noto-cjk" "fonts-dejavu-extra")
  list(APPEND zolt_deb_recommends "hicolor-icon-theme")
endif()
list(JOIN zolt_deb_depends ", " CPACK_DEBIAN_PACKAGE_DEPENDS)
list(JOIN zolt_deb_recommends ", " CPACK_DEBIAN_PACKAGE_RECOMMENDS)

set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA "${CMAKE_CURRENT_SOURCE_DIR}/deb/postinst;${CMAKE_CURRENT_SOURCE_DIR}/deb/postrm")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
