#include <algorithm>
#include <array>

#include "Disk32Api.h"
#include "DiskReader.h"
#include "Sector.h"
#include "SharedLibrary.h"

namespace moravel {

namespace {

template <typename Fn>
Fn LookUp(void* library, const char* name) {
    // The look-up hands back an object pointer; the contract says it is this function.
    return reinterpret_cast<Fn>(SharedLibrarySymbol(library, name));
}

// The BIOS disk-service library, loaded for as long as the reader lives. It reads
// by drive number, a track at most in one request.
class BiosServiceReader final : public DiskReader {
public:
    BiosServiceReader(const SourceOpener& opener, const DriveSources& named)
        : m_opener(opener), m_named(named) {}
    ~BiosServiceReader() override {
        if (m_library != nullptr) {
            FreeSharedLibrary(m_library);
        }
    }
    BiosServiceReader(const BiosServiceReader&) = delete;
    BiosServiceReader& operator=(const BiosServiceReader&) = delete;

    // Loads the library and asks its driver for the floppies; what kept it from
    // serving, nothing when it serves.
    Errors Load(const std::string& path);

    std::uint32_t FloppyCount() const override { return m_floppyCount; }

    Result<bool> Probe(std::uint16_t drive) override {
        if (drive < kFirstHardDisk) {
            return true;  // the services open a floppy at each request
        }
        std::array<std::uint8_t, kSectorSize> scratch{};
        if (m_read(drive, 0, 0, 1, 1, scratch.data(), 0, 0) != 0) {
            return true;
        }
        const std::size_t index = drive - kFirstHardDisk;
        if (index < m_named.hardDisks.size()) {
            // The opener tells why the path cannot be opened, when that is why.
            const OpenedSource source = m_opener(m_named.hardDisks[index]);
            return source ? Error{"its first sector cannot be read through the BIOS services"}
                          : source.error();
        }
        return false;
    }

    std::uint32_t UseExtensions(std::uint16_t drive) override { return m_checkExtensions(drive); }

    void DropPathsNotRead(DriveSources& /*named*/, std::uint32_t /*floppies*/,
                          std::uint32_t /*hardDisks*/) const override {}

    bool ReadsPathsNamed() const override { return m_servesPathsNamed; }
    // The services know only their own disks.
    bool TakesAddedDisks() const override { return false; }
    Failure OpenAddedDisk(std::uint16_t /*drive*/, const std::string& /*path*/) override {
        return Error{"the BIOS disk services read only their own disks"};
    }

    bool ReopenFloppy(std::uint16_t /*drive*/) override { return true; }
    std::optional<std::uint64_t> DiskBytes(std::uint16_t /*drive*/) const override {
        return std::nullopt;  // the services do not tell it
    }

    std::optional<Request> ReadRequest(SectorRun run, std::uint32_t done, ChsAddress& chs,
                                       std::span<std::uint8_t> into) override;

