# The Windows build's own parts, included at the end of the top-level
# CMakeLists.txt when cross-building with cmake/windows-toolchain.cmake:
#
# - the icon, drawn by the game's own sprite code (tools/make_icons, run
#   under Wine) into zobra.ico, and the executable's icon and version
#   resource;
# - SDL2.dll copied beside zobra.exe, so that the build folder runs as it is;
# - the target `windows_package`: zobra-VERSION-windows-x64.zip (zobra.exe,
#   zobra-relay.exe, SDL2.dll, README.txt with the licences, the runtime's
#   licence texts) and
#   the installer zobra-VERSION-windows-x64-setup.exe, made by NSIS.

set_target_properties(zobra PROPERTIES WIN32_EXECUTABLE TRUE)

add_executable(zobra_make_icons tools/make_icons.cpp)
target_link_libraries(zobra_make_icons PRIVATE zobra_art zobra_files)
set(ZOBRA_ICO ${CMAKE_BINARY_DIR}/zobra.ico)
add_custom_command(OUTPUT ${ZOBRA_ICO}
  COMMAND zobra_make_icons --ico ${ZOBRA_ICO} 16 24 32 48 64 128 256
  DEPENDS zobra_make_icons
  COMMENT "Drawing the icon"
  VERBATIM)
configure_file(data/windows/zobra.rc.in ${CMAKE_BINARY_DIR}/zobra.rc @ONLY)
target_sources(zobra PRIVATE ${CMAKE_BINARY_DIR}/zobra.rc)
set_source_files_properties(${CMAKE_BINARY_DIR}/zobra.rc PROPERTIES OBJECT_DEPENDS ${ZOBRA_ICO})

get_target_property(zobra_sdl_dll SDL2::SDL2 IMPORTED_LOCATION_RELEASE)
if(NOT zobra_sdl_dll)
  get_target_property(zobra_sdl_dll SDL2::SDL2 IMPORTED_LOCATION)
endif()
add_custom_command(TARGET zobra POST_BUILD
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${zobra_sdl_dll} ${CMAKE_BINARY_DIR}/SDL2.dll
  VERBATIM)

# The download.
set(zobra_package_name zobra-${PROJECT_VERSION}-windows-x64)
set(ZOBRA_STAGE ${CMAKE_BINARY_DIR}/package/${zobra_package_name})
set(ZOBRA_ZIP ${CMAKE_BINARY_DIR}/${zobra_package_name}.zip)
set(ZOBRA_SETUP ${CMAKE_BINARY_DIR}/${zobra_package_name}-setup.exe)
get_filename_component(zobra_sdl_prefix ${zobra_sdl_dll} DIRECTORY)
get_filename_component(zobra_sdl_prefix ${zobra_sdl_prefix} DIRECTORY)
file(READ ${zobra_sdl_prefix}/SDL2-LICENSE.txt ZOBRA_SDL_LICENSE)
set(ZOBRA_SDL_VERSION ${SDL2_VERSION})
file(READ data/deb/copyright ZOBRA_NOTICE)
file(READ ${ZOBRA_ENET_DIR}/ENet-LICENSE.txt ZOBRA_ENET_LICENSE)
file(STRINGS ${ZOBRA_ENET_DIR}/include/enet/enet.h zobra_enet_version
  REGEX "#define ENET_VERSION_(MAJOR|MINOR|PATCH) ")
string(REGEX REPLACE "[^;]* ([0-9]+);[^;]* ([0-9]+);[^;]* ([0-9]+)" "\\1.\\2.\\3"
  ZOBRA_ENET_VERSION "${zobra_enet_version}")
configure_file(data/windows/README.txt.in ${CMAKE_BINARY_DIR}/README.txt @ONLY)
configure_file(data/windows/zobra.nsi.in ${CMAKE_BINARY_DIR}/zobra.nsi @ONLY)

# The download's executables without their debugging information. Text files
# in the download end their lines the Windows way.
find_program(ZOBRA_STRIP x86_64-w64-mingw32-strip REQUIRED)
add_custom_target(windows_package
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${CMAKE_BINARY_DIR}/package ${ZOBRA_ZIP} ${ZOBRA_SETUP}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${ZOBRA_STAGE}/licences
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:zobra> $<TARGET_FILE:zobra-relay>
    ${CMAKE_BINARY_DIR}/SDL2.dll ${ZOBRA_STAGE}
  COMMAND ${ZOBRA_STRIP} ${ZOBRA_STAGE}/zobra.exe ${ZOBRA_STAGE}/zobra-relay.exe
  COMMAND ${CMAKE_COMMAND} -DIN=${CMAKE_BINARY_DIR}/README.txt -DOUT=${ZOBRA_STAGE}/README.txt
    -P ${CMAKE_SOURCE_DIR}/cmake/crlf.cmake
  COMMAND ${CMAKE_COMMAND} -DIN=/usr/share/doc/mingw-w64-common/copyright
    -DOUT=${ZOBRA_STAGE}/licences/mingw-w64.txt -P ${CMAKE_SOURCE_DIR}/cmake/crlf.cmake
  COMMAND ${CMAKE_COMMAND} -DIN=/usr/share/doc/gcc-mingw-w64-base/copyright
    -DOUT=${ZOBRA_STAGE}/licences/gcc.txt -P ${CMAKE_SOURCE_DIR}/cmake/crlf.cmake
  COMMAND ${CMAKE_COMMAND} -E chdir ${CMAKE_BINARY_DIR}/package
    ${CMAKE_COMMAND} -E tar cf ${ZOBRA_ZIP} --format=zip --mtime=2026-12-09 ${zobra_package_name}
  COMMAND makensis -V2 ${CMAKE_BINARY_DIR}/zobra.nsi
  DEPENDS zobra zobra-relay
  COMMENT "Packing ${zobra_package_name}.zip and the installer"
  VERBATIM)
