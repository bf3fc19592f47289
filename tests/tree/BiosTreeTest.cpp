#include <gmock/gmock.h>

#include "TreeFixture.h"
#include "support/ServiceLibrary.h"

// The drive tree read through the BIOS disk services: cylinder/head/sector
// requests must find the same partitions, folders and files as direct reads.
namespace moravel {
namespace {

using ::testing::ElementsAre;
using testing::FatVolumeBuilder;
using testing::PartitionSector;

class BiosTreeTest : public testing::TreeFixture {
protected:
    DriveTree& OpenBios(const std::string& image) {
        DriveAccessOptions options;
        options.platform = DiskPlatform::BiosServices;
        options.biosLibrary = DISK32_LIBRARY;
        options.sources.hardDisks = {image};
        m_access = std::make_unique<DriveTree>(m_frontend, options);
        EXPECT_TRUE(m_access->Open().empty());
        return *m_access;
    }

    // Every folder and file name below the item, depth first, with sizes.
    std::vector<std::string> Walk(DriveItem& item) {
        std::vector<std::string> lines;
        for (DriveItem* child : Expand(item)) {
            lines.push_back(std::string(child->DisplayName()) + " " +
                            std::to_string(child->m_fileSize));
            if (child->m_kind != ItemKind::Entry || child->IsDirectory()) {
                for (const auto& line : Walk(*child)) {
                    lines.push_back("  " + line);
                }
            }
        }
        return lines;
    }

    testing::ServiceLibrary m_library{DISK32_LIBRARY};
};

TEST_F(BiosTreeTest, TheTreeReadsTheSameThroughTheBiosServices) {
    // A FAT16 volume that starts at cylinder 2, head 0, sector 1 of a 255/63 disk.
    const std::uint32_t start = 2 * 255 * 63;
    testing::VolumeLayout layout;
    layout.fatBits = 16;
    layout.totalSectors = 300'000;
    layout.sectorsPerCluster = 4;
    layout.reservedSectors = 1;
    FatVolumeBuilder builder(layout);
    const auto folder = builder.AddDirectory(builder.Root(), "RECORDS    ");
    for (int i = 0; i < 30; ++i) {
        testing::FileLayout file;
        file.shortName = "R" + std::to_string(10 + i) + "     TS ";
        file.longName = "Recording " + std::to_string(i) + ".ts";
        file.size = 777u * static_cast<unsigned>(i);
        builder.AddFile(folder, file);
    }
    const auto image = NewImage("disk.img", (start + 300'000ull) * 512);
    image.WriteSector(0, PartitionSector({{0x06, start, 300'000, 0, 1, 2}}));
    builder.Write(image, start);

    Open({image.Path()});
    const auto direct = Walk(Disk(0));
    ASSERT_EQ(direct.size(), 1u + 3 + 1 + 30);

    OpenBios(image.Path());
    m_library.TakeRequests();
    EXPECT_EQ(Walk(Disk(0)), direct);
    bool chs = false;
    for (const auto& request : m_library.TakeRequests()) {
        EXPECT_NE(request.result, 0);
        chs = chs || (request.useExtensions == 0 && request.cylinder >= 2);
    }
    EXPECT_TRUE(chs);
    EXPECT_TRUE(m_errors.empty());
}

TEST_F(BiosTreeTest, UnreadableBootRecordsAreReported) {
    const auto image = NewImage("disk.img", 600ull << 20);
    image.WriteSector(0, PartitionSector({{0x05, 1'000'000}}));
    m_library.failSector(128, 1'000'000);
    OpenBios(image.Path());
    DriveItem& extended = *Expand(Disk(0)).at(0);
    EXPECT_TRUE(Expand(extended).empty());
    EXPECT_THAT(testing::Reasons(m_errors), ElementsAre("internal error 00013"));

    m_library.failSector(128, 0);
    OpenBios(image.Path());
    EXPECT_TRUE(Expand(Disk(0)).empty());
    EXPECT_EQ(testing::Reasons(m_errors).back(), "internal error 00010");
}

}  // namespace
}  // namespace moravel
