# What the Windows build takes from the build machine's Debian packages: the
# header-only CLI11 and nlohmann-json (their folders alone, not all of
# /usr/include, which holds the Linux C library's headers) and GoogleTest built
# from its sources in /usr/src/googletest.
set(MORAVEL_HOST_HEADERS ${CMAKE_BINARY_DIR}/host-headers)
file(MAKE_DIRECTORY ${MORAVEL_HOST_HEADERS})
foreach(folder CLI nlohmann)
    if(NOT EXISTS /usr/include/${folder})
        message(FATAL_ERROR "/usr/include/${folder} is missing (scripts/install-windows-deps.sh)")
    endif()
    file(CREATE_LINK /usr/include/${folder} ${MORAVEL_HOST_HEADERS}/${folder} SYMBOLIC)
endforeach()

# find_package(CLI11) and find_package(nlohmann_json 3) find these.
set(MORAVEL_HEADER_PACKAGES ${CMAKE_BINARY_DIR}/header-packages)
file(WRITE ${MORAVEL_HEADER_PACKAGES}/CLI11Config.cmake
     "if(NOT TARGET CLI11::CLI11)\n"
     "  add_library(CLI11::CLI11 INTERFACE IMPORTED)\n"
     "  set_target_properties(CLI11::CLI11 PROPERTIES INTERFACE_INCLUDE_DIRECTORIES "
     "${MORAVEL_HOST_HEADERS})\n"
     "endif()\n")
file(WRITE ${MORAVEL_HEADER_PACKAGES}/nlohmann_jsonConfig.cmake
     "if(NOT TARGET nlohmann_json::nlohmann_json)\n"
     "  add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)\n"
     "  set_target_properties(nlohmann_json::nlohmann_json PROPERTIES "
     "INTERFACE_INCLUDE_DIRECTORIES ${MORAVEL_HOST_HEADERS})\n"
     "endif()\n")
# The version of the headers that /usr/include holds.
file(STRINGS /usr/include/nlohmann/detail/abi_macros.hpp json_major REGEX "#define NLOHMANN_JSON_VERSION_MAJOR ")
string(REGEX MATCH "[0-9]+" json_major "${json_major}")
file(WRITE ${MORAVEL_HEADER_PACKAGES}/nlohmann_jsonConfigVersion.cmake
     "set(PACKAGE_VERSION ${json_major})\n"
     "if(PACKAGE_FIND_VERSION_MAJOR STREQUAL \"${json_major}\")\n"
     "  set(PACKAGE_VERSION_COMPATIBLE TRUE)\n"
     "endif()\n")
set(CLI11_DIR ${MORAVEL_HEADER_PACKAGES} CACHE PATH "" FORCE)
set(nlohmann_json_DIR ${MORAVEL_HEADER_PACKAGES} CACHE PATH "" FORCE)

if(MORAVEL_TESTS)
    if(NOT EXISTS /usr/src/googletest/CMakeLists.txt)
        message(FATAL_ERROR "/usr/src/googletest is missing (scripts/install-windows-deps.sh)")
    endif()
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
    foreach(library gtest gtest_main gmock gmock_main)
        if(NOT TARGET GTest::${library})
            add_library(GTest::${library} ALIAS ${library})
        endif()
    endforeach()
endif()
