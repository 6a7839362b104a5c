# Where the extension module and its implementation library go, shared by
# desktop/shellext and desktop/shellproc. The implementation sits in the
# folder "varnelo" beside the module: the file manager tries every .so file
# directly in its extension folder as an extension of its own.
#   VARNELO_NAUTILUS_BUILD_DIR      the module's folder in the build tree
#   VARNELO_NAUTILUS_EXTENSION_DIR  the file manager's extension folder
#     relative to the install prefix (from pkg-config, relative to its own
#     prefix, so that CMAKE_INSTALL_PREFIX and packaging apply)
#   VARNELO_SHELLPROC_SUBDIR        the implementation's folder below both
pkg_check_modules(NAUTILUS_EXTENSION REQUIRED IMPORTED_TARGET GLOBAL libnautilus-extension-4)
pkg_get_variable(NAUTILUS_EXTENSION_DIR libnautilus-extension-4 extensiondir)
pkg_get_variable(NAUTILUS_EXTENSION_PREFIX libnautilus-extension-4 prefix)
file(RELATIVE_PATH VARNELO_NAUTILUS_EXTENSION_DIR "${NAUTILUS_EXTENSION_PREFIX}"
     "${NAUTILUS_EXTENSION_DIR}")
set(VARNELO_NAUTILUS_BUILD_DIR ${CMAKE_BINARY_DIR}/desktop/nautilus)
set(VARNELO_SHELLPROC_SUBDIR varnelo)
