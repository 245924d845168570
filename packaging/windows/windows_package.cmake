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
set(CPACK_NSIS_PACKAGE_NAME "kqget ${KQGET_DISPLAY_VERSION}")
set(CPACK_NSIS_DISPLAY_NAME "kqget ${KQGET_DISPLAY_VERSION}")
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
set(CPACK_NSIS_EXECUTABLES_DIRECTORY .)
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
set(CPACK_NSIS_MANIFEST_DPI_AWARE ON)
# A 64-bit Unicode installer: NSIS's default stub is 32-bit ANSI, which would
# need 32-bit Wine to test. makensis takes the switch anywhere before the
# first section.
set(CPACK_NSIS_DEFINES "  Target amd64-unicode")
# The window, once there is one for Windows, gets a Start-menu entry of its own.
if(TARGET kqget)
    set(CPACK_PACKAGE_EXECUTABLES kqget "kqget")
endif()
# kqget-cli is a console program: its Start-menu entry opens a command prompt
# in the installation folder with the command's help on screen.
set(CPACK_NSIS_CREATE_ICONS_EXTRA
    "SetOutPath '$INSTDIR'
  CreateShortCut '$SMPROGRAMS\\\\$STARTMENU_FOLDER\\\\kqget command prompt.lnk' '$SYSDIR\\\\cmd.exe' '/k kqget-cli.exe --help'")
set(CPACK_NSIS_DELETE_ICONS_EXTRA
    "Delete '$SMPROGRAMS\\\\$MUI_TEMP\\\\kqget command prompt.lnk'")
include(CPack)
