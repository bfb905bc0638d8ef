# The JSON library for the web and the Windows builds. It is header-only, but
# Debian installs it straight into /usr/include, and that folder must not be
# searched when compiling for the browser or for Windows: its C library
# headers would stand in for Emscripten's or mingw-w64's. So the build gets a
# folder of its own holding only a link to the library's headers.
find_path(ZOBRA_JSON_INCLUDE nlohmann/json.hpp PATHS /usr/include NO_DEFAULT_PATH
          NO_CMAKE_FIND_ROOT_PATH)
if(NOT ZOBRA_JSON_INCLUDE)
  message(FATAL_ERROR "nlohmann/json.hpp not found (run scripts/install-deps.sh web)")
endif()
set(json_folder ${CMAKE_BINARY_DIR}/json-include)
file(MAKE_DIRECTORY ${json_folder})
file(CREATE_LINK ${ZOBRA_JSON_INCLUDE}/nlohmann ${json_folder}/nlohmann SYMBOLIC)
add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
target_include_directories(nlohmann_json::nlohmann_json SYSTEM INTERFACE ${json_folder})
