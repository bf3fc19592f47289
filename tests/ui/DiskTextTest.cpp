// A disk's node in the tree, from what the system tells of it.

#include <gtest/gtest.h>

#include "ui/DiskText.h"

namespace moravel {
namespace {

TEST(DiskTextTest, ADiskIsToldApartByItsModelOrImageFileAndItsSize) {
    DiskDetails drive;
    drive.device = "/dev/sdb";
    drive.model = "WDC WD2500";
    drive.bus = "USB";
    drive.blockDevice = true;
    EXPECT_EQ(DiskNodeText("Hard Disk 2", drive, 250'059'350'016),
              "Hard Disk 2 \u2014 WDC WD2500, 232.9 GB");

    DiskDetails image;
    image.device = "/home/me/disks/recorder 2.img";
    EXPECT_EQ(DiskNodeText("Hard Disk 1", image, 40 << 20),
              "Hard Disk 1 \u2014 recorder 2.img, 40.0 MB");
    image.device = "C:\\disks\\recorder.img";
    EXPECT_EQ(DiskNodeText("Hard Disk 1", image, std::nullopt), "Hard Disk 1 \u2014 recorder.img");

    // A device that names no model (a loop device; Windows' disks): its size;
    // nothing at all known (the BIOS services): the name alone.
    DiskDetails loop;
    loop.device = "/dev/loop0";
    loop.bus = "loop";
    loop.blockDevice = true;
    EXPECT_EQ(DiskNodeText("Hard Disk 1", loop, 1 << 20), "Hard Disk 1 \u2014 1.0 MB");
    EXPECT_EQ(DiskNodeText("Floppy Disk 1", {}, std::nullopt), "Floppy Disk 1");
}

}  // namespace
}  // namespace moravel
