# The packages scripts/package makes with CPack from the install() rules of
# every folder: the Debian package varnelo_<version>_amd64.deb (system-wide,
# under /usr) and the per-user self-extracting installer
# Varnelo-x86-<version>-Setup.run (CPack's STGZ generator with our own
# installer script, cmake/Installer.sh.in, in front of the archive).

# `cpack` installs what is built; scripts/package builds the deliverables
# first, so installing never waits for the test programs.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
set(varnelo_deliverables)
foreach(target varnelo varnelo-app varnelohost varnelocmd varneloShellExt varneloShellProc)
  if(TARGET ${target})
    list(APPEND varnelo_deliverables ${target})
  endif()
endforeach()
add_custom_target(varnelo_deliverables DEPENDS ${varnelo_deliverables})

set(CPACK_PACKAGE_NAME varnelo)
set(CPACK_PACKAGE_VENDOR "Varnelo")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Varnelo maintainers <maintainers@varnelo.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Keeps a local folder in two-way sync with online storage")
set(CPACK_PACKAGE_DESCRIPTION
    "Varnelo uploads local edits, downloads remote ones and keeps both\n\
versions when a file changed on both sides. It runs as a tray\n\
application (varnelo), a headless client (varnelocmd) and a\n\
file-manager extension that shows each file's state.")
set(CPACK_GENERATOR "DEB;STGZ")
set(CPACK_STRIP_FILES ON)
# Per generator settings (prefix and file name) are made at packaging time.
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/PackagingGenerators.cmake)

# Debian: dependencies from the programs' libraries (dpkg-shlibdeps), plus
# what they start at run time.
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR})
set(CPACK_DEBIAN_PACKAGE_DEPENDS "xdg-utils")
# A tray host: stock GNOME has none (the application then shows a status
# window instead). The other desktops' panels host the icon themselves and,
# being alternatives, keep apt from pulling GNOME Shell onto them.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "pkexec, nautilus, gnome-shell-extension-appindicator | plasma-workspace | xfce4-panel | mate-panel | lxqt-panel")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://varnelo.example")

# Debian's changelog and copyright files (in the installer too: harmless).
configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/changelog.in ${CMAKE_BINARY_DIR}/debian/changelog
               @ONLY)
execute_process(COMMAND gzip -9nf ${CMAKE_BINARY_DIR}/debian/changelog)
install(FILES ${CMAKE_BINARY_DIR}/debian/changelog.gz ${CMAKE_CURRENT_LIST_DIR}/debian/copyright
        DESTINATION share/doc/varnelo)

# The installer script in front of the STGZ archive.
set(CPACK_STGZ_HEADER_FILE ${CMAKE_CURRENT_LIST_DIR}/Installer.sh.in)

include(CPack)
