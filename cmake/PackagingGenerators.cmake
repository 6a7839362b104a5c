# Read by cpack once per generator (CPACK_PROJECT_CONFIG_FILE).
if(CPACK_GENERATOR STREQUAL "STGZ")
  # The installer unpacks bin/, lib/ and share/ below the folder it is given.
  set(CPACK_PACKAGING_INSTALL_PREFIX "")
  set(CPACK_SET_DESTDIR OFF)
  # CPack names it .sh; scripts/package renames it to .run.
  set(CPACK_PACKAGE_FILE_NAME "Varnelo-x86-${CPACK_PACKAGE_VERSION}-Setup")
elseif(CPACK_GENERATOR STREQUAL "DEB")
  set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
endif()
