# What `cmake --install` puts where, and the Debian package CPack makes of it
# (scripts/release writes it to dist/):
#   /usr/bin/trackloom
#   /usr/share/man/man1/trackloom.1.gz                  from packaging/trackloom.1.pod
#   /usr/share/bash-completion/completions/trackloom
#   /usr/share/doc/trackloom/README.md, copyright       (copyright: LICENSE, Debian's way)
# The package's Depends are worked out by dpkg-shlibdeps from what the installed
# binary links, so they name exactly the runtime libraries and their versions.
include(GNUInstallDirs)

# The manual page is built from its POD source with pod2man (part of perl, which
# every Debian system has), gzipped the way Debian ships manual pages.
find_program(POD2MAN pod2man REQUIRED)
find_program(GZIP gzip REQUIRED)
set(TRACKLOOM_MANUAL_SOURCE ${PROJECT_SOURCE_DIR}/packaging/trackloom.1.pod)
set(TRACKLOOM_MANUAL ${PROJECT_BINARY_DIR}/packaging/trackloom.1)
add_custom_command(
  OUTPUT ${TRACKLOOM_MANUAL} ${TRACKLOOM_MANUAL}.gz
  COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/packaging
  COMMAND ${POD2MAN} --section=1 --name=TRACKLOOM --center=Trackloom
          "--release=trackloom ${PROJECT_VERSION}" --utf8
          ${TRACKLOOM_MANUAL_SOURCE} ${TRACKLOOM_MANUAL}
  COMMAND ${GZIP} -9 -n -c ${TRACKLOOM_MANUAL} > ${TRACKLOOM_MANUAL}.gz
  DEPENDS ${TRACKLOOM_MANUAL_SOURCE}
  COMMENT "Manual page trackloom(1)"
  VERBATIM)
add_custom_target(trackloom_manual ALL DEPENDS ${TRACKLOOM_MANUAL} ${TRACKLOOM_MANUAL}.gz)

install(TARGETS trackloom RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${TRACKLOOM_MANUAL}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/trackloom.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions
        RENAME trackloom)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
# Debian's form of the licence (LICENSE's terms, pointing to the GPL text every Debian
# system has in /usr/share/common-licenses).
install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME trackloom)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR Mossgrave)
set(CPACK_PACKAGE_CONTACT "Mossgrave" CACHE STRING "The Debian package's Maintainer field")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "turn video into track files for VideoNow Color players")
set(CPACK_PACKAGE_DESCRIPTION
  "trackloom turns any video FFmpeg can read into the track files a VideoNow
Color player plays from a CD: every frame shrunk to the player's 144 x 80
picture at 18 frames per second, with its sound, split into tracks at the
frames you choose. It also checks track files byte by byte, decodes them back
into pictures, sound and a preview video, and plays them in a window.
'trackloom demo' makes two tracks from a generated clip.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The completion file is used only where bash-completion is installed.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS bash-completion)
# 'trackloom disc --test-pattern' letters its cards in DejaVu Sans.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS fonts-dejavu-core)
include(CPack)
