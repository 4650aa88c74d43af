# nlohmann/json and CLI11 for the tools (the library itself
# depends on nothing beyond the C++ standard library). Both are header-only;
# their folders are linked into one private include directory, so that a
# cross build sees them without the rest of the host's /usr/include.
find_path(PTSA_JSON_DIR nlohmann/json.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH REQUIRED)
find_path(PTSA_CLI11_DIR CLI/CLI.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH REQUIRED)
set(ptsa_third_party_include ${PROJECT_BINARY_DIR}/third-party)
file(MAKE_DIRECTORY ${ptsa_third_party_include})
file(CREATE_LINK ${PTSA_JSON_DIR}/nlohmann ${ptsa_third_party_include}/nlohmann SYMBOLIC)
file(CREATE_LINK ${PTSA_CLI11_DIR}/CLI ${ptsa_third_party_include}/CLI SYMBOLIC)

add_library(ptsa_third_party INTERFACE)
target_include_directories(ptsa_third_party SYSTEM INTERFACE ${ptsa_third_party_include})
