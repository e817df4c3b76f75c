# Debian packages built by CPack (`cmake --build BUILD --target package`):
#   qtl33          the workstation and qtl-settings in /opt/qtl33 (the program reads Data/QTL in
#                  its own folder), a launcher in the system menu, /usr/bin/qtl33 and
#                  /usr/bin/qtl-settings
#   qtl-devserver  the stand-in database server, for trying the demo, with a systemd unit
#                  (installed, not enabled)
# Site data (Data/QTL, Data/driver) is never shipped, so an upgrade cannot overwrite it; the
# postrm removes it on purge.

set(QTL_PACKAGE_MAINTAINER "QTL 33 maintainers <qtl33-maintainers@example.org>"
    CACHE STRING "Maintainer field of the Debian packages")
set(QTL_PKG_DIR ${CMAKE_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${QTL_PKG_DIR})

# Compressed documents as Debian wants them (maximum compression, no name or time stamp).
function(qtl_gzip source target)
  execute_process(COMMAND gzip -9nc ${source} OUTPUT_FILE ${target} RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "gzip failed for ${source}")
  endif()
endfunction()

# string(TIMESTAMP) follows SOURCE_DATE_EPOCH, so a rebuild of the same source gives the same file.
string(TIMESTAMP QTL_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
foreach(QTL_DEB_PACKAGE qtl33 qtl-devserver)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/changelog.in ${QTL_PKG_DIR}/${QTL_DEB_PACKAGE}/changelog @ONLY)
  qtl_gzip(${QTL_PKG_DIR}/${QTL_DEB_PACKAGE}/changelog ${QTL_PKG_DIR}/${QTL_DEB_PACKAGE}/changelog.gz)
endforeach()
foreach(QTL_MAN_PAGE qtl33 qtl-settings qtl-devserver)
  qtl_gzip(${CMAKE_CURRENT_LIST_DIR}/${QTL_MAN_PAGE}.1 ${QTL_PKG_DIR}/${QTL_MAN_PAGE}.1.gz)
endforeach()
# /usr/bin/qtl33 and /usr/bin/qtl-settings point into the program's folder; the workstation
# finds Data/ beside its real path, not beside the link.
file(MAKE_DIRECTORY ${QTL_PKG_DIR}/bin)
file(CREATE_LINK /opt/qtl33/qtl33 ${QTL_PKG_DIR}/bin/qtl33 SYMBOLIC)
file(CREATE_LINK /opt/qtl33/qtl-settings ${QTL_PKG_DIR}/bin/qtl-settings SYMBOLIC)

# ---- qtl33 -------------------------------------------------------------------------------------
install(TARGETS qtl33 qtl-settings RUNTIME DESTINATION opt/qtl33 COMPONENT workstation)
install(DIRECTORY DESTINATION opt/qtl33/Data COMPONENT workstation)
install(FILES ${QTL_PKG_DIR}/bin/qtl33 ${QTL_PKG_DIR}/bin/qtl-settings DESTINATION usr/bin COMPONENT workstation)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/qtl33.desktop DESTINATION usr/share/applications
        COMPONENT workstation)
install(FILES ${CMAKE_SOURCE_DIR}/resources/qtl33.svg
        DESTINATION usr/share/icons/hicolor/scalable/apps COMPONENT workstation)
install(FILES ${QTL_PKG_DIR}/qtl33.1.gz ${QTL_PKG_DIR}/qtl-settings.1.gz DESTINATION usr/share/man/man1
        COMPONENT workstation)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/copyright ${QTL_PKG_DIR}/qtl33/changelog.gz
              ${CMAKE_SOURCE_DIR}/docs/ADMIN.md
        DESTINATION usr/share/doc/qtl33 COMPONENT workstation)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/lintian-overrides-qtl33
        DESTINATION usr/share/lintian/overrides RENAME qtl33 COMPONENT workstation)

# ---- qtl-devserver -----------------------------------------------------------------------------
install(TARGETS qtl-devserver RUNTIME DESTINATION usr/bin COMPONENT devserver)
install(FILES ${QTL_PKG_DIR}/qtl-devserver.1.gz DESTINATION usr/share/man/man1 COMPONENT devserver)
# Installed, not enabled: no maintainer script starts it; the administrator does.
install(FILES ${CMAKE_CURRENT_LIST_DIR}/qtl-devserver.service DESTINATION lib/systemd/system
        COMPONENT devserver)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/copyright ${QTL_PKG_DIR}/qtl-devserver/changelog.gz
              ${CMAKE_SOURCE_DIR}/devserver/README.md
        DESTINATION usr/share/doc/qtl-devserver COMPONENT devserver)

# ---- CPack -------------------------------------------------------------------------------------
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME qtl33)
set(CPACK_PACKAGE_VENDOR "QTL 33 developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /)
set(CPACK_COMPONENTS_ALL workstation devserver)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${QTL_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
# Maintainer scripts 0755 and control files 0644, as policy wants, whatever the checkout's modes.
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEBIAN_WORKSTATION_PACKAGE_NAME qtl33)
set(CPACK_DEBIAN_WORKSTATION_PACKAGE_SECTION education)
# Beside the libraries found by dpkg-shlibdeps: Qt SQL's ODBC plugin, the ODBC driver manager and
# FreeTDS's driver (loaded at run time, so no library links them), the fonts the windows use and
# Qt's own translations (its Russian dialog buttons, loaded at start).
set(CPACK_DEBIAN_WORKSTATION_PACKAGE_DEPENDS
    "libqt6sql6-odbc, unixodbc, tdsodbc, fonts-liberation, fonts-dejavu-core, fonts-urw-base35, qt6-translations-l10n")
# Purge removes the site's settings (never shipped, so dpkg does not know them). CPack names a
# control file after its source file, so it is copied to the name dpkg expects.
configure_file(${CMAKE_CURRENT_LIST_DIR}/qtl33.postrm ${QTL_PKG_DIR}/qtl33/postrm COPYONLY)
set(CPACK_DEBIAN_WORKSTATION_PACKAGE_CONTROL_EXTRA ${QTL_PKG_DIR}/qtl33/postrm)
# CPack indents every line after the synopsis itself; "." is an empty line.
set(CPACK_COMPONENT_WORKSTATION_DESCRIPTION
    "QTL 33 student registration workstation
A desktop workstation for the registrar staff of a university: an operator
signs in against the university's Microsoft SQL Server database, registers
students to teachers and disciplines, and moves and removes registrations.
.
It is installed in /opt/qtl33 with qtl-settings, the tool that writes and
checks its connection settings file /opt/qtl33/Data/QTL. The database is
reached through Qt SQL's ODBC driver and FreeTDS or Microsoft's ODBC driver
for SQL Server.")

set(CPACK_DEBIAN_DEVSERVER_PACKAGE_NAME qtl-devserver)
set(CPACK_DEBIAN_DEVSERVER_PACKAGE_SECTION misc)
set(CPACK_COMPONENT_DEVSERVER_DESCRIPTION
    "stand-in database server for trying QTL 33
qtl-devserver speaks SQL Server's wire protocol on the loopback interface and
keeps the QTL database with demo data in an SQLite file, so that the QTL 33
workstation can be tried without a SQL Server.
.
It holds demo data only and is not SQL Server: never point a production
workstation at it.")

include(CPack)
