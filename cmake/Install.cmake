# What `cmake --install` puts in place, under CMAKE_INSTALL_PREFIX (DESTDIR
# honoured): the program, quillport-deliver, and quillportd with its systemd
# unit and manual page, the desktop entry, the icon
# in the hicolor theme (the SVG and PNGs rendered from it at build time),
# both manual pages (showing the settings this build was configured with),
# the copyright and changelog, and, with QUILLPORT_AUTOSTART, an XDG
# autostart entry. Nothing else: no tests, benchmark, fuzzers or static
# libraries. The component `system` (the relay's folders, Exim's router and
# transport for the news aliases) goes into the Debian package only
# (debian/rules installs it): an install from source makes no group for
# them to name.
include(GNUInstallDirs)

option(QUILLPORT_AUTOSTART "Install an XDG autostart entry so the relay starts at every desktop login" OFF)

set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(QUILLPORT_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)
set(QUILLPORT_DOC_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/quillport)

install(TARGETS quillport quillport-deliver RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT program)
# quillportd and its unit (disabled until the administrator enables it), where systemd looks under the prefix.
install(TARGETS quillportd RUNTIME DESTINATION ${CMAKE_INSTALL_SBINDIR} COMPONENT program)
quillportd_unit(${CMAKE_BINARY_DIR}/packaging/quillportd.service ${CMAKE_INSTALL_FULL_SBINDIR}/quillportd)
install(FILES ${CMAKE_BINARY_DIR}/packaging/quillportd.service DESTINATION lib/systemd/system COMPONENT program)
install(FILES ${QUILLPORT_PACKAGING_DIR}/quillport.desktop
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/applications COMPONENT program)

# The icon: the SVG as it is, and a PNG for each usual size, rendered from it.
find_program(QUILLPORT_RSVG_CONVERT rsvg-convert)
if(NOT QUILLPORT_RSVG_CONVERT)
  message(FATAL_ERROR "rsvg-convert is needed to render the program's icon "
                      "(Debian package librsvg2-bin; bash scripts/install-deps.sh installs it)")
endif()
set(icon_svg ${PROJECT_SOURCE_DIR}/assets/quillport.svg)
set(icon_pngs)
foreach(side 16 22 24 32 48 64 128 256)
  set(png ${CMAKE_BINARY_DIR}/icons/${side}x${side}/quillport.png)
  add_custom_command(OUTPUT ${png}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/icons/${side}x${side}
    COMMAND ${QUILLPORT_RSVG_CONVERT} --width ${side} --height ${side} --format png --output ${png} ${icon_svg}
    DEPENDS ${icon_svg}
    COMMENT "Rendering the ${side}x${side} icon"
    VERBATIM)
  list(APPEND icon_pngs ${png})
  install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/${side}x${side}/apps
          COMPONENT program)
endforeach()
install(FILES ${icon_svg} DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/scalable/apps
        COMPONENT program)

# The manual page shows the configured settings; roff needs its backslashes
# and minus signs escaped.
function(quillport_roff_escape out text)
  string(REPLACE "\\" "\\e" text "${text}")
  string(REPLACE "-" "\\-" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()
foreach(setting DROP_FOLDER ERROR_FOLDER LOG_FILE SERVER_HOST SERVER_PORT)
  quillport_roff_escape(MAN_${setting} "${QUILLPORT_${setting}}")
endforeach()
get_filename_component(log_folder "${QUILLPORT_LOG_FILE}" DIRECTORY)
quillport_roff_escape(MAN_LOG_FOLDER "${log_folder}")
foreach(page quillport quillport-deliver)
  configure_file(${QUILLPORT_PACKAGING_DIR}/${page}.1.in ${CMAKE_BINARY_DIR}/man/${page}.1 @ONLY)
endforeach()
configure_file(${QUILLPORT_PACKAGING_DIR}/quillportd.8.in ${CMAKE_BINARY_DIR}/man/quillportd.8 @ONLY)
# The changelog is the Debian package's, the one record of each version.
configure_file(${PROJECT_SOURCE_DIR}/debian/changelog ${CMAKE_BINARY_DIR}/doc/changelog COPYONLY)

# Manual page and changelog are installed compressed, as Debian wants them
# (gzip -n: no name or time stamp, so the same input gives the same file).
find_program(QUILLPORT_GZIP gzip REQUIRED)
set(gzipped)
foreach(file man/quillport.1 man/quillport-deliver.1 man/quillportd.8 doc/changelog)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/${file}.gz
    COMMAND ${QUILLPORT_GZIP} -9 -n -f -k ${CMAKE_BINARY_DIR}/${file}
    DEPENDS ${CMAKE_BINARY_DIR}/${file}
    VERBATIM)
  list(APPEND gzipped ${CMAKE_BINARY_DIR}/${file}.gz)
endforeach()
install(FILES ${CMAKE_BINARY_DIR}/man/quillport.1.gz ${CMAKE_BINARY_DIR}/man/quillport-deliver.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT program)
install(FILES ${CMAKE_BINARY_DIR}/man/quillportd.8.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man8 COMPONENT program)
install(FILES ${PROJECT_SOURCE_DIR}/debian/copyright ${CMAKE_BINARY_DIR}/doc/changelog.gz
        DESTINATION ${QUILLPORT_DOC_DIR} COMPONENT program)

add_custom_target(quillport_install_files ALL DEPENDS ${icon_pngs} ${gzipped})

# The autostart entry belongs to the system's configuration: under the
# prefix's etc/ for /usr/local, in /etc itself for the prefix /usr.
if(QUILLPORT_AUTOSTART)
  install(FILES ${QUILLPORT_PACKAGING_DIR}/quillport.desktop
          DESTINATION ${CMAKE_INSTALL_FULL_SYSCONFDIR}/xdg/autostart COMPONENT autostart)
endif()

# For the Debian package only (debian/rules installs the component into
# quillport-common): the empty folders, so that dpkg knows them (the postinst
# gives them to the group quillport), and Exim's router and transport, which
# name that group. The log rotation snippet is configured here and installed
# by dh_installlogrotate.
get_filename_component(QUILLPORT_LOG_FOLDER "${QUILLPORT_LOG_FILE}" DIRECTORY)
foreach(dir ${QUILLPORT_DROP_FOLDER} ${QUILLPORT_ERROR_FOLDER} ${QUILLPORT_LOG_FOLDER})
  install(DIRECTORY DESTINATION ${dir} COMPONENT system EXCLUDE_FROM_ALL)
endforeach()
configure_file(${QUILLPORT_PACKAGING_DIR}/logrotate.in ${CMAKE_BINARY_DIR}/etc/logrotate.d/quillport @ONLY)
foreach(kind router transport)
  install(DIRECTORY ${QUILLPORT_PACKAGING_DIR}/exim4/${kind} DESTINATION /etc/exim4/conf.d
          COMPONENT system EXCLUDE_FROM_ALL)
endforeach()
