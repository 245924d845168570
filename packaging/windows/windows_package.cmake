# The Windows installer (NSIS) and a zip of the programs:
# `cmake --build build-windows --target package`, or scripts/build-windows.sh.
# The programs sit in the installation folder itself, as their install()
# rules put them.
set(CPACK_GENERATOR NSIS ZIP)
set(CPACK_PACKAGE_NAME kqget)
set(CPACK_PACKAGE_VENDOR "kqget developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH})
set(CPACK_PACKAGE_FILE_NAME ${KQGET_WINDOWS_PACKAGE_NAME})
set(CPACK_PACKAGE_DIRECTORY ${KQGET_WINDOWS_PACKAGE_DIR})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "repair the card library of the KQ card game client")
set(CPACK_PACKAGE_INSTALL_DIRECTORY kqget)
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY kqget)
set(CPACK_STRIP_FILES ON)
set(CPACK_RESOURCE_FILE_README ${CMAKE_SOURCE_DIR}/README.md)
# The licence page shows kqget's licence, then expat's, which the programs
# carry (cmake/expat.cmake): a text file with Windows' line ends, as the
# page's text control reads it.
file(READ ${CMAKE_SOURCE_DIR}/LICENSE kqget_license)
file(READ ${KQGET_EXPAT_SOURCE}/COPYING kqget_expat_license)
string(APPEND kqget_license "\n\nThe programs include expat ${KQGET_EXPAT_VERSION}, "
       "under this licence:\n\n${kqget_expat_license}")
file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/LICENSE.txt CONTENT "${kqget_license}" @ONLY
     NEWLINE_STYLE CRLF)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/LICENSE)
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_BINARY_DIR}/LICENSE.txt)
# The licence goes with every copy: beside the programs, in the installation
# and in the zip.
install(FILES ${CMAKE_BINARY_DIR}/LICENSE.txt DESTINATION ${KQGET_INSTALL_BINDIR})
set(CPACK_NSIS_PACKAGE_NAME "kqget ${KQGET_DISPLAY_VERSION}")
set(CPACK_NSIS_DISPLAY_NAME "kqget ${KQGET_DISPLAY_VERSION}")
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
set(CPACK_NSIS_EXECUTABLES_DIRECTORY .)
# The Apps entry shows the window's icon.
set(CPACK_NSIS_INSTALLED_ICON_NAME kqget.exe)
set(CPACK_NSIS_MANIFEST_DPI_AWARE ON)
# A 64-bit Unicode installer: NSIS's default stub is 32-bit ANSI, which would
# need 32-bit Wine to test. makensis takes the switch anywhere before the
# first section. An earlier installation is removed by the installer's own
# step, in the install section, once the folder is chosen, instead of CPack's
# question at start.
set(CPACK_NSIS_DEFINES "  Target amd64-unicode
  !include '${CMAKE_CURRENT_LIST_DIR}/installer_steps.nsh'")
set(CPACK_NSIS_EXTRA_PREINSTALL_COMMANDS "!insertmacro KqgetRemoveEarlierInstallation")
# Both Start-menu entries, the window and a command prompt with kqget-cli's
# help, start in the user's Documents folder, where the log can be written.
set(CPACK_NSIS_EXTRA_INSTALL_COMMANDS "!insertmacro KqgetWriteMachineSettings")
set(CPACK_NSIS_CREATE_ICONS_EXTRA "  !insertmacro KqgetCreateShortcuts")
set(CPACK_NSIS_DELETE_ICONS_EXTRA "  !insertmacro KqgetDeleteShortcuts")
include(CPack)
