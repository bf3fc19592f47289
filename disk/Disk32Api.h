#pragma once

#include <cstdint>

// The contract of the BIOS disk-service library and its driver, as the program
// calls them. The library is loaded by name at run time; the entry points are
// looked up by the names below. Every integer argument is 32 bits wide.
namespace moravel::disk32 {

extern "C" {
// Reads count sectors into buffer, addressed by cylinder/head/sector (sector bits
// 6-7 carry cylinder bits 8-9) when useExtensions is 0, by lba when it is 1.
// Nonzero only when all count sectors were read.
using ReadDisk32Fn = int (*)(std::uint32_t drive, std::uint32_t cylinder, std::uint32_t head,
                             std::uint32_t sector, std::uint32_t count, void* buffer,
                             std::uint32_t lba, std::uint32_t useExtensions);
// Must be exported; the program never calls it.
using WriteDisk32Fn = int (*)(std::uint32_t drive, std::uint32_t cylinder, std::uint32_t head,
                              std::uint32_t sector, std::uint32_t count, const void* buffer,
                              std::uint32_t lba, std::uint32_t useExtensions);
// Bit 0 set: the drive offers the extended (LBA) read service.
using CheckInt13Extension32Fn = std::uint32_t (*)(std::uint32_t drive);

// The driver that the library needs loaded while the floppy count is asked for.
// Open returns a handle, or kInvalidDriverHandle with the system error code set.
using DriverOpenFn = std::intptr_t (*)(const char* name, std::uint32_t* systemError);
// Device request: fills out (outSize bytes); nonzero on success.
using DriverControlFn = int (*)(std::intptr_t handle, std::uint32_t request, void* out,
                                std::uint32_t outSize);
using DriverCloseFn = void (*)(std::intptr_t handle);

// Optional: tells a library that serves disk images which images stand behind
// hard disks 128, 129, ... and floppies 0, 1, ...
using UseImagesFn = int (*)(const char* const* hardDisks, std::uint32_t hardDiskCount,
                            const char* const* floppies, std::uint32_t floppyCount);
}

#ifdef _WIN32
inline constexpr const char* kLibraryName = "Disk32.dll";
#else
inline constexpr const char* kLibraryName = "libDisk32.so";
#endif
inline constexpr const char* kReadDisk32 = "ReadDisk32";
inline constexpr const char* kWriteDisk32 = "WriteDisk32";
inline constexpr const char* kCheckInt13Extension32 = "CheckInt13Extension32";
inline constexpr const char* kDriverOpen = "DiskVxdOpen";
inline constexpr const char* kDriverControl = "DiskVxdControl";
inline constexpr const char* kDriverClose = "DiskVxdClose";
inline constexpr const char* kUseImages = "Disk32UseImages";

inline constexpr const char* kDriverName = "\\\\.\\DISK.VXD";
inline constexpr std::intptr_t kInvalidDriverHandle = -1;
inline constexpr std::uint32_t kRequestFloppyCount = 1;
inline constexpr std::uint32_t kErrorFileNotFound = 2;
inline constexpr std::uint32_t kErrorNotSupported = 50;

}  // namespace moravel::disk32
