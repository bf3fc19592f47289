#include <array>
#include <utility>

#include "DiskReader.h"
#include "Sector.h"

namespace moravel {

namespace {

// The image files and devices named, each an open SectorSource in the slot of its
// drive number. A floppy's slot stays closed until it is first read.
class DeviceReader final : public DiskReader {
public:
    DeviceReader(const SourceOpener& opener, const DriveSources& named)
        : m_opener(opener), m_named(named) {}

    std::uint32_t FloppyCount() const override {
        // Every floppy named counts as a removable drive.
        return static_cast<std::uint32_t>(m_named.floppies.size());
    }

    Result<bool> Probe(std::uint16_t drive) override {
        if (drive < kFirstHardDisk) {
            if (const OpenedSource source = m_opener(m_named.floppies[drive]); !source) {
                return source.error();
            }
            return true;
        }
        const std::size_t index = drive - kFirstHardDisk;
        m_sources[drive].reset();
        if (index >= m_named.hardDisks.size()) {
            return false;
        }
        OpenedSource source = m_opener(m_named.hardDisks[index]);
        if (!source) {
            return source.error();
        }
        m_sources[drive] = std::move(*source);
        return true;
    }

    std::uint32_t UseExtensions(std::uint16_t /*drive*/) override { return 0; }

    void DropPathsNotRead(DriveSources& named, std::uint32_t floppies,
                          std::uint32_t hardDisks) const override {
        // A path that ended a list is not read, and the next disk added takes the
        // next number.
        named.floppies.resize(floppies);
        named.hardDisks.resize(hardDisks);
    }

    bool ReadsPathsNamed() const override { return true; }
    bool TakesAddedDisks() const override { return true; }

    Failure OpenAddedDisk(std::uint16_t drive, const std::string& path) override {
        OpenedSource source = m_opener(path);
        if (!source) {
            return Error{source.error().reason};
        }
        m_sources[drive] = std::move(*source);
        return std::nullopt;
    }

    bool ReopenFloppy(std::uint16_t drive) override {
        m_sources[drive].reset();
        if (drive >= m_named.floppies.size()) {
            return false;
        }
        OpenedSource source = m_opener(m_named.floppies[drive]);
        if (source) {
            m_sources[drive] = std::move(*source);
        }
        return m_sources[drive] != nullptr;
    }

    bool DiskAnswers(std::uint16_t drive) override {
        SectorSource* source = Source(drive);
        return source == nullptr || source->Answers();
    }

    std::string BypassCache(std::uint16_t drive) override {
        SectorSource* source = Source(drive);
        return source == nullptr ? "through the system's cache" : source->BypassCache();
    }

    SectorSource::ReaderAside ReadAside(std::uint16_t drive) const override {
        const SectorSource* source = Source(drive);
        return source == nullptr ? SectorSource::ReaderAside{} : source->ReadAside();
    }

    std::optional<std::uint64_t> DiskBytes(std::uint16_t drive) const override {
        const SectorSource* source = Source(drive);
        return source == nullptr ? std::nullopt : source->Size();
    }

    std::optional<Request> ReadRequest(SectorRun run, std::uint32_t done, ChsAddress& /*chs*/,
                                       std::span<std::uint8_t> into) override {
        const DriveItem& place = *run.place;
        const auto rest = into.subspan(static_cast<std::size_t>(SectorsToBytes(done)));
        const std::uint64_t offset =
            SectorsToBytes(std::uint64_t{place.m_partitionStart} + run.first + done);
        std::size_t got = Read(place.m_drive, offset, rest);
        if (got == 0 && place.m_drive < kFirstHardDisk) {
            // A floppy that gives nothing (or was never opened) is opened afresh.
            if (!ReopenFloppy(place.m_drive)) {
                return std::nullopt;
            }
            got = Read(place.m_drive, offset, rest);
        }
        return Request{run.count - done, static_cast<std::uint32_t>(got / kSectorSize)};
    }

    RawRead ReadRaw(const DriveItem& place, std::uint32_t count,
                    std::span<std::uint8_t> buffer) override {
        const auto bytes = static_cast<std::size_t>(SectorsToBytes(count));
        if (buffer.size() < bytes) {
            return RawRead::DeviceReadShort;
        }
        const std::size_t got =
            Read(place.m_drive, SectorsToBytes(place.m_partitionStart), buffer.first(bytes));
        return got == bytes ? RawRead::Ok : RawRead::DeviceReadShort;
    }

private:
    std::size_t Read(std::uint16_t drive, std::uint64_t offset, std::span<std::uint8_t> buffer) {
        SectorSource* source = Source(drive);
        return source == nullptr ? 0 : source->ReadAt(offset, buffer);
    }

    // The disk behind the drive number; null where none is open.
    SectorSource* Source(std::uint16_t drive) const {
        return drive < m_sources.size() ? m_sources[drive].get() : nullptr;
    }

    const SourceOpener& m_opener;
    const DriveSources& m_named;
    std::array<std::unique_ptr<SectorSource>, kDriveNumbers> m_sources;
};

}  // namespace

std::unique_ptr<DiskReader> MakeDeviceReader(const SourceOpener& opener,
                                             const DriveSources& named) {
    return std::make_unique<DeviceReader>(opener, named);
}

}  // namespace moravel
