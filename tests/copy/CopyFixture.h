#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <set>

#include "copy/CopyTarget.h"
#include "support/MemoryTarget.h"
#include "support/TempDir.h"
#include "support/TestSources.h"
#include "ui/MainDialog.h"
#include "ui/headless/HeadlessFrontend.h"

namespace moravel::testing {

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