    RawRead ReadRaw(const DriveItem& place, std::uint32_t count,
                    std::span<std::uint8_t> buffer) override {
        const auto bytes = static_cast<std::size_t>(SectorsToBytes(count));
        const bool read =
            buffer.size() >= bytes &&
            m_read(place.m_drive, place.m_startCylinder, place.m_startHead, place.m_startSector,
                   count, buffer.data(), place.m_partitionStart, place.m_useExtensions) != 0;
        return read ? RawRead::Ok : RawRead::BiosServiceFailed;
    }

private:
    const SourceOpener& m_opener;
    const DriveSources& m_named;
    void* m_library = nullptr;
    disk32::ReadDisk32Fn m_read = nullptr;
    disk32::CheckInt13Extension32Fn m_checkExtensions = nullptr;
    bool m_servesPathsNamed = false;
    std::uint32_t m_floppyCount = 0;
};

Errors BiosServiceReader::Load(const std::string& path) {
    m_library = LoadSharedLibrary(path);
    if (m_library == nullptr) {
        return {Error{"internal error 00003", Error::Weight::Stop}};
    }
    m_read = LookUp<disk32::ReadDisk32Fn>(m_library, disk32::kReadDisk32);
    if (m_read == nullptr) {
        return {Error{"internal error 00004", Error::Weight::Stop}};
    }
    m_checkExtensions =
        LookUp<disk32::CheckInt13Extension32Fn>(m_library, disk32::kCheckInt13Extension32);
    if (m_checkExtensions == nullptr) {
        return {Error{"internal error 00006", Error::Weight::Stop}};
    }

    if (auto useImages = LookUp<disk32::UseImagesFn>(m_library, disk32::kUseImages)) {
        std::vector<const char*> hard;
        std::vector<const char*> floppies;
        for (const auto& named : m_named.hardDisks) {
            hard.push_back(named.c_str());
        }
        for (const auto& named : m_named.floppies) {
            floppies.push_back(named.c_str());
        }
        useImages(hard.data(), static_cast<std::uint32_t>(hard.size()), floppies.data(),
                  static_cast<std::uint32_t>(floppies.size()));
        m_servesPathsNamed = true;
    }

    auto driverOpen = LookUp<disk32::DriverOpenFn>(m_library, disk32::kDriverOpen);
    auto driverControl = LookUp<disk32::DriverControlFn>(m_library, disk32::kDriverControl);
    auto driverClose = LookUp<disk32::DriverCloseFn>(m_library, disk32::kDriverClose);
    std::uint32_t systemError = disk32::kErrorFileNotFound;
    std::intptr_t driver = disk32::kInvalidDriverHandle;
    if (driverOpen != nullptr && driverControl != nullptr && driverClose != nullptr) {
        driver = driverOpen(disk32::kDriverName, &systemError);
    }
    if (driver == disk32::kInvalidDriverHandle) {
        return {Error{"Unable to open DISK.VXD", Error::Weight::Stop},
                Error{systemError == disk32::kErrorNotSupported ? "internal error 00007"
                                                                : "Unable to open DISK.VXD",
                      Error::Weight::Stop}};
    }
    // The reply of a failed request is undefined: no floppies then.
    std::uint32_t floppies = 0;
    if (driverControl(driver, disk32::kRequestFloppyCount, &floppies, sizeof floppies) == 0) {
        floppies = 0;
    }
    m_floppyCount = floppies;
    driverClose(driver);
    return {};
}

// The run's sectors from `done` to the end of their track, at most to the run's end:
// the services read a request whole or not at all.
std::optional<Request> BiosServiceReader::ReadRequest(SectorRun run, std::uint32_t done,
                                                      ChsAddress& chs,
                                                      std::span<std::uint8_t> into) {
    const DriveItem& place = *run.place;
    if (place.m_heads == 0 || place.m_sectorsPerTrack == 0) {
        return std::nullopt;  // without a geometry no request can be addressed
    }
    const std::uint32_t sector = run.first + done;
    // A sector beyond cylinder 1023 is asked for by LBA, when the disk offers it.
    const std::uint32_t byLba = ChsOf(place, sector, chs) ? 0 : 1;
    const std::uint32_t chunk = std::min<std::uint32_t>(
        place.m_sectorsPerTrack - (chs.m_sector & 0x3Fu) + 1, run.count - done);
    const auto bytes = into.subspan(static_cast<std::size_t>(SectorsToBytes(done)),
                                    static_cast<std::size_t>(SectorsToBytes(chunk)));
    const bool read =
        m_read(place.m_drive, chs.m_cylinder, chs.m_head, chs.m_sector, chunk, bytes.data(),
               place.m_partitionStart + sector, place.m_useExtensions & byLba) != 0;
    return Request{chunk, read ? chunk : 0};
}

}  // namespace

Result<std::unique_ptr<DiskReader>, Errors> LoadBiosServiceReader(const std::string& library,
                                                                  const SourceOpener& opener,
                                                                  const DriveSources& named) {
    auto reader = std::make_unique<BiosServiceReader>(opener, named);
    if (Errors errors = reader->Load(library); !errors.empty()) {
        return errors;
    }
    return std::unique_ptr<DiskReader>(std::move(reader));
}

}  // namespace moravel
