#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "ChsAddress.h"
#include "DriveItem.h"
#include "DriveSources.h"
#include "Result.h"
#include "SectorRun.h"
#include "SectorSource.h"

namespace moravel {

inline constexpr std::uint16_t kFirstHardDisk = 0x80;
// Drive numbers run from 0 to 255: floppies below kFirstHardDisk, hard disks from it.
inline constexpr std::size_t kDriveNumbers = 256;

// Outcome of a raw item read: one attempt, no per-sector retry.
enum class RawRead { Ok, BiosServiceFailed, DeviceReadShort };

// One request for the sectors of a run: how many it asked for, and how many of
// them came in, counted from the first.
struct Request {
    std::uint32_t asked = 0;
    std::uint32_t read = 0;
};

// How the disks are reached while DriveAccess is open: read directly from the
// image files and devices named for the drive numbers, or asked of the BIOS
// disk-service library. DriveAccess picks one when it opens and goes through it
// alone; the retries, the fill of unreadable sectors and the disk table are its own.
class DiskReader {
public:
    virtual ~DiskReader() = default;

    // How many floppies there are before any is opened: those named, or those
    // the BIOS services count.
    virtual std::uint32_t FloppyCount() const = 0;
    // Whether a disk stands behind the drive number and can be read; for a disk
    // named that cannot be, the reason.
    virtual Result<bool> Probe(std::uint16_t drive) = 0;
    // The m_useExtensions of the hard disk's item: bit 0 set when the extended
    // (LBA) read service reaches it; 0 for a disk read directly.
    virtual std::uint32_t UseExtensions(std::uint16_t drive) = 0;
    // Once the disk table is filled: the paths named that stand for no disk
    // being read are dropped (disks read directly stop at the first that could
    // not be opened; the BIOS services were handed every path).
    virtual void DropPathsNotRead(DriveSources& named, std::uint32_t floppies,
                                  std::uint32_t hardDisks) const = 0;
    // Whether the disks behind the drive numbers are the paths named (the BIOS
    // services read them only when the library takes images).
    virtual bool ReadsPathsNamed() const = 0;
    // Whether a disk can be added after the table was filled; then opens it
    // under the drive number.
    virtual bool TakesAddedDisks() const = 0;
    virtual Failure OpenAddedDisk(std::uint16_t drive, const std::string& path) = 0;
    // Opens a floppy afresh (it may have been changed); false when it cannot.
    virtual bool ReopenFloppy(std::uint16_t drive) = 0;
    // The size of the disk behind a drive number, when it can be told.
    virtual std::optional<std::uint64_t> DiskBytes(std::uint16_t drive) const = 0;
    // After a failed read: whether the disk still answers (SectorSource::Answers);
    // true where that cannot be told.
    virtual bool DiskAnswers(std::uint16_t /*drive*/) { return true; }
    // A reader of the disk at byte offsets that may run beside this one's reads
    // (SectorSource::ReadAside); nothing where there is none.
    virtual SectorSource::ReaderAside ReadAside(std::uint16_t /*drive*/) const { return {}; }
    // Reads of the disk pass by the system's cache from now on where it can be
    // done (SectorSource::BypassCache); what they do now.
    virtual std::string BypassCache(std::uint16_t /*drive*/) {
        return "through the BIOS disk services";
    }

    // One request for the run from its sector `done` on, into `into` (the whole
    // run's buffer): the rest of the run from a disk read directly, the rest of the
    // track through the BIOS services. Nothing when the run cannot be asked for at
    // all (a floppy that cannot be opened, a place without a geometry).
    virtual std::optional<Request> ReadRequest(SectorRun run, std::uint32_t done, ChsAddress& chs,
                                               std::span<std::uint8_t> into) = 0;
    // The first `count` sectors of the place's partition, at m_partitionStart, in
    // one request.
    virtual RawRead ReadRaw(const DriveItem& place, std::uint32_t count,
                            std::span<std::uint8_t> buffer) = 0;
};

// Reads the image files and devices named (hard disks from kFirstHardDisk, floppies
// from 0, in list order), each opened by opener. The reader keeps both references.
std::unique_ptr<DiskReader> MakeDeviceReader(const SourceOpener& opener, const DriveSources& named);

// Loads the BIOS disk-service library, tells it which paths stand behind the drive
// numbers (when it takes images) and asks its driver for the floppy count; the
// errors say why it cannot serve. The reader keeps the references.
Result<std::unique_ptr<DiskReader>, Errors> LoadBiosServiceReader(const std::string& library,
                                                                  const SourceOpener& opener,
                                                                  const DriveSources& named);

}  // namespace moravel
