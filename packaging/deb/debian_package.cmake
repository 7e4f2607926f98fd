# The Debian package, built by CPack's DEB generator from this build tree:
#   cmake --build build --target package   → build/vantrel_VERSION_amd64.deb
# The programs and the shipped root go under /opt/vantrel; stage.cmake then moves the
# shipped settings aside (/opt/vantrel/share/localconfig, copied to /etc/opt/vantrel at
# install by postinst) and points the root's writable folders at /etc/opt/vantrel and
# /var/opt/vantrel, so the program finds everything where it always looks.
set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "vantrel")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_VENDOR "Vantrel")
set(CPACK_PACKAGE_CONTACT "Vantrel maintainers <maintainers@vantrel.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "DRAV mailbox file exchange client and its headless service")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Exchanges files with a DRAV gateway: a Qt window (Vantrel), a headless\nfront end (vantrel-cli) and the service vantrel-serve, which runs the\nscheduled download, upload and auto-sync tasks under systemd, with a\nstatus command, a monitoring check and Prometheus metrics.")
set(CPACK_PACKAGING_INSTALL_PREFIX "/opt/vantrel")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "net")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
# The shared libraries the programs link (dpkg-shlibdeps), plus the unpacker it runs.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS "${CMAKE_BINARY_DIR}/root/bin")
set(CPACK_DEBIAN_PACKAGE_DEPENDS "unzip, adduser")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    "${CMAKE_CURRENT_LIST_DIR}/postinst;${CMAKE_CURRENT_LIST_DIR}/prerm;${CMAKE_CURRENT_LIST_DIR}/postrm")
set(CPACK_STRIP_FILES ON)
# Fast to make and to check; the package is small either way.
set(CPACK_DEBIAN_COMPRESSION_TYPE "gzip")
set(CPACK_PRE_BUILD_SCRIPTS "${CMAKE_CURRENT_LIST_DIR}/stage.cmake")
# What stage.cmake needs to know.
set(CPACK_VANTREL_PACKAGING_DIR "${CMAKE_CURRENT_LIST_DIR}/..")
set(CPACK_VANTREL_VERSION "${PROJECT_VERSION}")
include(CPack)
