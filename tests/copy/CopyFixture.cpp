#include "CopyFixture.h"

namespace moravel::testing {

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
    FileLayout file;
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
    for (const char* text : {"Hard Disk 1", "32-Bit FAT Disk", "Root Directory", "RECORDS"}) {
        item = m_frontend.FindTreeItem(item, text);
        ASSERT_NE(item, kTreeTop) << text;
        m_frontend.UserSelectTreeItem(item);
    }
}

void CopyFixture::SelectFile(const std::string& name) {
    ASSERT_TRUE(m_frontend.UserSelectListRow(name)) << name;
}

void CopyFixture::CopyTo(const std::string& path) {
    // The Save dialog gives the name after the folder's last separator ('\\' on
    // Windows as well as '/').
    const auto separator = path.find_last_of("/\\");
    m_frontend.QueueSaveAnswer(SaveChoice{path, path.substr(separator + 1)});
    m_frontend.UserClickCopyFile();
}

}  // namespace moravel::testing
