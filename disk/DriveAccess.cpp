#include "DriveAccess.h"

#include <cstdio>
#include <filesystem>
#include <new>
#include <system_error>

#include "PathText.h"
#include "SharedLibrary.h"

namespace moravel {

namespace {

constexpr std::uint16_t kMaxHardDisks = 10;

template <typename Fn>
Fn LookUp(void* library, const char* name) {
    // The look-up hands back an object pointer; the contract says it is this function.
    return reinterpret_cast<Fn>(SharedLibrarySymbol(library, name));
}

std::string DisplayNameFor(const char* format, unsigned long number) {
    char text[64];
    std::snprintf(text, sizeof text, format, number);
    return text;
}

}  // namespace

DriveAccess::DriveAccess(CoreFrontend& frontend, DriveAccessOptions options)
    : m_frontend(frontend), m_options(std::move(options)) {}

DriveAccess::~DriveAccess() {
    Close();
}

int DriveAccess::Open() {
    Close();
    m_openProblems.clear();
    m_openNotes.clear();
    m_detectProblems.clear();

    m_diskTableMemory = MemoryBlock::Allocate(kDiskTableEntries * sizeof(DriveItem));
    if (!m_diskTableMemory) {
        ShowFailure(m_frontend, "internal error 00001");
        return 0;
    }

    m_biosServices = m_options.platform == DiskPlatform::BiosServices;
    ResolveSources();
    DropRepeatedSources();
    if (!m_biosServices) {
        // Device variant: every floppy given counts as a removable drive.
        m_floppyCount = static_cast<std::uint32_t>(m_options.sources.floppies.size());
    } else if (OpenBiosServices() == 0) {
        return 0;
    }

    m_disks = new (m_diskTableMemory.Data()) DriveItem[kDiskTableEntries];
    EnumerateDisks();
    if (!m_biosServices) {
        // The disks being read are those in the table; a path that ended a list
        // is not read, and the next disk added takes the next number.
        m_options.sources.floppies.resize(m_floppyCount);
        m_options.sources.hardDisks.resize(static_cast<std::size_t>(m_hardDiskCount));
    }
    return 1;
}

// With no disks named, the machine's own whole disks that can be opened stand in.
void DriveAccess::ResolveSources() {
    if (!m_options.sources.detect) {
        return;
    }
    DriveSources found = m_options.findDisks();
    std::vector<std::string> openable;
    for (const auto& path : found.hardDisks) {
        OpenError error;
        if (m_options.opener(path, error) != nullptr) {
            openable.push_back(path);
        } else {
            m_detectProblems.push_back(error);
        }
    }
    m_options.sources.hardDisks = std::move(openable);
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
    if (m_biosServices && !m_biosServesSources) {
        return std::nullopt;
    }
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

int DriveAccess::OpenBiosServices() {
    m_serviceLibrary = LoadSharedLibrary(BiosLibraryPath());
    if (m_serviceLibrary == nullptr) {
        ShowFailure(m_frontend, "internal error 00003");
        return 0;
    }
    m_readDisk32 = LookUp<disk32::ReadDisk32Fn>(m_serviceLibrary, disk32::kReadDisk32);
    if (m_readDisk32 == nullptr) {
        ShowFailure(m_frontend, "internal error 00004");
        return 0;
    }
    m_checkExtensions =
        LookUp<disk32::CheckInt13Extension32Fn>(m_serviceLibrary, disk32::kCheckInt13Extension32);
    if (m_checkExtensions == nullptr) {
        ShowFailure(m_frontend, "internal error 00006");
        return 0;
    }

    if (auto useImages = LookUp<disk32::UseImagesFn>(m_serviceLibrary, disk32::kUseImages)) {
        std::vector<const char*> hard;
        std::vector<const char*> floppies;
        for (const auto& path : m_options.sources.hardDisks) {
            hard.push_back(path.c_str());
        }
        for (const auto& path : m_options.sources.floppies) {
            floppies.push_back(path.c_str());
        }
        useImages(hard.data(), static_cast<std::uint32_t>(hard.size()), floppies.data(),
                  static_cast<std::uint32_t>(floppies.size()));
        m_biosServesSources = true;
    }

    auto driverOpen = LookUp<disk32::DriverOpenFn>(m_serviceLibrary, disk32::kDriverOpen);
    auto driverControl = LookUp<disk32::DriverControlFn>(m_serviceLibrary, disk32::kDriverControl);
    auto driverClose = LookUp<disk32::DriverCloseFn>(m_serviceLibrary, disk32::kDriverClose);
    std::uint32_t systemError = disk32::kErrorFileNotFound;
    if (driverOpen != nullptr && driverControl != nullptr && driverClose != nullptr) {
        m_driver = driverOpen(disk32::kDriverName, &systemError);
    }
    if (m_driver == disk32::kInvalidDriverHandle) {
        ShowFailure(m_frontend, "Unable to open DISK.VXD");
        m_floppyCount = 0;
        ShowFailure(m_frontend, systemError == disk32::kErrorNotSupported
                                    ? "internal error 00007"
                                    : "Unable to open DISK.VXD");
        return 0;
    }
    // The reply of a failed request is undefined: no floppies then.
    std::uint32_t floppies = 0;
    if (driverControl(m_driver, disk32::kRequestFloppyCount, &floppies, sizeof floppies) == 0) {
        floppies = 0;
    }
    m_floppyCount = floppies;
    driverClose(m_driver);
    m_driver = disk32::kInvalidDriverHandle;
    return 1;
}

void DriveAccess::EnumerateDisks() {
    EnumerateFloppies();
    const auto firstHardDisk = static_cast<std::size_t>(m_floppyCount);
    for (std::uint16_t n = 0; n < kMaxHardDisks && firstHardDisk + n < kDiskTableEntries; ++n) {
        const auto drive = static_cast<std::uint16_t>(kFirstHardDisk + n);
        if (!ProbeHardDisk(drive)) {
            break;  // numbered without gaps: the first disk missing ends the list
        }
        FillDiskEntry(m_disks[firstHardDisk + n], drive);
        ++m_hardDiskCount;
    }
}

void DriveAccess::EnumerateFloppies() {
    // The table has ten entries in all; floppies come first.
    if (m_floppyCount > kDiskTableEntries) {
        m_floppyCount = kDiskTableEntries;
    }
    // A floppy named on the command line that cannot be opened ends the floppies.
    // Its slot stays closed until the floppy is first read.
    if (!m_biosServices) {
        for (std::uint32_t n = 0; n < m_floppyCount; ++n) {
            OpenError error;
            if (m_options.opener(m_options.sources.floppies[n], error) == nullptr) {
                m_openProblems.push_back(error);
                m_floppyCount = n;
                break;
            }
        }
    }
    for (std::uint32_t n = 0; n < m_floppyCount; ++n) {
        FillDiskEntry(m_disks[n], static_cast<std::uint16_t>(n));
    }
}

bool DriveAccess::ProbeHardDisk(std::uint16_t drive) {
    const std::size_t index = drive - kFirstHardDisk;
    const auto& paths = m_options.sources.hardDisks;
    if (!m_biosServices) {
        m_sources[drive].reset();
        if (index >= paths.size()) {
            return false;
        }
        OpenError error;
        m_sources[drive] = m_options.opener(paths[index], error);
        if (m_sources[drive] == nullptr) {
            m_openProblems.push_back(error);
            return false;
        }
        return true;
    }
    std::array<std::uint8_t, 512> scratch{};
    if (m_readDisk32(drive, 0, 0, 1, 1, scratch.data(), 0, 0) != 0) {
        return true;
    }
    if (index < paths.size()) {
        OpenError error{paths[index], "its first sector cannot be read through the BIOS services"};
        m_options.opener(paths[index], error);
        m_openProblems.push_back(error);
    }
    return false;
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
    entry.m_useExtensions = (!floppy && m_biosServices) ? m_checkExtensions(drive) : 0;
    entry.m_expanded = 0;
    entry.SetDisplayName(floppy ? DisplayNameFor("Floppy Disk %lu", drive + 1UL)
                                : DisplayNameFor("Hard Disk %lu", drive - 127UL));
}

int DriveAccess::Close() {
    if (m_driver != disk32::kInvalidDriverHandle) {
        if (auto close = LookUp<disk32::DriverCloseFn>(m_serviceLibrary, disk32::kDriverClose)) {
            close(m_driver);
        }
        m_driver = disk32::kInvalidDriverHandle;
    }
    DestroyDiskTable();
    m_addedDisks.clear();
    m_diskTableMemory.Release();
    for (auto& drive : m_sources) {
        drive.reset();
    }
    if (m_serviceLibrary != nullptr) {
        FreeSharedLibrary(m_serviceLibrary);
        m_serviceLibrary = nullptr;
    }
    m_readDisk32 = nullptr;
    m_checkExtensions = nullptr;
    m_biosServesSources = false;
    m_floppyCount = 0;
    m_hardDiskCount = 0;
    return 1;
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

DriveItem* DriveAccess::AddDisk(const std::string& path, bool floppy, OpenError& error) {
    error = OpenError{path, ""};
    if (m_disks == nullptr || m_biosServices) {
        error.reason =
            "disk images are read only when disks are read directly, not through the "
            "BIOS disk services";
        return nullptr;
    }
    if (const std::optional<std::string> same = SameDiskAs(path)) {
        error.reason = "it is the same disk as " + *same + ", which is open already";
        return nullptr;
    }
    auto& paths = floppy ? m_options.sources.floppies : m_options.sources.hardDisks;
    const std::size_t drive = (floppy ? 0 : kFirstHardDisk) + paths.size();
    if (drive >= (floppy ? kFirstHardDisk : m_sources.size())) {
        error.reason = "there is no drive number left for it";
        return nullptr;
    }
    auto source = m_options.opener(path, error);
    if (source == nullptr) {
        return nullptr;
    }
    const auto number = static_cast<std::uint16_t>(drive);
    m_sources[number] = std::move(source);
    paths.push_back(path);
    DriveItem& entry = m_addedDisks.emplace_back();
    FillDiskEntry(entry, number);
    return &entry;
}

bool DriveAccess::ReopenFloppy(std::uint16_t drive) {
    m_sources[drive].reset();
    const auto& floppies = m_options.sources.floppies;
    if (drive >= floppies.size()) {
        return false;
    }
    OpenError error;
    m_sources[drive] = m_options.opener(floppies[drive], error);
    return m_sources[drive] != nullptr;
}

std::size_t DriveAccess::ReadDevice(std::uint16_t drive, std::uint64_t offset,
                                    std::span<std::uint8_t> buffer) {
    if (drive >= m_sources.size() || m_sources[drive] == nullptr) {
        return 0;
    }
    return m_sources[drive]->ReadAt(offset, buffer);
}

std::optional<std::uint64_t> DriveAccess::DiskBytes(std::uint16_t drive) const {
    if (m_biosServices || drive >= m_sources.size() || m_sources[drive] == nullptr) {
        return std::nullopt;
    }
    return m_sources[drive]->Size();
}

}  // namespace moravel
