# `make package`: build/lumarex_<version>_<arch>.deb through CPack, its library dependencies computed by
# dpkg-shlibdeps, and, when the KWin effect was built, build/lumarex-kwin-effect_<version>_<arch>.deb beside
# it. Included from the top-level CMakeLists.txt, so CPackConfig.cmake lands in the build folder.
set(CPACK_GENERATOR DEB)
# CPack installs what is built and builds nothing itself (make package builds first), so packaging from a
# test does not start a build in the folder the tests run from.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
set(CPACK_PACKAGE_NAME lumarex)
set(CPACK_PACKAGE_VENDOR ${LUMAREX_MAKER})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# Each package's description starts with its own synopsis; an empty summary keeps CPack from putting the
# application's before both.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "")
# Lines of at most 80 characters: Debian's package tools show them as they are.
set(CPACK_DEBIAN_APP_DESCRIPTION "${PROJECT_DESCRIPTION}
Lumarex makes the mouse pointer easy to follow in presentations, screen
recordings and screen sharing: a click-through overlay follows the pointer and
draws a translucent circle around it, and a second circle shows each
left-button press. A recorded key combination, a tray icon and command-line
options switch it on and off. For X11 desktops, and for GNOME on Wayland
through its GNOME Shell extension; for KDE Plasma on Wayland its KWin effect
is in the package ${LUMAREX_KWIN_EFFECT_PACKAGE}.")
set(CPACK_PACKAGE_CONTACT ${LUMAREX_CONTACT})
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Only what the application installs; the build's test and benchmark libraries have no install rules.
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SOURCE lumarex)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${PROJECT_HOMEPAGE_URL})
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt's X11 platform plugin, loaded at run time, is in libqt6gui6 on Debian 12, which the linked libraries
# bring, as they bring fontconfig and a font. Its Wayland one is in qt6-wayland: without it, Lumarex's own
# windows on GNOME on Wayland go through XWayland (the highlight does not: the Shell draws it).
set(CPACK_DEBIAN_APP_PACKAGE_RECOMMENDS qt6-wayland)

# One package per group: the application's (what installs without a component, and the GNOME Shell
# extension), and the KWin effect's. The effect links KWin's and Qt 5's libraries, which dpkg-shlibdeps
# would otherwise make every install of the application depend on.
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL Unspecified gnome-shell-extension)
set(CPACK_COMPONENT_UNSPECIFIED_GROUP app)
set(CPACK_COMPONENT_GNOME-SHELL-EXTENSION_GROUP app)
set(CPACK_DEBIAN_APP_PACKAGE_NAME lumarex)
if(TARGET lumarex_kwin_effect)
  list(APPEND CPACK_COMPONENTS_ALL kwin-effect)
  set(CPACK_DEBIAN_KWIN-EFFECT_PACKAGE_NAME ${LUMAREX_KWIN_EFFECT_PACKAGE})
  # Suggested, not recommended: apt installs recommendations, and on GNOME or X11 this one would bring
  # KWin and KDE's Qt 5 libraries for nothing. On Plasma the application names the package when the
  # effect is missing.
  set(CPACK_DEBIAN_APP_PACKAGE_SUGGESTS ${LUMAREX_KWIN_EFFECT_PACKAGE})
  # KWin loads effects built against its own release series only: the package asks for that series of
  # KWin's common part (its effect loader), in Debian's numbering, from the KWin built against.
  set(kwin_series_depends "")
  set(kwin_series "KWin 5")
  execute_process(COMMAND dpkg-query --show --showformat=\${Version} kwin-common
    OUTPUT_VARIABLE kwin_version ERROR_QUIET)
  if(kwin_version MATCHES "^(([0-9]+:)?([0-9]+)\\.([0-9]+)\\.[0-9.]+)")
    math(EXPR next_minor "${CMAKE_MATCH_4} + 1")
    set(kwin_series_depends
      ", kwin-common (>= ${CMAKE_MATCH_1}), kwin-common (<< ${CMAKE_MATCH_2}${CMAKE_MATCH_3}.${next_minor}~)")
    set(kwin_series "KWin ${CMAKE_MATCH_3}.${CMAKE_MATCH_4}")
  else()
    message(STATUS "kwin-common's version not found: the KWin effect's package names no KWin series")
  endif()
  set(CPACK_DEBIAN_KWIN-EFFECT_PACKAGE_DEPENDS "lumarex (= ${PROJECT_VERSION})${kwin_series_depends}")
  set(CPACK_DEBIAN_KWIN-EFFECT_PACKAGE_SECTION kde)
  set(CPACK_DEBIAN_KWIN-EFFECT_DESCRIPTION "Lumarex pointer highlight drawn by KWin on Plasma Wayland
Lumarex highlights the mouse pointer for presentations and screen recordings.
On KDE Plasma's Wayland sessions KWin draws the highlight: this package holds
the KWin effect Lumarex Highlight, which the Lumarex application turns on and
drives. For ${kwin_series}; X11 and GNOME desktops do not need it.")
endif()
include(CPack)
