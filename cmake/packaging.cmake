# Installing the game and packaging it for Debian, included at the end of the
# top-level CMakeLists.txt.
#
# `cmake --install build` (with CMAKE_INSTALL_PREFIX and DESTDIR honoured)
# puts the game where desktops look for it: the executable, the menu entry,
# the software-centre description, the icons, the manual page and the udev
# rule for the Pro Controller. The `package` target turns the same files into
# a .deb with CPack; `make package` configures a build folder of its own for
# that, the way Debian lays out a game: prefix /usr, the executable in
# /usr/games (CMAKE_INSTALL_BINDIR=games) and Debian's hardening flags.
#
# The names below are the game's public identity; a fork or a new home
# changes them here and nowhere else.
include(GNUInstallDirs)

set(ZOBRA_APP_ID "org.zobragame.Zobra" CACHE STRING
  "Reverse-DNS id of the desktop entry, the metainfo file and the icons")
set(ZOBRA_HOMEPAGE "https://zobragame.org" CACHE STRING "The game's web page")
set(ZOBRA_SCREENSHOT_URL "${ZOBRA_HOMEPAGE}/screenshots" CACHE STRING
  "Where the pictures of docs/screenshots/ are published, for software centres")
set(ZOBRA_MAINTAINER "The Zobra developers <developers@zobragame.org>" CACHE STRING
  "Maintainer of the Debian package")
set(ZOBRA_UDEV_RULES_DIR "lib/udev/rules.d" CACHE STRING
  "Folder of the udev rule, relative to the installation prefix")
set(ZOBRA_SYSTEMD_UNIT_DIR "lib/systemd/system" CACHE STRING
  "Folder of the relay's systemd unit, relative to the prefix or absolute (Debian 12: /lib/systemd/system)")

# The release the metainfo file and the package's changelog name.
set(ZOBRA_RELEASE_DATE "2026-12-09")
set(ZOBRA_RELEASE_DATE_RFC2822 "Wed, 09 Dec 2026 12:00:00 +0000")

set(ZOBRA_ICON_SIZES 16 32 48 64 128 256)

# The icons are drawn at build time by the game's own sprite code, so they
# always show the digger as the game draws it.
add_executable(zobra_make_icons tools/make_icons.cpp)
target_link_libraries(zobra_make_icons PRIVATE zobra_art zobra_files)
set(zobra_icon_dir ${CMAKE_BINARY_DIR}/icons)
set(zobra_icon_files "")
foreach(size ${ZOBRA_ICON_SIZES})
  list(APPEND zobra_icon_files ${zobra_icon_dir}/hicolor/${size}x${size}/apps/${ZOBRA_APP_ID}.png)
endforeach()
add_custom_command(OUTPUT ${zobra_icon_files}
  COMMAND zobra_make_icons ${zobra_icon_dir} ${ZOBRA_APP_ID} ${ZOBRA_ICON_SIZES}
  DEPENDS zobra_make_icons
  COMMENT "Drawing the icons"
  VERBATIM)

set(zobra_data_dir ${CMAKE_BINARY_DIR}/data)
configure_file(data/zobra.desktop.in ${zobra_data_dir}/${ZOBRA_APP_ID}.desktop @ONLY)
configure_file(data/zobra.metainfo.xml.in ${zobra_data_dir}/${ZOBRA_APP_ID}.metainfo.xml @ONLY)
configure_file(data/zobra.6.in ${zobra_data_dir}/zobra.6 @ONLY)
configure_file(data/zobra-relay.6.in ${zobra_data_dir}/zobra-relay.6 @ONLY)
configure_file(data/zobra-relay.service.in ${zobra_data_dir}/zobra-relay.service @ONLY)
configure_file(data/deb/changelog.in ${zobra_data_dir}/changelog @ONLY)

# Debian wants the changelog compressed, without a time stamp inside.
add_custom_command(OUTPUT ${zobra_data_dir}/changelog.gz
  COMMAND gzip -9nkf ${zobra_data_dir}/changelog
  DEPENDS ${zobra_data_dir}/changelog
  VERBATIM)
add_custom_target(zobra_install_data ALL DEPENDS ${zobra_icon_files} ${zobra_data_dir}/changelog.gz)

install(TARGETS zobra zobra-relay RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${zobra_data_dir}/${ZOBRA_APP_ID}.desktop
  DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${zobra_data_dir}/${ZOBRA_APP_ID}.metainfo.xml
  DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(DIRECTORY ${zobra_icon_dir}/hicolor DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)
install(FILES ${zobra_data_dir}/zobra.6 ${zobra_data_dir}/zobra-relay.6
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man6)
install(FILES ${zobra_data_dir}/zobra-relay.service DESTINATION ${ZOBRA_SYSTEMD_UNIT_DIR})
install(FILES data/70-zobra-procon.rules DESTINATION ${ZOBRA_UDEV_RULES_DIR})
install(FILES data/deb/copyright ${zobra_data_dir}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The installation test runs the real install into a temporary folder.
if(TARGET e2e_tests)
  string(JOIN "," zobra_icon_size_list ${ZOBRA_ICON_SIZES})
  target_compile_definitions(e2e_tests PRIVATE
    ZOBRA_APP_ID="${ZOBRA_APP_ID}"
    ZOBRA_CMAKE="${CMAKE_COMMAND}"
    ZOBRA_INSTALL_BINDIR="${CMAKE_INSTALL_BINDIR}"
    ZOBRA_ICON_SIZES="${zobra_icon_size_list}")
  add_dependencies(e2e_tests zobra_install_data)
endif()

# The Debian package.
if(NOT CMAKE_INSTALL_BINDIR STREQUAL "games")
  message(STATUS "A Debian package puts games into /usr/games: configure with "
    "-DCMAKE_INSTALL_BINDIR=games before making one (make package does)")
endif()
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zobra)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Zobra developers")
set(CPACK_PACKAGE_CONTACT "${ZOBRA_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "arcade game of tunnels, charges and blasts")
set(CPACK_PACKAGE_DESCRIPTION
  "Zobra is a small arcade game for one or two people, seen from above on a
grid of tiles. You steer a digger through tunnels, dig through dirt, light
charges that go off after two and a half seconds, and get out of the way:
blasts break bricks, burn the creatures that roam the tunnels, and catch any
digger standing in the fire.
.
There are forty levels that open one after the other, a mode for two
players on one level, and duels on five small arenas where four diggers
fight from the corners, steered by people and the computer. The game is
played with the keyboard, gamepads, Nintendo Switch Pro Controllers over
USB, touch screens or the mouse, and speaks German on screen.
.
Players on different machines meet in duels through a relay: the game runs
one itself for players on the same network, and zobra-relay, with its
systemd unit (not enabled), serves players over the internet.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION games)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${ZOBRA_HOMEPAGE}")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
# The manual page is compressed in the package only, as Debian wants it;
# `cmake --install` leaves it plain for other systems.
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/compress-manual.cmake)
include(CPack)
