# Release packages, made with `cmake --build --preset windows --target package`
# (a zip to unpack anywhere on Windows and an installer,
# Parlex2-<version>-win64-setup.exe) and
# `cmake --build --preset native-release --target package` (a .deb). The
# version is the project's, the same the programs show.
set(quickstart ${CMAKE_BINARY_DIR}/QUICKSTART.txt)
configure_file(${PROJECT_SOURCE_DIR}/cmake/QUICKSTART.txt.in ${quickstart} @ONLY NEWLINE_STYLE CRLF)

if(WIN32)
  # Everything in the zip's one folder: the programs beside their help.
  install(TARGETS Parlex2 parlex2-cli parlex2-sim RUNTIME DESTINATION .)
  # The README with Windows line ends, as Notepad (which its Start-menu
  # shortcut opens) shows them on every Windows version.
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/README.md)
  file(READ ${PROJECT_SOURCE_DIR}/README.md readme)
  string(REPLACE "\n" "\r\n" readme "${readme}")
  file(WRITE ${CMAKE_BINARY_DIR}/crlf/README.md "${readme}")
  install(FILES ${CMAKE_BINARY_DIR}/crlf/README.md ${quickstart} DESTINATION .)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/ DESTINATION examples)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/screenshots DESTINATION docs)
  set(CPACK_GENERATOR ZIP NSIS)
  set(CPACK_SYSTEM_NAME win64)
  # The installer: the same files under Program Files\Parlex2, Start-menu
  # shortcuts, and an entry in Programs and Features whose uninstaller removes
  # what was installed (the settings under %LOCALAPPDATA% stay). A 64-bit
  # installer: makensis makes 32-bit ones unless told, and those fail on a
  # Windows without its 32-bit part.
  set(CPACK_NSIS_DEFINES "Target amd64-unicode")
  set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
  set(CPACK_PACKAGE_INSTALL_DIRECTORY Parlex2)
  set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY Parlex2)
  set(CPACK_NSIS_PACKAGE_NAME Parlex2)
  set(CPACK_NSIS_DISPLAY_NAME "Parlex2 ${PROJECT_VERSION}")
  set(CPACK_NSIS_IGNORE_LICENSE_PAGE ON)
  set(CPACK_NSIS_MUI_ICON ${PROJECT_SOURCE_DIR}/win32/res/parlex2.ico)
  set(CPACK_NSIS_MUI_UNIICON ${PROJECT_SOURCE_DIR}/win32/res/parlex2.ico)
  set(CPACK_NSIS_INSTALLED_ICON_NAME Parlex2.exe)
  set(CPACK_NSIS_MENU_LINKS Parlex2.exe Parlex2 parlex2-sim.exe "Parlex2 Simulator")
  # The README is Markdown, which Windows has no program for: Notepad opens it.
  set(CPACK_NSIS_CREATE_ICONS_EXTRA
      "CreateShortCut '$SMPROGRAMS\\$STARTMENU_FOLDER\\Parlex2 README.lnk' '$WINDIR\\notepad.exe' '$\\\"$INSTDIR\\README.md$\\\"'")
  set(CPACK_NSIS_DELETE_ICONS_EXTRA "Delete '$SMPROGRAMS\\$MUI_TEMP\\Parlex2 README.lnk'")
  # cpack reads this once per generator: it names the installer ...-setup.exe.
  set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/CPackPerGenerator.cmake)
else()
  include(GNUInstallDirs)
  install(TARGETS parlex2-cli parlex2-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  set(doc ${CMAKE_INSTALL_DATAROOTDIR}/doc/parlex2)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md ${quickstart} DESTINATION ${doc})
  # The README's pictures, where its links look for them.
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/screenshots DESTINATION ${doc}/docs)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/ DESTINATION ${doc}/examples
          PATTERN "*.sh" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
                                     GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_PACKAGE_NAME parlex2)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Veltmark Parlex2 team <parlex2@veltmark.invalid>")
endif()

set(CPACK_PACKAGE_NAME Parlex2)
set(CPACK_PACKAGE_VENDOR Veltmark)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Communications utility for Veltmark measuring instruments, with an instrument simulator")
set(CPACK_PACKAGE_DESCRIPTION
    "parlex2 connects one instrument over a serial port or TCP, identifies it, sends commands, \
runs test scripts and sets its clock; parlex2-sim stands in for an instrument to try it without \
hardware. Examples under /usr/share/doc/parlex2/examples.")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
include(CPack)
