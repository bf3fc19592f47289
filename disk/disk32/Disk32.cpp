// A BIOS disk-service library that serves BIOS drive numbers from disk image
// files (or block devices): hard disks 128, 129, ... and floppies 0, 1, ... It
// answers cylinder/head/sector requests through a geometry of its own and LBA
// requests directly, and it never writes.

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "disk/Disk32Api.h"
#include "disk32/Disk32Testing.h"

namespace {

using moravel::disk32::Disk32Request;

struct ServedDrive {
    int fd = -1;
    std::uint32_t heads = 255;
    std::uint32_t sectorsPerTrack = 63;
    std::uint32_t extensions = 1;
    std::set<std::uint32_t> failingSectors;
};

// Settings made for a drive number; they outlive a change of images.
struct DriveSettings {
    std::uint32_t heads = 0;  // 0: the image's own geometry
    std::uint32_t sectorsPerTrack = 0;
    std::optional<std::uint32_t> extensions;
    std::set<std::uint32_t> failingSectors;
};

struct Library {
    std::map<std::uint32_t, ServedDrive> drives;
    std::map<std::uint32_t, DriveSettings> settings;
    std::uint32_t floppyCount = 0;
    std::uint32_t driverError = 0;
    bool driverOpen = false;
    std::vector<Disk32Request> log;

    ~Library() { Forget(); }
    void Forget() {
        for (auto& [number, drive] : drives) {
            if (drive.fd >= 0) {
                ::close(drive.fd);
            }
        }
        drives.clear();
        floppyCount = 0;
    }
};

Library& Served() {
    static Library library;
    return library;
}

// Floppy images of the standard sizes get their real geometry; anything else the
// usual translated geometry of a hard disk.
void GuessFloppyGeometry(ServedDrive& drive) {
    const off_t bytes = ::lseek(drive.fd, 0, SEEK_END);
    struct Format {
        off_t bytes;
        std::uint32_t sectorsPerTrack;
    };
    for (const Format format : {Format{368'640, 9}, Format{737'280, 9}, Format{1'228'800, 15},
                                Format{1'474'560, 18}, Format{2'949'120, 36}}) {
        if (bytes == format.bytes) {
            drive.heads = bytes == 368'640 ? 1 : 2;
            drive.sectorsPerTrack = format.sectorsPerTrack;
        }
    }
    drive.extensions = 0;
}

void Serve(std::uint32_t number, const char* path, bool floppy) {
    ServedDrive drive;
    drive.fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (drive.fd < 0) {
        return;  // a drive that is not there: its reads fail
    }
    if (floppy) {
        GuessFloppyGeometry(drive);
    }
    const DriveSettings& settings = Served().settings[number];
    if (settings.heads != 0 && settings.sectorsPerTrack != 0) {
        drive.heads = settings.heads;
        drive.sectorsPerTrack = settings.sectorsPerTrack;
    }
    drive.extensions = settings.extensions.value_or(drive.extensions);
    drive.failingSectors = settings.failingSectors;
    Served().drives[number] = std::move(drive);
}

// Absolute sector of a cylinder/head/sector request, or false when the geometry
// has no such place.
[[maybe_unused]] bool ChsToLba(const ServedDrive& drive, std::uint32_t cylinder, std::uint32_t head,
                               std::uint32_t sector, std::uint64_t& lba) {
    const std::uint32_t wholeCylinder = (cylinder & 0xFF) | ((sector & 0xC0) << 2);
    const std::uint32_t sectorInTrack = sector & 0x3F;
    if (cylinder > 0xFF || sectorInTrack == 0 || sectorInTrack > drive.sectorsPerTrack ||
        head >= drive.heads) {
        return false;
    }
    lba = (std::uint64_t{wholeCylinder} * drive.heads + head) * drive.sectorsPerTrack +
          sectorInTrack - 1;
    return true;
}

[[maybe_unused]] int ReadRun(const ServedDrive& drive, std::uint64_t lba, std::uint32_t count,
                             void* buffer) {
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    for (std::uint32_t i = 0; i < count; ++i) {
        if (drive.failingSectors.count(static_cast<std::uint32_t>(lba + i)) != 0) {
            return 0;
        }
        std::size_t done = 0;
        while (done < 512) {
            const ssize_t got = ::pread(drive.fd, bytes + i * 512 + done, 512 - done,
                                        static_cast<off_t>((lba + i) * 512 + done));
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got <= 0) {
                return 0;
            }
            done += static_cast<std::size_t>(got);
        }
    }
    return 1;
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) int Disk32UseImages(const char* const* hardDisks,
                                                           std::uint32_t hardDiskCount,
                                                           const char* const* floppies,
                                                           std::uint32_t floppyCount) {
    Served().Forget();
    for (std::uint32_t i = 0; i < hardDiskCount; ++i) {
        Serve(0x80 + i, hardDisks[i], false);
    }
    for (std::uint32_t i = 0; i < floppyCount; ++i) {
        Serve(i, floppies[i], true);
    }
    Served().floppyCount = floppyCount;
    return 1;
}

