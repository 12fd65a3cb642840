# The Lumarex KWin effect that draws the highlight on Plasma's Wayland sessions. It is built against the
# installed KWin, with that KWin's Qt (Qt 5 for KWin 5.27), so it is a CMake project of its own, run as an
# external project; without KWin's development files (kwin-dev) it is left out.
find_path(LUMAREX_KWINEFFECTS_HEADER kwineffects.h)
find_package(ECM QUIET NO_MODULE)
if(NOT LUMAREX_KWINEFFECTS_HEADER OR NOT ECM_FOUND)
  message(STATUS "KWin's development files not found: the KWin effect is not built")
  return()
endif()

include(ExternalProject)
set(LUMAREX_KWIN_EFFECT_ID lumarex_highlight CACHE INTERNAL "")
set(LUMAREX_KWIN_EFFECT_BINARY_DIR ${CMAKE_BINARY_DIR}/compositor/kwin CACHE INTERNAL "")
# Where KWin 5 looks for effect plugins: under Qt 5's plugin folder, which for a /usr prefix is the
# system's own.
set(LUMAREX_QT5_PLUGIN_DIR lib/${CMAKE_LIBRARY_ARCHITECTURE}/qt5/plugins
  CACHE STRING "Qt 5's plugin folder, relative to the prefix, where KWin 5 finds the effect")
set(LUMAREX_KWIN_PLUGIN_DIR ${LUMAREX_QT5_PLUGIN_DIR}/kwin/effects/plugins)
ExternalProject_Add(lumarex_kwin_effect
  SOURCE_DIR ${CMAKE_SOURCE_DIR}/compositor/kwin
  BINARY_DIR ${LUMAREX_KWIN_EFFECT_BINARY_DIR}
  CMAKE_ARGS
    -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE}
    -DCMAKE_CXX_COMPILER=${CMAKE_CXX_COMPILER}
    -DCMAKE_CXX_COMPILER_LAUNCHER=${CMAKE_CXX_COMPILER_LAUNCHER}
    -DLUMAREX_SOURCE_DIR=${CMAKE_SOURCE_DIR}
    -DLUMAREX_VERSION=${PROJECT_VERSION}
    -DLUMAREX_KWIN_EFFECT_ID=${LUMAREX_KWIN_EFFECT_ID}
  INSTALL_COMMAND ""
  BUILD_ALWAYS ON)
install(FILES ${LUMAREX_KWIN_EFFECT_BINARY_DIR}/${LUMAREX_KWIN_EFFECT_ID}.so
  DESTINATION ${LUMAREX_KWIN_PLUGIN_DIR} COMPONENT kwin-effect EXCLUDE_FROM_ALL)
# Stripped when the install strips (the package, install/strip), as install(TARGETS) would strip it.
install(CODE "if(CMAKE_INSTALL_DO_STRIP)
  execute_process(COMMAND \"${CMAKE_STRIP}\"
    \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${LUMAREX_KWIN_PLUGIN_DIR}/${LUMAREX_KWIN_EFFECT_ID}.so\"
    COMMAND_ERROR_IS_FATAL ANY)
endif()" COMPONENT kwin-effect EXCLUDE_FROM_ALL)
# Debian asks for a copyright file and a changelog in every package's doc folder: the effect's package
# points its folder at the application's, which it depends on at the same version.
set(doc_link ${CMAKE_BINARY_DIR}/compositor/kwin-doc/${LUMAREX_KWIN_EFFECT_PACKAGE})
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/compositor/kwin-doc)
file(CREATE_LINK lumarex ${doc_link} SYMBOLIC)
install(FILES ${doc_link} DESTINATION ${CMAKE_INSTALL_DATADIR}/doc COMPONENT kwin-effect EXCLUDE_FROM_ALL)
