#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace moravel {

// Which disk stands behind which BIOS drive number: hard disks 128, 129, ... and
// floppies 0, 1, ... in list order.
struct DriveSources {
    std::vector<std::string> hardDisks;
    std::vector<std::string> floppies;
    // Neither list given: look for the machine's own disks when the disks are opened.
    bool detect = false;
    // The machine's disks were found through udisks2, which also opens those the
    // user may not open alone.
    bool fromUdisks = false;
};

// The machine's whole-disk block devices in name order (sd*, hd*, vd*, nvme*n*,
// mmcblk*; never partitions, loop, ram, zram or device-mapper devices) and the
// floppy devices fd0, fd1, ... that exist, up to the first missing one.
DriveSources DetectDriveSources(const std::filesystem::path& sysBlock = "/sys/block",
                                const std::filesystem::path& dev = "/dev");

// The group that owns a device, the way to be let in to read it: empty when it
// cannot be told, or when only root may read it.
std::string DeviceGroup(const std::string& path);

// True for the names of whole-disk devices that may hold a recorder's disk.
bool IsWholeDiskName(const std::string& name);
// True for loop0, loop1, ... (not their partitions, loop0p1).
bool IsLoopName(const std::string& name);

// The names (sda, nvme0n1) of the whole disks that hold the file system the
// system runs from, through partitions, encryption and volume groups: none when
// it cannot be told (a container's root).
std::vector<std::string> SystemDiskNames();

// What tells one disk from another for a person: empty where it is not known.
struct DiskDetails {
    std::string device;  // the path read
    std::string model;   // vendor and model, as the drive names itself
    std::string serial;
    std::string bus;           // how it is connected: "USB", "SATA", "NVMe", "loop", ...
    bool blockDevice = false;  // a device of the system, not an image file
};

// The details of a block device from what the kernel and udev tell of it; of an
// image file, its path only.
DiskDetails DescribeDisk(const std::string& path);

}  // namespace moravel
