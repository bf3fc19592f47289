#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui/SourceOptions.h"

namespace moravel {
namespace {

using Args = std::vector<std::string>;

TEST(WindowCommandLineTest, DiskOptionsAndImagesKeepTheirOrder) {
    const WindowCommandLine line = ParseWindowCommandLine(
        {"--disk", "a.img", "--floppy=f.img", "x.img", "--disk=b.img", "y.img"});
    ASSERT_EQ(line.error, "");
    EXPECT_EQ(line.sources.sources.hardDisks, (Args{"a.img", "b.img"}));
    EXPECT_EQ(line.sources.sources.floppies, (Args{"f.img"}));
    EXPECT_EQ(line.images, (Args{"x.img", "y.img"}));
    EXPECT_FALSE(line.sources.sources.detect);
    EXPECT_EQ(line.sources.platform, DiskPlatform::Devices);
}

TEST(WindowCommandLineTest, WithoutDisksTheMachinesOwnAreLookedForEvenWithImages) {
    const WindowCommandLine line = ParseWindowCommandLine({"--bios-services", "rec.img"});
    ASSERT_EQ(line.error, "");
    EXPECT_TRUE(line.sources.sources.detect);
    EXPECT_EQ(line.sources.platform, DiskPlatform::BiosServices);
    EXPECT_EQ(line.images, (Args{"rec.img"}));
}

TEST(WindowCommandLineTest, DoubleDashMakesTheRestImagesAndHelpIsSeen) {
    const WindowCommandLine line = ParseWindowCommandLine({"--", "--disk", "-h"});
    ASSERT_EQ(line.error, "");
    EXPECT_EQ(line.images, (Args{"--disk", "-h"}));
    EXPECT_FALSE(line.help);
    EXPECT_TRUE(ParseWindowCommandLine({"-h"}).help);
    EXPECT_TRUE(ParseWindowCommandLine({"--version"}).version);
}

TEST(WindowCommandLineTest, UsageErrorsAreNamed) {
    EXPECT_THAT(ParseWindowCommandLine({"--disk"}).error, ::testing::HasSubstr("--disk"));
    EXPECT_THAT(ParseWindowCommandLine({"--json"}).error, ::testing::HasSubstr("--json"));
    EXPECT_EQ(ParseWindowCommandLine({"--codepage", "866"}).sources.codePage, 866u);
    EXPECT_EQ(ParseWindowCommandLine({""}).error, "an image path is empty");
}

TEST(FloppySizeTest, StandardFormatsAreFloppiesAndTheirNeighboursAreNot) {
    for (const std::uint64_t kib :
         std::initializer_list<std::uint64_t>{160, 180, 320, 360, 720, 1200, 1440, 1680, 2880}) {
        EXPECT_TRUE(HasFloppySize(kib * 1024)) << kib;
        EXPECT_FALSE(HasFloppySize(kib * 1024 + 512)) << kib;
    }
    EXPECT_FALSE(HasFloppySize(0));
    EXPECT_FALSE(HasFloppySize(5'000'000'000));
}

}  // namespace
}  // namespace moravel
