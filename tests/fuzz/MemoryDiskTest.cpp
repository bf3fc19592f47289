#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "MemoryDisk.h"

namespace moravel::fuzz {
namespace {

std::vector<std::uint8_t> Record(std::uint32_t sector, std::vector<std::uint8_t> bytes) {
    std::vector<std::uint8_t> record(4 + bytes.size());
    WriteLe32(record, 0, sector);
    std::copy(bytes.begin(), bytes.end(), record.begin() + 4);
    return record;
}

TEST(MemoryDiskTest, RecordsLaySectorsAndTheRestReadsAsZeros) {
    MemoryDisk disk(1 << 20);
    std::vector<std::uint8_t> input = Record(3, std::vector<std::uint8_t>(512, 0xAB));
    const auto last = Record(5, {1, 2, 3});  // the last record may be short
    input.insert(input.end(), last.begin(), last.end());
    PutRecords(disk, input);

    std::vector<std::uint8_t> bytes(4 * 512, 0xFF);
    ASSERT_EQ(disk.ReadAt(2 * 512, bytes), bytes.size());
    EXPECT_EQ(bytes[0], 0);
    EXPECT_EQ(bytes[511], 0);
    EXPECT_EQ(bytes[512], 0xAB);
    EXPECT_EQ(bytes[1023], 0xAB);
    EXPECT_EQ(bytes[1024], 0);
    EXPECT_EQ(bytes[1536], 1);
    EXPECT_EQ(bytes[1538], 3);
    EXPECT_EQ(bytes[1539], 0);
}

TEST(MemoryDiskTest, NothingIsReadBeyondItsSize) {
    MemoryDisk disk(4 * 512);
    PutRecords(disk, Record(9, {7}));  // beyond the disk: left out
    EXPECT_TRUE(disk.Sectors().empty());
    std::vector<std::uint8_t> bytes(1024);
    EXPECT_EQ(disk.ReadAt(3 * 512, bytes), 512u);
    EXPECT_EQ(disk.ReadAt(4 * 512, bytes), 0u);
}

TEST(MemoryDiskTest, RecordsOfADiskLayItAgain) {
    MemoryDisk disk(1 << 20);
    disk.Write(700, std::vector<std::uint8_t>(600, 0x11));  // across sectors 1 and 2
    disk.Put(8, std::vector<std::uint8_t>(512, 0));         // all zeros: no record
    const std::vector<std::uint8_t> records = RecordsOf(disk);
    EXPECT_EQ(records.size(), 2 * (4 + 512u));
    MemoryDisk again(1 << 20);
    PutRecords(again, records);
    std::vector<std::uint8_t> a(4096), b(4096);
    disk.ReadAt(0, a);
    again.ReadAt(0, b);
    EXPECT_EQ(a, b);
}

}  // namespace
}  // namespace moravel::fuzz
