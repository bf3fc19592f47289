#include "CopyFixture.h"

#include <algorithm>
#include <cstring>

namespace moravel::testing {

namespace {

class MemoryOutput final : public OutputFile {
public:
    MemoryOutput(MemoryTarget::File& file, std::uint64_t& total, std::uint64_t limit)
        : m_file(file), m_total(total), m_limit(limit) {}

    bool Write(std::span<const std::uint8_t> bytes, std::size_t& written) override {
        written = static_cast<std::size_t>(
            std::min<std::uint64_t>(bytes.size(), m_limit - std::min(m_limit, m_total)));
        const auto part = bytes.first(written);
        // All zero when the first byte is and every byte equals the next one.
        const bool zeros =
            part.empty() ||
            (part[0] == 0 && std::memcmp(part.data(), part.data() + 1, part.size() - 1) == 0);
        if (!zeros) {
            m_file.data[m_file.size] = Bytes(part.begin(), part.end());
        }
        m_file.size += written;
        m_total += written;
        ++m_file.writes;
        return written == bytes.size();
    }

private:
    MemoryTarget::File& m_file;
    std::uint64_t& m_total;
    std::uint64_t m_limit;
};

}  // namespace

std::optional<DestinationVolume> MemoryTarget::VolumeOf(const std::string&) {
    ++volumeQueries;
    return DestinationVolume{m_root, m_fileSystem};
}

std::unique_ptr<OutputFile> MemoryTarget::Create(const std::string& path) {
    if (refused.count(path) != 0) {
        return nullptr;
    }
    created.push_back(path);
    files[path] = File{};
    return std::make_unique<MemoryOutput>(files[path], m_written, failAfterBytes);
}

std::uint8_t EndsContent(std::uint32_t seed, std::uint64_t size, std::uint32_t clusterBytes,
                         std::uint64_t offset) {
    const std::uint64_t lastStart = (size - 1) / clusterBytes * clusterBytes;
    return offset < clusterBytes || offset >= lastStart ? ContentByte(seed, offset) : 0;
}

void ExpectContent(const MemoryTarget::File& file, std::uint64_t size,
                   const std::function<std::uint8_t(std::uint64_t)>& expected,
                   std::uint64_t firstOffset) {
    ASSERT_EQ(file.size, size);
    // Every stretch that was written holds what it should...
    std::uint64_t covered = 0;
    for (const auto& [offset, bytes] : file.data) {
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            ASSERT_EQ(bytes[i], expected(firstOffset + offset + i)) << "at " << offset + i;
        }
        covered += bytes.size();
    }
    // ...and nothing that should hold data was left out as zeros: sample the rest.
    const std::uint64_t step = std::max<std::uint64_t>(1, size / 4096);
    for (std::uint64_t at = 0; at < size; at += step) {
        const auto chunk = file.data.upper_bound(at);
        const bool stored = chunk != file.data.begin() &&
                            std::prev(chunk)->first + std::prev(chunk)->second.size() > at;
        if (!stored) {
            ASSERT_EQ(expected(firstOffset + at), 0) << "at " << at;
        }
    }
    EXPECT_LE(covered, size);
}

FatVolumeBuilder& CopyFixture::Volume(std::uint8_t sectorsPerCluster, std::uint32_t totalSectors) {
    VolumeLayout layout;
    layout.fatBits = 32;
    layout.totalSectors = totalSectors;
    layout.sectorsPerCluster = sectorsPerCluster;
    m_volume.emplace(layout);
    m_totalSectors = totalSectors;
    m_records = m_volume->AddDirectory(m_volume->Root(), "RECORDS    ");
    return *m_volume;
}

std::uint32_t CopyFixture::AddRecording(const std::string& shortName, std::uint64_t size,
                                        const std::string& longName, Content content) {
    if (!m_volume) {
        Volume();
    }
    FileSpec file;
    file.shortName = shortName;
    file.longName = longName;
    file.size = size;
    file.content = content;
    return m_volume->AddFile(m_records, file);
}

void CopyFixture::Start(CopyTarget& target) {
    const std::uint64_t sectors = kPartitionStart + std::uint64_t{m_totalSectors};
    m_image.emplace(m_dir.File("disk.img"), sectors * 512);
    m_image->WriteSector(
        0, PartitionSector(
               {{0x0C, kPartitionStart, static_cast<std::uint32_t>(sectors - kPartitionStart)}}));
    m_volume->Write(*m_image, kPartitionStart);
    Reopen(target);
}

void CopyFixture::Reopen(CopyTarget& target) {
    DriveAccessOptions options;
    options.sources.hardDisks = {m_image->Path()};
    options.opener = m_opener.Opener();
    // A window of its own each time, as a new run of the program would have.
    m_dialog.reset();
    m_frontend = HeadlessFrontend();
    m_dialog.emplace(m_frontend, options, &target);
    m_frontend.Attach(&*m_dialog);
    m_dialog->InitializeDialog();
    TreeItemHandle item = kTreeTop;
    for (const char* text : {"Hard Disk 1", "32-Bit FAT Disk", "Root Directory", "RECORDS .   "}) {
        item = m_frontend.FindTreeItem(item, text);
        ASSERT_NE(item, kTreeTop) << text;
        m_frontend.UserSelectTreeItem(item);
    }
}

void CopyFixture::SelectFile(const std::string& name) {
    ASSERT_TRUE(m_frontend.UserSelectListRow(name)) << name;
}

void CopyFixture::CopyTo(const std::string& path) {
    const auto slash = path.rfind('/');
    m_frontend.QueueSaveAnswer(SaveChoice{path, path.substr(slash + 1)});
    m_frontend.UserClickCopyFile();
}

}  // namespace moravel::testing
