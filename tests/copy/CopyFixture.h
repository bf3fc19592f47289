#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <set>

#include "copy/CopyTarget.h"
#include "support/FatVolumeBuilder.h"
#include "support/ImageBuilder.h"
#include "support/TestSources.h"
#include "ui/MainDialog.h"
#include "ui/headless/HeadlessFrontend.h"

namespace moravel::testing {

// Output files kept in memory: their sizes, and the stretches of them that hold
// anything but zeros, so that copies of sparse multi-gigabyte recordings can be
// checked byte for byte without storing them.
class MemoryTarget : public CopyTarget {
public:
    struct File {
        std::uint64_t size = 0;
        std::map<std::uint64_t, Bytes> data;  // by offset; all-zero writes left out
        int writes = 0;
    };

    explicit MemoryTarget(std::string fileSystem, std::string root = "/media/usb/")
        : m_fileSystem(std::move(fileSystem)), m_root(std::move(root)) {}

    std::optional<DestinationVolume> VolumeOf(const std::string& path) override;
    std::unique_ptr<OutputFile> Create(const std::string& path) override;

    std::map<std::string, File> files;
    std::vector<std::string> created;           // in order, each time
    std::set<std::string> refused;              // paths that cannot be created
    std::uint64_t failAfterBytes = UINT64_MAX;  // the disk fills up after this many bytes
    int volumeQueries = 0;

private:
    std::string m_fileSystem;
    std::string m_root;
    std::uint64_t m_written = 0;
};

// Byte o of a file the builder wrote with Content::Ends: its pattern in the first
// and the last cluster, zeros (holes) between.
std::uint8_t EndsContent(std::uint32_t seed, std::uint64_t size, std::uint32_t clusterBytes,
                         std::uint64_t offset);

// Checks a written file against what it should hold, byte for byte.
void ExpectContent(const MemoryTarget::File& file, std::uint64_t size,
                   const std::function<std::uint8_t(std::uint64_t)>& expected,
                   std::uint64_t firstOffset = 0);

inline constexpr std::uint32_t kPartitionStart = 2048;

// A recorder disk with one FAT32 volume (32 KiB clusters unless said otherwise)
// and the main window over it, on the headless front end.
class CopyFixture : public ::testing::Test {
protected:
    void TearDown() override { FailNthAllocation(0); }

    FatVolumeBuilder& Volume(std::uint8_t sectorsPerCluster = 64,
                             std::uint32_t totalSectors = 60'000'000);
    // Adds a file to RECORDS; returns its seed.
    std::uint32_t AddRecording(const std::string& shortName, std::uint64_t size,
                               const std::string& longName = "", Content content = Content::Ends);
    // Writes the image, starts the window and selects RECORDS.
    void Start(CopyTarget& target);
    // Opens the disk image again as it is now, in a new window.
    void Reopen(CopyTarget& target);
    void SelectFile(const std::string& name);
    // Clicks Copy File and answers the Save dialog with this path.
    void CopyTo(const std::string& path);

    std::uint32_t ClusterBytes() const { return m_volume->ClusterBytes(); }

    TempDir m_dir;
    TestOpener m_opener;
    HeadlessFrontend m_frontend;
    std::optional<ImageFile> m_image;
    std::optional<FatVolumeBuilder> m_volume;
    FatVolumeBuilder::Directory m_records = 0;
    std::uint32_t m_totalSectors = 0;
    std::optional<MainDialog> m_dialog;
};

}  // namespace moravel::testing
