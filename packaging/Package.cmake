# `make package`: build/lumarex_<version>_<arch>.deb through CPack, its library dependencies computed by
# dpkg-shlibdeps. Included from the top-level CMakeLists.txt, so CPackConfig.cmake lands in the build
# folder.
set(CPACK_GENERATOR DEB)
# CPack installs what is built and builds nothing itself (make package builds first), so packaging from a
# test does not start a build in the folder the tests run from.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
set(CPACK_PACKAGE_NAME lumarex)
set(CPACK_PACKAGE_VENDOR ${LUMAREX_MAKER})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY ${PROJECT_DESCRIPTION})
# Lines of at most 80 characters: Debian's package tools show them as they are.
set(CPACK_PACKAGE_DESCRIPTION "Lumarex makes the mouse pointer easy to follow in presentations, screen
recordings and screen sharing: a click-through overlay follows the pointer and
draws a translucent circle around it, and a second circle shows each
left-button press. A recorded key combination, a tray icon and command-line
options switch it on and off. For X11 desktops, and for GNOME on Wayland
through its GNOME Shell extension.")
set(CPACK_PACKAGE_CONTACT ${LUMAREX_CONTACT})
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Only what the application installs; the build's test and benchmark libraries have no install rules.
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${PROJECT_HOMEPAGE_URL})
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt's X11 platform plugin, loaded at run time, is in libqt6gui6 on Debian 12, which the linked libraries
# bring, as they bring fontconfig and a font. Its Wayland one is in qt6-wayland: without it, Lumarex's own
# windows on GNOME on Wayland go through XWayland (the highlight does not: the Shell draws it).
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS qt6-wayland)
include(CPack)
