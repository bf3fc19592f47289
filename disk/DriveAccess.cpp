#include "DriveAccess.h"

#include <cstdio>
#include <filesystem>
#include <new>
#include <system_error>

#include "Disk32Api.h"
#include "PathText.h"
#include "SharedLibrary.h"

namespace moravel {

namespace {

constexpr std::uint16_t kMaxHardDisks = 10;

std::string DisplayNameFor(const char* format, unsigned long number) {
    char text[64];
    std::snprintf(text, sizeof text, format, number);
    return text;
}

}  // namespace

std::string OpenProblemText(const OpenError& problem) {
    if (!problem.path.empty() && problem.reason.find(problem.path) != std::string::npos) {
        return problem.reason;
    }
    return problem.path + ": " + problem.reason;
}

DriveAccess::DriveAccess(CoreFrontend& frontend, DriveAccessOptions options)
    : m_frontend(frontend), m_options(std::move(options)) {}

DriveAccess::~DriveAccess() {
    Close();
}

Errors DriveAccess::Open() {
    Close();
    m_openProblems.clear();
    m_openNotes.clear();
    m_detectProblems.clear();

    m_diskTableMemory = MemoryBlock::Allocate(kDiskTableEntries * sizeof(DriveItem));
    if (!m_diskTableMemory) {
        return {Error{"internal error 00001", Error::Weight::Stop}};
    }

    ResolveSources();
    DropRepeatedSources();
    if (IsBiosServices()) {
        auto loaded = LoadBiosServiceReader(BiosLibraryPath(), m_options.opener, m_options.sources);
        if (!loaded) {
            return loaded.error();
        }
        m_reader = std::move(*loaded);
    } else {
        m_reader = MakeDeviceReader(m_options.opener, m_options.sources);
    }
    m_floppyCount = m_reader->FloppyCount();

    m_disks = new (m_diskTableMemory.Data()) DriveItem[kDiskTableEntries];
    EnumerateDisks();
    // The paths named stand for the disks being read.
    m_reader->DropPathsNotRead(m_options.sources, m_floppyCount,
                               static_cast<std::uint32_t>(m_hardDiskCount));
    return {};
}

// With no disks named, the machine's own whole disks that can be opened stand in.
void DriveAccess::ResolveSources() {
    if (!m_options.sources.detect) {
        return;
    }
    DriveSources found = m_options.findDisks();
    m_foundDisks = found.hardDisks;
    std::vector<std::string> openable;
    for (const auto& path : found.hardDisks) {
        if (const OpenedSource source = m_options.opener(path)) {
            openable.push_back(path);
        } else {
            m_detectProblems.push_back({path, source.error().reason});
        }
    }
    m_options.sources.hardDisks = std::move(openable);
    m_options.sources.fromUdisks = found.fromUdisks;
    m_options.sources.floppies = std::move(found.floppies);
}

namespace {

// The path among paths that names the same file or device as path.
std::optional<std::string> SameDiskIn(const std::vector<std::string>& paths,
                                      const std::string& path) {
    for (const std::string& named : paths) {
        std::error_code error;
        if (named == path ||
            std::filesystem::equivalent(PathFromUtf8(named), PathFromUtf8(path), error)) {
            return named;
        }
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string> DriveAccess::SameDiskAs(const std::string& path) const {
    return SameDiskIn(SourcePaths(), path);
}

// A disk named twice (by the same path, another spelling of it, or a link) is read
// once: two drive numbers would show one disk as two, and copy from it twice.
void DriveAccess::DropRepeatedSources() {
    std::vector<std::string> named;
    const auto once = [&](std::vector<std::string>& paths) {
        std::vector<std::string> kept;
        for (const std::string& path : paths) {
            if (const std::optional<std::string> same = SameDiskIn(named, path)) {
                m_openNotes.push_back(path + " is the same disk as " + *same +
                                      ": it is read once.");
            } else {
                named.push_back(path);
                kept.push_back(path);
            }
        }
        paths = std::move(kept);
    };
    once(m_options.sources.hardDisks);
    once(m_options.sources.floppies);
}

std::vector<std::string> DriveAccess::SourcePaths() const {
    std::vector<std::string> paths = m_options.sources.hardDisks;
    paths.insert(paths.end(), m_options.sources.floppies.begin(), m_options.sources.floppies.end());
    return paths;
}

std::optional<std::string> DriveAccess::SourcePath(std::uint16_t drive) const {
    if (m_reader != nullptr && !m_reader->ReadsPathsNamed()) {
        return std::nullopt;
    }
    return NamedPath(drive);
}

std::optional<std::string> DriveAccess::NamedPath(std::uint16_t drive) const {
    const bool floppy = drive < kFirstHardDisk;
    const auto& paths = floppy ? m_options.sources.floppies : m_options.sources.hardDisks;
    const std::size_t index = floppy ? drive : drive - std::size_t{kFirstHardDisk};
    if (index >= paths.size()) {
        return std::nullopt;
    }
    return paths[index];
}

std::string DriveAccess::BiosLibraryPath() const {
    if (!m_options.biosLibrary.empty()) {
        return m_options.biosLibrary;
    }
    return (ProgramFolder() / disk32::kLibraryName).string();
}

void DriveAccess::EnumerateDisks() {
    EnumerateFloppies();
    const auto firstHardDisk = static_cast<std::size_t>(m_floppyCount);
    for (std::uint16_t n = 0; n < kMaxHardDisks && firstHardDisk + n < kDiskTableEntries; ++n) {
        const auto drive = static_cast<std::uint16_t>(kFirstHardDisk + n);
        if (!DiskStandsBehind(drive)) {
            break;  // numbered without gaps: the first disk missing ends the list
        }
        FillDiskEntry(m_disks[firstHardDisk + n], drive);
        ++m_hardDiskCount;
    }
}

// Whether the drive number has a disk that can be read; a disk named that cannot
// be is one of the open problems.
bool DriveAccess::DiskStandsBehind(std::uint16_t drive) {
    const Result<bool> probed = m_reader->Probe(drive);
    if (!probed) {
        m_openProblems.push_back({NamedPath(drive).value_or(""), probed.error().reason});
        return false;
    }
    return *probed;
}

void DriveAccess::EnumerateFloppies() {
    // The table has ten entries in all; floppies come first.
    if (m_floppyCount > kDiskTableEntries) {
        m_floppyCount = kDiskTableEntries;
    }
    // A floppy named on the command line that cannot be opened ends the floppies.
    for (std::uint32_t n = 0; n < m_floppyCount; ++n) {
        if (!DiskStandsBehind(static_cast<std::uint16_t>(n))) {
            m_floppyCount = n;
            break;
        }
    }
    for (std::uint32_t n = 0; n < m_floppyCount; ++n) {
        FillDiskEntry(m_disks[n], static_cast<std::uint16_t>(n));
    }
}

void DriveAccess::FillDiskEntry(DriveItem& entry, std::uint16_t drive) {
    const bool floppy = drive < kFirstHardDisk;
    entry.m_drive = drive;
    entry.m_startCylinder = 0;
    entry.m_startHead = 0;
    entry.m_startSector = 1;
    entry.m_sectorCount = 1;
    entry.m_kind = floppy ? ItemKind::Volume : ItemKind::Disk;
    entry.m_relativeSector = 0;
    entry.m_partitionStart = 0;
    entry.m_useExtensions = floppy ? 0 : m_reader->UseExtensions(drive);
    entry.m_expanded = 0;
    entry.SetDisplayName(floppy ? DisplayNameFor("Floppy Disk %lu", drive + 1UL)
                                : DisplayNameFor("Hard Disk %lu", drive - 127UL));
}

void DriveAccess::Close() {
    m_health.clear();
    DestroyDiskTable();
    m_addedDisks.clear();
    m_diskTableMemory.Release();
    m_reader.reset();
    m_floppyCount = 0;
    m_hardDiskCount = 0;
}

void DriveAccess::DestroyDiskTable() {
    if (m_disks == nullptr) {
        return;
    }
    for (std::size_t i = 0; i < kDiskTableEntries; ++i) {
        m_disks[i].~DriveItem();
    }
    m_disks = nullptr;
}

Result<DriveItem*> DriveAccess::AddDisk(const std::string& path, bool floppy) {
    if (m_disks == nullptr || !m_reader->TakesAddedDisks()) {
        return Error{
            "disk images are read only when disks are read directly, not through the "
            "BIOS disk services"};
    }
    if (const std::optional<std::string> same = SameDiskAs(path)) {
        return Error{"it is the same disk as " + *same + ", which is open already"};
    }
    auto& paths = floppy ? m_options.sources.floppies : m_options.sources.hardDisks;
    const std::size_t drive = (floppy ? 0 : kFirstHardDisk) + paths.size();
    if (drive >= (floppy ? kFirstHardDisk : kDriveNumbers)) {
        return Error{"there is no drive number left for it"};
    }
    const auto number = static_cast<std::uint16_t>(drive);
    if (Failure failure = m_reader->OpenAddedDisk(number, path)) {
        return std::move(*failure);
    }
    paths.push_back(path);
    DriveItem& entry = m_addedDisks.emplace_back();
    FillDiskEntry(entry, number);
    return &entry;
}

bool DriveAccess::ReopenFloppy(std::uint16_t drive) {
    m_health.erase(drive);
    return m_reader != nullptr && m_reader->ReopenFloppy(drive);
}

bool DriveAccess::DiskAnswers(std::uint16_t drive) {
    DiskHealth& health = m_health[drive];
    if (health.gone) {
        return false;
    }
    ++health.failures;
    const bool ask = (health.failures & (health.failures - 1)) == 0;
    if (ask && m_reader != nullptr && !m_reader->DiskAnswers(drive)) {
        health.gone = true;
    }
    return !health.gone;
}

std::optional<std::uint64_t> DriveAccess::DiskBytes(std::uint16_t drive) const {
    if (m_reader == nullptr) {
        return std::nullopt;
    }
    return m_reader->DiskBytes(drive);
}

}  // namespace moravel
