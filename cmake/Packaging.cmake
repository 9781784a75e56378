# Installation, in two layouts from one build:
# - a portable folder, `cmake --install build --prefix FOLDER`: the commands, their
#   libraries, the manual and the icon side by side. It runs from wherever it is
#   copied, and the program keeps its files beside itself.
# - the system layout, the component "system", installed only when asked for
#   (`cmake --install build --prefix /usr --component system`), which the Debian
#   package holds: commands in bin/, their libraries in lib/quorlinvcp/, the
#   manual, man pages, icons, menu entry, file type and AppStream data in share/.
# The program and the launcher find their companions from their own folder
# (app/InstallLayout, vspdevices/preload/run.cpp), so either layout works under
# any prefix.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(system COMPONENT system EXCLUDE_FROM_ALL)
set(QVCP_SYSTEM_DATADIR share)

# The commands users start; a further command is one more name here, and its man
# page one more docs/man/<command>.1.md.
set(QVCP_COMMANDS quorlinvcp quorlinvcp-run quorlinvcp-service)
set(QVCP_LIBRARIES vspdevices quorlinvcp-preload)

install(TARGETS ${QVCP_COMMANDS} RUNTIME DESTINATION .)
install(TARGETS ${QVCP_LIBRARIES} LIBRARY DESTINATION . NAMELINK_COMPONENT Unspecified)
install(FILES ${QVCP_MANUAL} ${QVCP_ICON} DESTINATION .)

install(TARGETS ${QVCP_COMMANDS} RUNTIME DESTINATION ${QVCP_SYSTEM_BINDIR} ${system})
install(TARGETS ${QVCP_LIBRARIES} LIBRARY DESTINATION ${QVCP_SYSTEM_LIBDIR}
  PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ ${system} NAMELINK_COMPONENT system)
install(FILES ${QVCP_MANUAL} packaging/copyright ${CMAKE_BINARY_DIR}/packaging/changelog.gz
  DESTINATION ${QVCP_SYSTEM_DOCDIR} ${system})
install(FILES packaging/quorlinvcp.doc-base DESTINATION ${QVCP_SYSTEM_DATADIR}/doc-base
  RENAME quorlinvcp-manual ${system})
install(FILES packaging/quorlinvcp.desktop DESTINATION ${QVCP_SYSTEM_DATADIR}/applications ${system})
install(FILES packaging/quorlinvcp.xml DESTINATION ${QVCP_SYSTEM_DATADIR}/mime/packages ${system})
install(FILES packaging/org.quorlinvcp.quorlinvcp.metainfo.xml DESTINATION ${QVCP_SYSTEM_DATADIR}/metainfo ${system})
install(DIRECTORY ${QVCP_ICONS}/hicolor DESTINATION ${QVCP_SYSTEM_DATADIR}/icons ${system})
if(EXISTS ${CMAKE_SOURCE_DIR}/packaging/quorlinvcp@.service)
  install(FILES packaging/quorlinvcp@.service DESTINATION lib/systemd/user ${system})
endif()

# The Debian changelog, compressed as Debian keeps it.
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/packaging/changelog.gz
  COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/packaging/changelog ${CMAKE_BINARY_DIR}/packaging/changelog
  COMMAND gzip -9nf ${CMAKE_BINARY_DIR}/packaging/changelog
  DEPENDS ${CMAKE_SOURCE_DIR}/packaging/changelog)

# The man pages, from docs/man/<command>.<section>.md, compressed as Debian keeps
# them. Without pandoc the build and the portable folder do without them.
find_program(QVCP_PANDOC pandoc)
file(GLOB QVCP_MAN_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/docs/man/*.md)
set(QVCP_MAN_PAGES)
if(QVCP_PANDOC)
  foreach(source ${QVCP_MAN_SOURCES})
    get_filename_component(page ${source} NAME_WLE)
    string(REGEX MATCH "[0-9]$" section ${page})
    set(out ${CMAKE_BINARY_DIR}/man/${page})
    add_custom_command(OUTPUT ${out}.gz
      COMMAND ${QVCP_PANDOC} --standalone --to man ${source} --output ${out}
      COMMAND gzip -9nf ${out}
      DEPENDS ${source}
      COMMENT "Writing the man page ${page}")
    install(FILES ${out}.gz DESTINATION ${QVCP_SYSTEM_DATADIR}/man/man${section} ${system})
    list(APPEND QVCP_MAN_PAGES ${out}.gz)
  endforeach()
else()
  message(WARNING "pandoc not found: the build writes no man pages, and the package lacks them")
endif()
add_custom_target(package_files ALL DEPENDS ${CMAKE_BINARY_DIR}/packaging/changelog.gz ${QVCP_MAN_PAGES})

# The Debian package, `cmake --build build --target deb`: the system layout under
# /usr, packed by packaging/build-deb with dpkg's own tools into build/.
add_custom_target(deb
  COMMAND ${CMAKE_SOURCE_DIR}/packaging/build-deb ${CMAKE_BINARY_DIR} ${CMAKE_BINARY_DIR}
  USES_TERMINAL)
add_dependencies(deb ${QVCP_COMMANDS} ${QVCP_LIBRARIES} manual icon package_files)

# The package's version is the changelog's latest; it must be the program's.
file(STRINGS ${CMAKE_SOURCE_DIR}/packaging/changelog QVCP_CHANGELOG_TOP LIMIT_COUNT 1)
if(NOT QVCP_CHANGELOG_TOP MATCHES "^quorlinvcp \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "packaging/changelog does not begin with an entry for ${PROJECT_VERSION}")
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/packaging/changelog)