#ifndef DISK32_WITHOUT_READ
__attribute__((visibility("default"))) int ReadDisk32(std::uint32_t drive, std::uint32_t cylinder,
                                                      std::uint32_t head, std::uint32_t sector,
                                                      std::uint32_t count, void* buffer,
                                                      std::uint32_t lba,
                                                      std::uint32_t useExtensions) {
    Disk32Request request{drive, cylinder, head, sector, count, lba, useExtensions, 0};
    const auto found = Served().drives.find(drive);
    if (found != Served().drives.end()) {
        std::uint64_t first = lba;
        if (useExtensions == 1 || ChsToLba(found->second, cylinder, head, sector, first)) {
            request.result = ReadRun(found->second, first, count, buffer);
        }
    }
    Served().log.push_back(request);
    return request.result;
}
#endif

#ifndef DISK32_WITHOUT_WRITE
// Present because callers look for it; this library never writes a disk.
__attribute__((visibility("default"))) int WriteDisk32(std::uint32_t, std::uint32_t, std::uint32_t,
                                                       std::uint32_t, std::uint32_t, const void*,
                                                       std::uint32_t, std::uint32_t) {
    return 0;
}
#endif

#ifndef DISK32_WITHOUT_CHECK
__attribute__((visibility("default"))) std::uint32_t CheckInt13Extension32(std::uint32_t drive) {
    const auto found = Served().drives.find(drive);
    return found == Served().drives.end() ? 0 : found->second.extensions;
}
#endif

__attribute__((visibility("default"))) std::intptr_t DiskVxdOpen(const char* name,
                                                                 std::uint32_t* systemError) {
    if (Served().driverError != 0 || std::strcmp(name, moravel::disk32::kDriverName) != 0) {
        *systemError =
            Served().driverError != 0 ? Served().driverError : moravel::disk32::kErrorFileNotFound;
        return moravel::disk32::kInvalidDriverHandle;
    }
    Served().driverOpen = true;
    return 1;
}

__attribute__((visibility("default"))) int DiskVxdControl(std::intptr_t handle,
                                                          std::uint32_t request, void* out,
                                                          std::uint32_t outSize) {
    if (handle != 1 || !Served().driverOpen || request != moravel::disk32::kRequestFloppyCount ||
        outSize < sizeof(std::uint32_t)) {
        return 0;
    }
    std::memcpy(out, &Served().floppyCount, sizeof(std::uint32_t));
    return 1;
}

__attribute__((visibility("default"))) void DiskVxdClose(std::intptr_t) {
    Served().driverOpen = false;
}

__attribute__((visibility("default"))) void Disk32SetGeometry(std::uint32_t drive,
                                                              std::uint32_t heads,
                                                              std::uint32_t sectorsPerTrack) {
    auto& settings = Served().settings[drive];
    settings.heads = heads;
    settings.sectorsPerTrack = sectorsPerTrack;
}

__attribute__((visibility("default"))) void Disk32SetExtensions(std::uint32_t drive,
                                                                std::uint32_t value) {
    Served().settings[drive].extensions = value;
}

__attribute__((visibility("default"))) void Disk32SetDriverError(std::uint32_t error) {
    Served().driverError = error;
}

__attribute__((visibility("default"))) void Disk32FailSector(std::uint32_t drive,
                                                             std::uint32_t lba) {
    Served().settings[drive].failingSectors.insert(lba);
}

__attribute__((visibility("default"))) void Disk32ResetSettings() {
    Served().settings.clear();
    Served().driverError = 0;
    Served().log.clear();
}

__attribute__((visibility("default"))) std::uint32_t Disk32TakeRequests(Disk32Request* out,
                                                                        std::uint32_t capacity) {
    auto& log = Served().log;
    const auto total = static_cast<std::uint32_t>(log.size());
    std::copy_n(log.begin(), std::min(total, capacity), out);
    log.clear();
    return total;
}

}  // extern "C"
