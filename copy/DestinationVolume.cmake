# Finding the mount and file system of a destination folder (mountinfo, libblkid, udev's
# records), and the block devices beneath it (sysfs) that may be disks being read.
find_package(PkgConfig REQUIRED)
pkg_check_modules(BLKID REQUIRED IMPORTED_TARGET blkid)

add_library(moravel_copy_destination STATIC
    ${CMAKE_CURRENT_LIST_DIR}/DestinationVolume.cpp
    ${CMAKE_CURRENT_LIST_DIR}/DestinationVolume.h
    ${CMAKE_CURRENT_LIST_DIR}/SourceDevices.cpp
    ${CMAKE_CURRENT_LIST_DIR}/SourceDevices.h)
add_library(moravel::copy_destination ALIAS moravel_copy_destination)
target_include_directories(moravel_copy_destination PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(moravel_copy_destination PUBLIC moravel_options PRIVATE PkgConfig::BLKID)
