# Installation: a portable folder holding the program, its device library, the
# launcher quorlinvcp-run with its interposition library, the runner
# quorlinvcp-service, the manual and the icon,
# that runs from wherever it is copied (the program finds the library beside itself,
# the launcher its own). The Debian package puts that folder at /opt/quorlinvcp
# with a marker that keeps the program from writing there (each user's files go to
# ~/.config/QuorlinVCP), adds a desktop menu entry whose working folder is the
# program's folder, and puts the launcher and the runner on the PATH
# (/usr/bin/quorlinvcp-run, /usr/bin/quorlinvcp-service) with the runner's systemd
# user unit (quorlinvcp@.service).
install(TARGETS quorlinvcp quorlinvcp-run RUNTIME DESTINATION .)
install(TARGETS quorlinvcp-service RUNTIME DESTINATION .)
install(TARGETS vspdevices LIBRARY DESTINATION . NAMELINK_COMPONENT Unspecified)
install(TARGETS quorlinvcp-preload LIBRARY DESTINATION .)
install(FILES ${QVCP_MANUAL} ${QVCP_ICON} DESTINATION .)
install(CODE "
  if(CMAKE_INSTALL_PREFIX STREQUAL \"/opt/quorlinvcp\")
    file(INSTALL \"${CMAKE_SOURCE_DIR}/packaging/quorlinvcp.desktop\"
         DESTINATION \"/usr/share/applications\")  # DESTDIR is added by file(INSTALL)
    file(INSTALL \"${CMAKE_SOURCE_DIR}/packaging/quorlinvcp.package\" DESTINATION \"/opt/quorlinvcp\")
    file(MAKE_DIRECTORY \"\$ENV{DESTDIR}/usr/bin\")
    file(CREATE_LINK /opt/quorlinvcp/quorlinvcp-run \"\$ENV{DESTDIR}/usr/bin/quorlinvcp-run\" SYMBOLIC)
    file(CREATE_LINK /opt/quorlinvcp/quorlinvcp-service \"\$ENV{DESTDIR}/usr/bin/quorlinvcp-service\" SYMBOLIC)
    file(INSTALL \"${CMAKE_SOURCE_DIR}/packaging/quorlinvcp@.service\" DESTINATION \"/usr/lib/systemd/user\")
  endif()")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quorlinvcp)
set(CPACK_PACKAGE_VENDOR "The QuorlinVCP developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Serial ports on the desktop for network Telnet-to-serial adapters")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /opt/quorlinvcp)
set(CPACK_INSTALL_PREFIX /opt/quorlinvcp)
set(CPACK_SET_DESTDIR ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME "quorlinvcp_${PROJECT_VERSION}_amd64.deb")
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "The QuorlinVCP developers <dev@quorlinvcp.invalid>")
set(CPACK_DEBIAN_PACKAGE_SECTION comm)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The window system plugins are loaded at run time, so no library dependency names them;
# the windows' fonts (DejaVu Sans and its condensed face) are asked for by name.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, fonts-dejavu-core, fonts-dejavu-extra, libidn2-0")
# postrm: on purge, the machine-wide autostart entry the program made goes too.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA "${CMAKE_SOURCE_DIR}/packaging/postrm")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "QuorlinVCP turns each channel of a network Telnet-to-serial adapter into a local\n serial port: picocom, minicom, pyserial or a Wine program open it like a real\n one, and the adapter's line follows its settings over RFC 2217.")
include(CPack)
