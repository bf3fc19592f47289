# Finding the mount and file system of a destination folder (mountinfo and libblkid).
find_package(PkgConfig REQUIRED)
pkg_check_modules(BLKID REQUIRED IMPORTED_TARGET blkid)

add_library(moravel_copy_destination STATIC
    ${CMAKE_CURRENT_LIST_DIR}/DestinationVolume.cpp
    ${CMAKE_CURRENT_LIST_DIR}/DestinationVolume.h)
add_library(moravel::copy_destination ALIAS moravel_copy_destination)
target_include_directories(moravel_copy_destination PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(moravel_copy_destination PUBLIC moravel_options PRIVATE PkgConfig::BLKID)
