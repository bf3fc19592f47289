#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "ByteOrder.h"
#include "ChsAddress.h"
#include "CoreFrontend.h"
#include "DiskReader.h"
#include "DriveItem.h"
#include "DriveSources.h"
#include "MemoryBlock.h"
#include "Result.h"
#include "SectorRun.h"
#include "SectorSource.h"

namespace moravel {

// How disks are reached: as devices (image files or block devices read directly),
// or through the BIOS disk-service library by BIOS drive number.
enum class DiskPlatform { Devices, BiosServices };

inline constexpr unsigned kDefaultCodePage = 850;

struct DriveAccessOptions {
    DiskPlatform platform = DiskPlatform::Devices;
    DriveSources sources;
    // The BIOS disk-service library; empty: libDisk32.so beside the program.
    std::string biosLibrary;
    // How a path becomes an open disk; tests put failing sources behind it.
    SourceOpener opener = OpenFileSource;
    // Where the machine's own disks are looked for when none are named.
    std::function<DriveSources()> findDisks = [] { return DetectDriveSources(); };
    // The OEM code page of short names (850: western Europe, as DOS had it there).
    unsigned codePage = kDefaultCodePage;
};

inline constexpr std::size_t kDiskTableEntries = 10;

// The sectors of a run that could not be read and were filled with 0xE5, by
// their index in the run. A read around a bad area may take minutes (a failing
// drive spends seconds on each sector): whoever waits for it is told of each
// sector as it fails, when it sets eachFailed.
struct UnreadableSectors : std::vector<std::uint32_t> {
    std::function<void()> eachFailed;

    void Note(std::uint32_t index) {
        push_back(index);
        if (eachFailed) {
            eachFailed();
        }
    }
};

// The one object through which the program touches disks: it opens them, holds
// the disk table (the roots of the drive tree) and reads sectors and clusters.
// The drive tree (tree/DriveTree.h) builds on it.
class DriveAccess {
public:
    explicit DriveAccess(CoreFrontend& frontend, DriveAccessOptions options = {});
    virtual ~DriveAccess();
    DriveAccess(const DriveAccess&) = delete;
    DriveAccess& operator=(const DriveAccess&) = delete;

    // Prepares the platform and fills the disk table: nothing when the table is
    // ready, else why it is not (both counts are then 0).
    Errors Open();
    void Close();

    DriveItem* GetDisks() const { return m_disks; }
    std::uint32_t GetFloppyCount() const { return m_floppyCount; }
    std::int32_t GetHardDiskCount() const { return m_hardDiskCount; }
    bool IsBiosServices() const { return m_options.platform == DiskPlatform::BiosServices; }

    // The paths of the disks that stand behind the drive numbers (after Open).
    std::vector<std::string> SourcePaths() const;

    // The image file or device that was named for a drive number: read directly,
    // or handed to the BIOS services, which then serve it under that number.
    // Nothing for a disk that the BIOS services found on their own.
    std::optional<std::string> SourcePath(std::uint16_t drive) const;

    // The paths that ended a list of disks because they could not be opened or
    // read, with the reason, for the front ends to show.
    const std::vector<OpenError>& OpenProblems() const { return m_openProblems; }
    // What the front ends should know of the disks named that is no failure: a
    // disk named twice, which is read once.
    const std::vector<std::string>& OpenNotes() const { return m_openNotes; }
    // With no disks named: the machine's whole disks that could not be opened
    // (most often for want of the rights to read them), with the reason.
    const std::vector<OpenError>& DetectProblems() const { return m_detectProblems; }
    // With no disks named: whether the machine's disks found now differ from
    // those found when the table was filled.
    bool MachineDisksChanged() const {
        return m_options.sources.detect && m_options.findDisks().hardDisks != m_foundDisks;
    }
    // The machine's disks were found through udisks2 (after Open).
    bool DisksFromUdisks() const { return m_options.sources.fromUdisks; }
    // The machine's disks were looked for, some were found, and none could be opened.
    bool NoFoundDiskOpened() const {
        return !m_detectProblems.empty() && m_hardDiskCount <= 0 && m_floppyCount == 0;
    }

    // Adds a disk image (or a device) after the disks of the table, as the next
    // hard disk or floppy; its item lives as long as the table. The error says why
    // when it cannot be opened or no drive number is left (and always through the
    // BIOS services, which know only their own disks).
    Result<DriveItem*> AddDisk(const std::string& path, bool floppy);

    // Reads the run's sectors (an item passed for it: the item's own run) into the
    // buffer. True when the run came in whole at the first attempt; otherwise the
    // run is read again sector by sector, every sector that stays unreadable is
    // filled with 0xE5, and the result is false.
    bool ReadSectors(SectorRun run, ChsAddress* chs, std::span<std::uint8_t> buffer);
    // The same, for a caller that goes on with the bytes whatever the result: the
    // index in the run of every sector that was filled with 0xE5 is appended to
    // unreadable. A run of which nothing could be read without a retry (one
    // sector, a floppy that cannot be opened) is filled and listed whole.
    bool ReadSectors(SectorRun run, ChsAddress* chs, std::span<std::uint8_t> buffer,
                     UnreadableSectors* unreadable);

    // One attempt at the run, without a retry: how many sectors from the run's
    // start came in before the first that did not (all of them when it read whole).
    // The buffer's bytes past those are undefined. For a rescue copy, which decides
    // itself what to read again, and when.
    std::uint32_t ReadSectorsOnce(SectorRun run, std::span<std::uint8_t> buffer);

