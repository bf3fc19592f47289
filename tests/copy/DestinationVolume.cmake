# The destination volume look-up: mount table, mount choice, file system names, libblkid on
# images from mkfs.fat, mkfs.ntfs and mkfs.exfat (and as the oracle of the boot-sector
# decoder), udev records, and findmnt as the oracle on this machine.
moravel_test(destination_tests ${CMAKE_CURRENT_LIST_DIR}/DestinationVolumeTest.cpp)
target_link_libraries(destination_tests PRIVATE moravel_copy_destination)
