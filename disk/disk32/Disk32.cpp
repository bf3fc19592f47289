// A BIOS disk-service library that serves BIOS drive numbers from disk image
// files (or block devices): hard disks 128, 129, ... and floppies 0, 1, ... It
// answers cylinder/head/sector requests through a geometry of its own and LBA
// requests directly, and it never writes.

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "disk/Disk32Api.h"
#include "disk/SectorSource.h"
#include "disk32/Disk32Testing.h"

#ifdef _WIN32
#define DISK32_EXPORT __declspec(dllexport)
#else
#define DISK32_EXPORT __attribute__((visibility("default")))
#endif

namespace {

using moravel::disk32::Disk32Request;

struct ServedDrive {
    std::shared_ptr<moravel::SectorSource> source;  // opened read-only
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
    const std::uint64_t bytes = drive.source->Size().value_or(0);
    struct Format {
        std::uint64_t bytes;
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
    moravel::OpenedSource source = moravel::OpenFileSource(path);
    if (!source) {
        return;  // a drive that is not there: its reads fail
    }
    drive.source = std::move(*source);
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
        if (drive.source->ReadAt((lba + i) * 512, {bytes + i * 512, 512}) != 512) {
            return 0;
        }
    }
    return 1;
}

}  // namespace

extern "C" {

DISK32_EXPORT int Disk32UseImages(const char* const* hardDisks, std::uint32_t hardDiskCount,
                                  const char* const* floppies, std::uint32_t floppyCount) {
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
DISK32_EXPORT int ReadDisk32(std::uint32_t drive, std::uint32_t cylinder, std::uint32_t head,
                             std::uint32_t sector, std::uint32_t count, void* buffer,
                             std::uint32_t lba, std::uint32_t useExtensions) {
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
DISK32_EXPORT int WriteDisk32(std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t,
                              std::uint32_t, const void*, std::uint32_t, std::uint32_t) {
    return 0;
}
#endif

#ifndef DISK32_WITHOUT_CHECK
DISK32_EXPORT std::uint32_t CheckInt13Extension32(std::uint32_t drive) {
    const auto found = Served().drives.find(drive);
    return found == Served().drives.end() ? 0 : found->second.extensions;
}
#endif

DISK32_EXPORT std::intptr_t DiskVxdOpen(const char* name, std::uint32_t* systemError) {
    if (Served().driverError != 0 || std::strcmp(name, moravel::disk32::kDriverName) != 0) {
        *systemError =
            Served().driverError != 0 ? Served().driverError : moravel::disk32::kErrorFileNotFound;
        return moravel::disk32::kInvalidDriverHandle;
    }
    Served().driverOpen = true;
    return 1;
}

DISK32_EXPORT int DiskVxdControl(std::intptr_t handle, std::uint32_t request, void* out,
                                 std::uint32_t outSize) {
    if (handle != 1 || !Served().driverOpen || request != moravel::disk32::kRequestFloppyCount ||
        outSize < sizeof(std::uint32_t)) {
        return 0;
    }
    std::memcpy(out, &Served().floppyCount, sizeof(std::uint32_t));
    return 1;
}

DISK32_EXPORT void DiskVxdClose(std::intptr_t) {
    Served().driverOpen = false;
}

DISK32_EXPORT void Disk32SetGeometry(std::uint32_t drive, std::uint32_t heads,
                                     std::uint32_t sectorsPerTrack) {
    auto& settings = Served().settings[drive];
    settings.heads = heads;
    settings.sectorsPerTrack = sectorsPerTrack;
}

DISK32_EXPORT void Disk32SetExtensions(std::uint32_t drive, std::uint32_t value) {
    Served().settings[drive].extensions = value;
}

DISK32_EXPORT void Disk32SetDriverError(std::uint32_t error) {
    Served().driverError = error;
}

DISK32_EXPORT void Disk32FailSector(std::uint32_t drive, std::uint32_t lba) {
    Served().settings[drive].failingSectors.insert(lba);
}

DISK32_EXPORT void Disk32ResetSettings() {
    Served().settings.clear();
    Served().driverError = 0;
    Served().log.clear();
}

DISK32_EXPORT std::uint32_t Disk32TakeRequests(Disk32Request* out, std::uint32_t capacity) {
    auto& log = Served().log;
    const auto total = static_cast<std::uint32_t>(log.size());
    std::copy_n(log.begin(), std::min(total, capacity), out);
    log.clear();
    return total;
}

}  // extern "C"
