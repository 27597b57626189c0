# Installation (cmake --install) and the Debian package (cpack -G DEB).
#
# Installed: the programs backup (when the window is built), orvbackup,
# orvzip, orvsql and tablecheck into bin; the manual page of orvbackup; its
# bash completion; the desktop entry of the window and its icon.
include(GNUInstallDirs)

foreach(program backup orvbackup orvzip orvsql tablecheck)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()
install(FILES ${PROJECT_SOURCE_DIR}/docs/orvbackup.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/scripts/completion/orvbackup.bash
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME orvbackup)
install(FILES ${PROJECT_SOURCE_DIR}/res/orvbackup.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/res/orvbackup.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

set(CPACK_PACKAGE_NAME "orvbackup")
set(CPACK_PACKAGE_VENDOR "Orv Backup")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Backup program with its own table engine and zip component")
set(CPACK_PACKAGE_CONTACT "Orv Backup developers <orvbackup@localhost>")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "utils")
# The shared libraries the programs need (ICU, Qt) become the package's
# dependencies through dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
