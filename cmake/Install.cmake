# Installation (cmake --install) and the Debian package (cpack -G DEB) of the
# Linux programs. The Windows build is packed as a zip by
# scripts/package-windows.sh instead.

include(GNUInstallDirs)

set(KESTREL_APP_ID org.example.kestrel.Decoder)
set(_pkg ${PROJECT_SOURCE_DIR}/packaging)
set(_doc ${CMAKE_INSTALL_DATADIR}/doc/kestrel-decoder)
set(_programs kestrel-decoder kestrel-redecode kestrel-trends kestrel-tnc-sim)

# Debian ships the licence as the copyright file, which points at its text in
# /usr/share/common-licenses; a plain install carries the text itself.
option(KESTREL_INSTALL_LICENSE_TEXT "Install LICENSE beside the README" ON)

install(TARGETS ${_programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${_pkg}/${KESTREL_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${_pkg}/${KESTREL_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${_pkg}/${KESTREL_APP_ID}.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

# Man pages and the changelog compressed as Debian wants them: gzip -9 without
# a name or time stamp, so that equal sources give equal packages.
set(_gen ${CMAKE_BINARY_DIR}/packaging)
foreach(_program IN LISTS _programs)
  configure_file(${_pkg}/man/${_program}.1.in ${_gen}/man/${_program}.1 @ONLY)
  list(APPEND _man ${_gen}/man/${_program}.1)
endforeach()
file(COPY_FILE ${_pkg}/changelog ${_gen}/changelog ONLY_IF_DIFFERENT)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_pkg}/changelog)
foreach(_file IN LISTS _man ITEMS ${_gen}/changelog)
  execute_process(COMMAND gzip -9nf -k ${_file} RESULT_VARIABLE _gzip)
  if(NOT _gzip EQUAL 0)
    message(FATAL_ERROR "gzip ${_file} failed")
  endif()
endforeach()
list(TRANSFORM _man APPEND .gz)
install(FILES ${_man} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${_gen}/changelog.gz ${_pkg}/copyright DESTINATION ${_doc})
# The beacon's description for SatNOGS DB's decoders: data the team hands on
# (and parses with), so not below doc/, which may be left out of an install.
install(FILES ${_pkg}/satnogs/kestrel.ksy DESTINATION ${CMAKE_INSTALL_DATADIR}/kestrel-decoder/satnogs)
if(KESTREL_INSTALL_LICENSE_TEXT)
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${_doc})
endif()
# The README, and the guides with their pictures in docs/ beside it, laid out
# as in the source tree so that their links and pictures work where they are
# installed. The README's links to the changelog and the licence go where the
# package puts them (changelog.gz; the copyright file when the licence text
# is not installed).
file(READ ${PROJECT_SOURCE_DIR}/README.md _readme)
string(REPLACE "](packaging/changelog)" "](changelog.gz)" _readme "${_readme}")
if(NOT KESTREL_INSTALL_LICENSE_TEXT)
  string(REPLACE "](LICENSE)" "](copyright)" _readme "${_readme}")
endif()
set(_written "")
if(EXISTS ${_gen}/README.md)
  file(READ ${_gen}/README.md _written)
endif()
if(NOT "${_written}" STREQUAL "${_readme}")
  file(WRITE ${_gen}/README.md "${_readme}")
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/README.md)
install(FILES ${_gen}/README.md DESTINATION ${_doc})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION ${_doc}/docs FILES_MATCHING PATTERN "*.md" PATTERN "*.png")

# The Debian package. Its dependencies on shared libraries come from
# dpkg-shlibdeps; Qt's platform plugins sit in libqt6gui6, which it finds.
# The receive panes' stand-in font is named here: no library links it.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kestrel-decoder)
set(CPACK_PACKAGE_VERSION ${KESTREL_PACKAGE_VERSION})
set(CPACK_PACKAGE_VENDOR "KESTREL team")
set(CPACK_PACKAGE_CONTACT "KESTREL team <telemetry@kestrel.example.org>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION hamradio)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-dejavu-core")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "direwolf")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "telemetry decoder for the KESTREL satellite's beacon
A ground-station program for the KESTREL satellite's telemetry beacon. A TNC
on a serial port, or a software TNC such as direwolf on its KISS TCP port,
passes on the downlink; kestrel-decoder shows every byte as text and
hexadecimal, decodes each beacon into readable lines (flight time, battery,
currents, magnetic field, temperatures, GPS position, transponder state) and
archives everything in the Telemetry folder of its station folder: ~/KESTREL
when started from the menu, the current directory when started from a shell.

Opening a serial port such as /dev/ttyUSB0 needs membership in the group
dialout (adduser USER dialout, then log in again).

Also included: kestrel-redecode (decodes recorded logs again, CSV export),
kestrel-trends (plots the telemetry over time) and kestrel-tnc-sim (a
simulated TNC for trying the program out).")
include(CPack)
