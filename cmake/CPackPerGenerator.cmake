# Read by cpack for each package generator in turn. The zip keeps the plain
# name; the installer beside it is Parlex2-<version>-win64-setup.exe.
if(CPACK_GENERATOR STREQUAL "NSIS")
  set(CPACK_PACKAGE_FILE_NAME "${CPACK_PACKAGE_FILE_NAME}-setup")
endif()
