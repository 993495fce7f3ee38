# The Debian package, built with `cpack -G DEB` in a build folder configured
# with CMAKE_INSTALL_PREFIX=/usr (scripts/package.sh does all of it).
# Run-time dependencies come from the binary (dpkg-shlibdeps), plus what it
# loads without linking. The package holds the folders the relay works in
# (empty); the maintainer scripts create the quillport group and give the
# folders to it, and a purge deletes the log file.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quillport)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${QUILLPORT_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "desktop relay from a mail drop folder to a news server")
set(CPACK_PACKAGE_DESCRIPTION "\
Quillport watches a drop folder into which a mail program writes each
message as a .cnm file. Every few minutes it connects to a news server
over NNTP, logs each message, strips its transport headers, posts it as
a news article and deletes the file; refused messages are filed in an
error folder. One status window shows the operator everything.
.
quillport-deliver hands a message from a mail system (an alias pipe,
procmail, fetchmail) to the relay: it converts line ends, drops mbox
framing, adds a Newsgroups header and answers with sysexits codes.
.
quillportd runs the same relay as a systemd service for servers (shipped
disabled), with an Action as soon as new messages have settled.
.
Its folders, log file and news server are fixed when it is built.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES TRUE)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION news)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The X11 platform plugin Qt loads at run time comes with libqt6gui6, which
# the binary links; Qt Svg is linked too (the pictures are compiled in), so
# no plugin package is needed. The postinst makes the group with groupadd.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "passwd")
# xdg-open for the VIEW button; a local news server is one choice among
# others (the relay may post to any server), so it is only suggested.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "inn2")
# Everything the install step installs, and the component for the package.
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};${PROJECT_NAME};ALL;/;${CMAKE_BINARY_DIR};${PROJECT_NAME};system;/")

# The maintainer scripts know the compiled-in folders.
set(control_extra)
foreach(script postinst postrm)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/${script}.in ${CMAKE_BINARY_DIR}/debian/${script}
                 @ONLY FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
                 GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  list(APPEND control_extra ${CMAKE_BINARY_DIR}/debian/${script})
endforeach()
# A file under /etc is the administrator's to change: a conffile.
set(conffiles ${QUILLPORT_SYSTEM_CONFFILES})
if(QUILLPORT_AUTOSTART)
  list(APPEND conffiles ${CMAKE_INSTALL_FULL_SYSCONFDIR}/xdg/autostart/quillport.desktop)
endif()
list(JOIN conffiles "\n" conffiles)
file(WRITE ${CMAKE_BINARY_DIR}/debian/conffiles "${conffiles}\n")
list(APPEND control_extra ${CMAKE_BINARY_DIR}/debian/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA "${control_extra}")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)

include(CPack)
