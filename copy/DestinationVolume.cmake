# Finding the mount and file system of a destination folder, and the devices beneath
# it that may be disks being read. On Linux: mountinfo, libblkid, udev's records and
# sysfs. On Windows: the volume's root and file system name from the system.
if(WIN32)
    add_library(moravel_copy_destination STATIC
        ${CMAKE_CURRENT_LIST_DIR}/DestinationVolumeWin32.cpp
        ${CMAKE_CURRENT_LIST_DIR}/DestinationVolume.h
        ${CMAKE_CURRENT_LIST_DIR}/SourceDevicesWin32.cpp
        ${CMAKE_CURRENT_LIST_DIR}/VolumeRootWin32.h
        ${CMAKE_CURRENT_LIST_DIR}/SourceDevices.h)
    target_include_directories(moravel_copy_destination PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(moravel_copy_destination PUBLIC moravel_options PRIVATE moravel_disk)
else()
    find_package(PkgConfig REQUIRED)
    pkg_check_modules(BLKID REQUIRED IMPORTED_TARGET blkid)

    add_library(moravel_copy_destination STATIC
        ${CMAKE_CURRENT_LIST_DIR}/DestinationVolume.cpp
        ${CMAKE_CURRENT_LIST_DIR}/DestinationVolume.h
        ${CMAKE_CURRENT_LIST_DIR}/SourceDevices.cpp
        ${CMAKE_CURRENT_LIST_DIR}/SourceDevices.h)
    target_include_directories(moravel_copy_destination PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(moravel_copy_destination PUBLIC moravel_options PRIVATE moravel_tree
                                                                         PkgConfig::BLKID)
endif()
add_library(moravel::copy_destination ALIAS moravel_copy_destination)
