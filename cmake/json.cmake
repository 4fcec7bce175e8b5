# kit_json: nlohmann-json (Debian's header-only package) for the boards and
# tools. The cross builds cannot search /usr/include as a whole (its C library
# headers are the host's), so they see only the json headers, through a link.
if(TARGET kit_json)
    return()
endif()
add_library(kit_json INTERFACE)
if(CMAKE_CROSSCOMPILING)
    find_file(KIT_JSON_HEADER nlohmann/json.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH REQUIRED)
    get_filename_component(kit_json_dir "${KIT_JSON_HEADER}" DIRECTORY)
    set(kit_json_root "${CMAKE_BINARY_DIR}/json-include")
    file(MAKE_DIRECTORY "${kit_json_root}")
    file(CREATE_LINK "${kit_json_dir}" "${kit_json_root}/nlohmann" SYMBOLIC)
    target_include_directories(kit_json SYSTEM INTERFACE "${kit_json_root}")
else()
    find_package(nlohmann_json 3 REQUIRED)
    target_link_libraries(kit_json INTERFACE nlohmann_json::nlohmann_json)
endif()