    // Sectors `from` to `count` of a run's buffer as 0xE5, each listed as unreadable
    // (when a list is given): what a read leaves of the sectors it did not bring.
    static void FillRestUnreadable(std::span<std::uint8_t> into, std::uint32_t from,
                                   std::uint32_t count, UnreadableSectors* unreadable);

    // Reads the listed clusters of the volume, one after another, into the buffer.
    // Stops at the first cluster that does not read whole; true when none failed.
    // With unreadable, every cluster is read (as ReadSectors does with it): the
    // sectors filled with 0xE5 are appended, numbered from the first cluster's
    // first sector.
    bool ReadClusters(const std::uint32_t* clusters, const DriveItem& volume, std::uint32_t count,
                      std::span<std::uint8_t> buffer, UnreadableSectors* unreadable = nullptr);

    // The first `count` sectors of the place's partition (at m_partitionStart) in
    // one attempt: how partition tables and boot sectors are read.
    RawRead RawReadStart(const DriveItem& place, std::uint32_t count,
                         std::span<std::uint8_t> buffer);
    // The same for the item's own m_sectorCount sectors.
    RawRead RawReadItem(const DriveItem& item, std::span<std::uint8_t> buffer) {
        return RawReadStart(item, item.m_sectorCount, buffer);
    }

    // Opens a floppy afresh, as it may have been changed since it was last read;
    // false when it cannot be opened. Always true through the BIOS services, which
    // open it at each request.
    bool ReopenFloppy(std::uint16_t drive);

    // After a failed read: whether the disk behind the drive number still answers
    // at all; a disk pulled out does not. The disk is asked (SectorSource::Answers)
    // after 1, 2, 4, 8, ... failed reads in a row: a failing disk's bad area costs
    // a few questions, and a dead disk that a cache answered for once is asked
    // again while its reads go on failing. Once it did not answer, it is gone until
    // the disks are opened again: every read of it fails at once.
    bool DiskAnswers(std::uint16_t drive);
    bool DiskGone(std::uint16_t drive) const {
        const auto health = m_health.find(drive);
        return health != m_health.end() && health->second.gone;
    }

    // Reads of the disk behind a drive number pass by the system's cache from now
    // on where it can be done (a rescue's reads of a failing disk); what they do.
    std::string BypassCache(std::uint16_t drive) {
        return m_reader == nullptr ? std::string("through the system's cache")
                                   : m_reader->BypassCache(drive);
    }

    // A reader of the disk behind a drive number that may run on another thread
    // beside this one's reads, at byte offsets; nothing where there is none (the
    // BIOS services, the sources of tests).
    SectorSource::ReaderAside ReadAside(std::uint16_t drive) const {
        return m_reader == nullptr ? SectorSource::ReaderAside{} : m_reader->ReadAside(drive);
    }

    // The size of the disk behind a drive number, when it can be told (an image
    // file or a block device; not through the BIOS services).
    std::optional<std::uint64_t> DiskBytes(std::uint16_t drive) const;

protected:
    CoreFrontend& Frontend() const { return m_frontend; }
    const DriveAccessOptions& Options() const { return m_options; }
    // The scratch address of the drive tree's reads (BIOS services only).
    ChsAddress& Chs() { return m_chs; }

private:
    void EnumerateDisks();
    void EnumerateFloppies();
    bool DiskStandsBehind(std::uint16_t drive);
    // The path named for the drive number, whether or not it is what is read.
    std::optional<std::string> NamedPath(std::uint16_t drive) const;
    void FillDiskEntry(DriveItem& entry, std::uint16_t drive);
    void DestroyDiskTable();
    void ResolveSources();
    void DropRepeatedSources();
    // The path of a disk named that is the same file or device as path.
    std::optional<std::string> SameDiskAs(const std::string& path) const;
    std::string BiosLibraryPath() const;
    // How a run came in: whole at the first attempt, sector by sector after a
    // failed one, or not at all (nothing retried, the buffer as it was).
    enum class RunRead { Whole, SectorBySector, Nothing };
    // The run request by request (DiskReader::ReadRequest); a request that does not
    // come in whole is read again sector by sector.
    RunRead ReadRun(SectorRun run, ChsAddress& chs, std::span<std::uint8_t> into,
                    UnreadableSectors* unreadable);
    void RetrySectorBySector(SectorRun run, ChsAddress* chs, std::span<std::uint8_t> into,
                             UnreadableSectors* unreadable, std::uint32_t firstIndex);

    // A read of the drive brought something: its run of failures ends.
    void NoteRead(std::uint16_t drive) { m_health.erase(drive); }

    CoreFrontend& m_frontend;
    DriveAccessOptions m_options;
    struct DiskHealth {
        std::uint32_t failures = 0;  // reads in a row that failed, asked about
        bool gone = false;
    };
    std::map<std::uint16_t, DiskHealth> m_health;
    std::vector<OpenError> m_openProblems;
    std::vector<std::string> m_openNotes;
    std::vector<OpenError> m_detectProblems;
    std::vector<std::string> m_foundDisks;
    // Disks added after the table was filled; a deque keeps their addresses.
    std::deque<DriveItem> m_addedDisks;

    // How the disks are read while open (chosen by the platform when opening);
    // null while closed.
    std::unique_ptr<DiskReader> m_reader;
    MemoryBlock m_diskTableMemory;
    DriveItem* m_disks = nullptr;
    std::uint32_t m_floppyCount = 0;
    std::int32_t m_hardDiskCount = 0;
    ChsAddress m_chs;
};

}  // namespace moravel
