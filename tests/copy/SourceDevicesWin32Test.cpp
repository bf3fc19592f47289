#include <gmock/gmock.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <string>

#include "copy/CopyTarget.h"
#include "copy/SourceDevices.h"
#include "support/TempDir.h"

// Keeping the copy off the disks being read, on Windows: drives named by number or
// letter, the volume a destination lies on, and an output that is an image being read
// under another spelling of its path.
namespace moravel {
namespace {

using ::testing::ElementsAre;
using ::testing::Optional;
using testing::TempDir;

TEST(WindowsSourceDevicesTest, PhysicalDrivesAndDriveLettersAreToldFromFiles) {
    EXPECT_THAT(PhysicalDriveNumber("\\\\.\\PhysicalDrive0"), Optional(0u));
    EXPECT_THAT(PhysicalDriveNumber("\\\\.\\physicaldrive12"), Optional(12u));
    EXPECT_EQ(PhysicalDriveNumber("\\\\.\\PhysicalDrive"), std::nullopt);
    EXPECT_EQ(PhysicalDriveNumber("\\\\.\\PhysicalDrive1x"), std::nullopt);
    EXPECT_EQ(PhysicalDriveNumber("\\\\.\\PhysicalDrive12345"), std::nullopt);
    EXPECT_EQ(PhysicalDriveNumber("C:\\PhysicalDrive1"), std::nullopt);
    EXPECT_THAT(DriveLetterDevice("\\\\.\\a:"), Optional('A'));
    EXPECT_EQ(DriveLetterDevice("\\\\.\\A:\\"), std::nullopt);
    EXPECT_EQ(DriveLetterDevice("A:"), std::nullopt);

    const SourceDisks sources =
        IdentifySourceDisks({"\\\\.\\PhysicalDrive3", "\\\\.\\physicaldrive1", "\\\\.\\b:"});
    EXPECT_THAT(sources.devices, ElementsAre(3u, 1u));
    EXPECT_THAT(sources.driveLetters, ElementsAre('B'));
    EXPECT_TRUE(sources.images.empty());
}

TEST(WindowsSourceDevicesTest, AFileOnADriveReadByItsLetterIsRefused) {
    const TempDir dir;
    const std::string output = dir.File("out.ts");
    const char letter = static_cast<char>(std::toupper(output.at(0)));
    ASSERT_EQ(output.substr(1, 2), ":\\") << output;
    const std::string device = std::string("\\\\.\\") + letter + ":";

    EXPECT_THAT(SourceRefusal(output, IdentifySourceDisks({device})),
                Optional("it is on a disk being read (" + device + ")"));
    const char other = letter == 'Q' ? 'R' : 'Q';
    EXPECT_EQ(SourceRefusal(output, IdentifySourceDisks({std::string("\\\\.\\") + other + ":"})),
              std::nullopt);
}

TEST(WindowsSourceDevicesTest, AnImageBeingReadIsNotOverwrittenUnderAnotherSpelling) {
    const TempDir dir;
    const std::string image = dir.File("disk.img");
    std::ofstream(image, std::ios::binary) << "recorder disk";
    // The same file with '/' for '\' and the name in other case.
    std::string spelled = image;
    std::replace(spelled.begin(), spelled.end(), '\\', '/');
    spelled.replace(spelled.size() - 8, 8, "DISK.IMG");

    FileSystemTarget files;
    SourceGuard guard(files, {image});
    const auto refused = guard.Create(spelled);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().reason, "it is a disk being read");
    std::string kept;
    std::getline(std::ifstream(image, std::ios::binary), kept);
    EXPECT_EQ(kept, "recorder disk");

    const auto created = guard.Create(dir.File("copy.ts"));
    EXPECT_TRUE(created) << (created ? "" : created.error().reason);
}

}  // namespace
}  // namespace moravel
