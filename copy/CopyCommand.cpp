#include "CopyCommand.h"

#include <algorithm>

#include "disk/Sector.h"
#include "tree/FatChain.h"

namespace moravel {

namespace {

constexpr char kSelectFile[] = "Please select the file to be copied";
constexpr char kCannotCreate[] =
    "The file could not be created. Make shure that the filename and path is accessible.";
constexpr char kWriteFailed[] =
    "Error: Failed to complete writing to the file. Your harddrive may be full.\n"
    "Note that the fragment of the file that was succesfully copied may still be used.";
constexpr char kChainTooShort[] =
    "Error: The file's cluster chain on the recorder's disk ends before the end of the file.\n"
    "Note that the fragment of the file that was succesfully copied may still be used.";

std::string Fatal(const char* function) {
    return std::string("Fatal Error: Funtion m_driveAccess.") + function + "() caused an exeption.";
}

std::string Formatted(const char* pattern, const std::string& a, const std::string& b = "") {
    std::string text = pattern;
    for (const std::string* value : {&a, &b}) {
        const auto at = text.find("%s");
        if (at == std::string::npos) {
            break;
        }
        text.replace(at, 2, *value);
    }
    return text;
}

}  // namespace

CopyCommand::CopyCommand(CopyFrontend& frontend, DriveTree& drives, CopyTarget& target,
                         CopyControls controls)
    : m_frontend(frontend), m_drives(drives), m_target(target), m_controls(controls) {}

void CopyCommand::ShowError(const std::string& text, MessageButtons buttons, MessageIcon icon) {
    m_frontend.ShowMessage(text, ApplicationTitle(), buttons, icon);
}

void CopyCommand::EnableSelection() {
    m_frontend.EnableControl(m_controls.tree, true);
    m_frontend.EnableControl(m_controls.fileList, true);
}

void CopyCommand::Run() {
    const int row = m_frontend.SelectedListRow();
    DriveItem* source = row < 0 ? nullptr : m_frontend.ListRowData(row);
    if (source == nullptr) {
        ShowError(kSelectFile);
        return;
    }
    if (!ChooseDestination(*source)) {
        return;
    }
    m_frontend.EnableControl(m_controls.tree, false);
    m_frontend.EnableControl(m_controls.fileList, false);
    if (!CreateFirstOutput()) {
        ShowError(kCannotCreate, MessageButtons::Ok, MessageIcon::Hand);
        EnableSelection();
        return;
    }
    CopyClusters(*source);
}

// Asks for the destination and checks its drive; false when the command ends here.
bool CopyCommand::ChooseDestination(const DriveItem& source) {
    const auto choice = m_frontend.AskSaveFileName(std::string(source.EntryName()));
    if (!choice) {
        return false;
    }
    // A volume that cannot be found is taken as one that takes any file.
    const DestinationVolume volume =
        m_target.VolumeOf(choice->path).value_or(DestinationVolume{FolderOf(choice->path), ""});
    if (IsRefusedFileSystem(volume.fileSystem)) {
        m_frontend.ShowMessage(
            Formatted("The destination drive %s uses the %s file system.\nOnly FAT32 and NTFS "
                      "file stystems are supported.",
                      volume.rootPath, volume.fileSystem),
            "", MessageButtons::Ok, MessageIcon::Hand);
        return false;
    }
    m_split = NeedsParts(volume.fileSystem, source.m_fileSize);
    if (m_split) {
        const std::string notice = Formatted(
            "The destination drive %s uses the FAT32 file system. This limits the maximum file "
            "size to 4GB.\nThe file will be copied in multiple parts.",
            volume.rootPath);
        if (m_frontend.ShowMessage(notice, ApplicationTitle(), MessageButtons::OkCancel,
                                   MessageIcon::Exclamation) == MessageAnswer::Cancel) {
            return false;
        }
    }
    m_folder = FolderOf(choice->path);
    m_name = SplitFileName(choice->fileName);
    return true;
}

bool CopyCommand::CreateFirstOutput() {
    m_part = 1;
    const std::string name = m_split ? PartName(m_name, m_part) : m_name.base + m_name.extension;
    m_output = m_target.Create(m_folder + name);
    return m_output != nullptr;
}

bool CopyCommand::StartNextPart() {
    m_output.reset();
    ++m_part;
    m_partStart = m_bytesDone;
    m_output = m_target.Create(m_folder + PartName(m_name, m_part));
    return m_output != nullptr;
}

void CopyCommand::CopyClusters(const DriveItem& source) {
    DriveItem work = source;
    const std::uint64_t fatBytes = SectorsToBytes(work.m_sectorsPerFat);
    const std::uint64_t clusterRoom =
        SectorsToBytes(std::uint64_t{work.m_sectorsPerCluster} * 1024);
    MemoryBlock buffer =
        MemoryBlock::Allocate(static_cast<std::size_t>(std::max(fatBytes, clusterRoom)));
    if (!buffer) {
        ShowError("internal error 00025");
        m_output.reset();
        EnableSelection();
        return;
    }
    if (m_drives.LoadFat(work, buffer.Bytes()) == 0) {
        ShowError("internal error 00026");
        m_output.reset();
        EnableSelection();
        return;
    }
    const FatImage fat{buffer.Bytes().first(static_cast<std::size_t>(fatBytes)),
                       LastClusterOf(work)};
    std::uint32_t count = 0;
    try {
        count = m_drives.CountFatEntries(work.m_firstCluster, work.m_fatKind, fat);
    } catch (...) {
        m_output.reset();
        ShowError(Fatal("CountFatEntries"));
        EnableSelection();
        return;
    }
    MemoryBlock chainBlock = MemoryBlock::Allocate(std::size_t{count} * sizeof(std::uint32_t));
    if (!chainBlock) {
        ShowError("internal error 00027");
        m_output.reset();
        EnableSelection();
        return;
    }
    auto* chain = reinterpret_cast<std::uint32_t*>(chainBlock.Data());
    try {
        m_drives.StoreFatEntries(work.m_firstCluster, work.m_fatKind, chain, count, fat);
    } catch (...) {
        m_output.reset();
        ShowError(Fatal("StoreFatEntries"));
        EnableSelection();
        return;
    }

    m_frontend.SetStatusText(kCopyingText);
    m_frontend.ShowControl(m_controls.status, true);
    m_frontend.SetProgressPosition(0);
    m_frontend.ShowControl(m_controls.progress, true);
    if (CopyLoop(work, chain, count, buffer.Bytes()) == Outcome::Copied) {
        if (!m_output->Flush()) {
            Fail(kWriteFailed);
            return;
        }
        EndLoop(kCopySucceededText);
    }
}

// Closes the output and shows the outcome; the bar ends hidden at 0.
void CopyCommand::EndLoop(const char* status) {
    m_output.reset();
    m_frontend.SetStatusText(status);
    m_frontend.ShowControl(m_controls.progress, false);
    m_frontend.SetProgressPosition(0);
    EnableSelection();
}

// Reads `clusters` clusters that lie one after another on the disk, starting at
// `cluster`, into the start of the buffer.
void CopyCommand::ReadRun(DriveItem& work, std::uint32_t cluster, std::uint32_t clusters,
                          std::span<std::uint8_t> buffer) {
    work.m_relativeSector = work.m_dataStart + (cluster - 2) * work.m_sectorsPerCluster;
    work.m_sectorCount = clusters * work.m_sectorsPerCluster;
    const auto bytes = static_cast<std::size_t>(SectorsToBytes(work.m_sectorCount));
    if (m_drives.ReadSectors(work, nullptr, buffer.first(bytes)) == 0 && work.m_sectorCount == 1) {
        // A longer run's unreadable sectors come back filled; a one-sector
        // cluster must not keep whatever the buffer held before.
        std::fill_n(buffer.begin(), bytes, kUnreadableFill);
    }
}

// The bytes of cluster `index` of the chain. Clusters that follow one another on
// the disk are read ahead together, up to 256 KiB at a time: a read per cluster
// would cost more than the copying. A read of several clusters that fails
// outright is tried again for this cluster alone, so that every cluster before a
// broken one is still copied.
std::span<const std::uint8_t> CopyCommand::Cluster(DriveItem& work, const std::uint32_t* chain,
                                                   std::uint32_t index, std::uint32_t needed,
                                                   std::span<std::uint8_t> buffer) {
    const auto clusterBytes = static_cast<std::size_t>(SectorsToBytes(work.m_sectorsPerCluster));
    if (!InWindow(index)) {
        const auto most = static_cast<std::uint32_t>(
            std::clamp<std::size_t>(kReadAhead / clusterBytes, 1, buffer.size() / clusterBytes));
        std::uint32_t run = 1;
        while (run < most && index + run < needed && chain[index + run] == chain[index] + run) {
            ++run;
        }
        m_windowFirst = index;
        m_windowClusters = 0;
        try {
            ReadRun(work, chain[index], run, buffer);
        } catch (...) {
            run = 1;
            ReadRun(work, chain[index], run, buffer);
        }
        m_windowClusters = run;
    }
    return buffer.subspan((index - m_windowFirst) * clusterBytes, clusterBytes);
}

// A copy that cannot go on: the output is closed first, so that everything
// written so far is on the disk when the message shows.
CopyCommand::Outcome CopyCommand::Fail(const std::string& text, MessageIcon icon) {
    m_output.reset();
    ShowError(text, MessageButtons::Ok, icon);
    EndLoop(kCopyFailedText);
    return Outcome::Failed;
}

CopyCommand::Outcome CopyCommand::CopyLoop(DriveItem& work, const std::uint32_t* chain,
                                           std::uint32_t count, std::span<std::uint8_t> buffer) {
    const std::uint64_t size = work.m_fileSize;
    const std::uint64_t clusterBytes =
        std::uint64_t{work.m_bytesPerSector} * work.m_sectorsPerCluster;
    const auto wholeClusters =
        static_cast<std::uint32_t>(clusterBytes == 0 ? 0 : size / clusterBytes);
    // The clusters the size takes: one more than the whole ones for a partial last one.
    const std::uint32_t needed =
        wholeClusters + (clusterBytes != 0 && size % clusterBytes != 0 ? 1 : 0);
    m_bytesDone = 0;
    m_partStart = 0;
    m_windowFirst = 0;
    m_windowClusters = 0;
    for (std::uint32_t index = 0; index <= wholeClusters; ++index) {
        std::uint64_t n = clusterBytes;
        if (m_bytesDone + n > size) {
            n = size - m_bytesDone;
            if (n == 0) {
                break;
            }
        }
        if (m_split && m_bytesDone + n - m_partStart > kPartLimit) {
            if (!m_output->Flush()) {
                return Fail(kWriteFailed);
            }
            if (!StartNextPart()) {
                return Fail(kCannotCreate, MessageIcon::Hand);
            }
        }
        if (index >= count) {
            return Fail(kChainTooShort);
        }
        // The output may still hold the buffer's bytes: hand them on before
        // the buffer is read into again.
        if (!InWindow(index) && !m_output->Flush()) {
            return Fail(kWriteFailed);
        }
        std::span<const std::uint8_t> cluster;
        try {
            cluster = Cluster(work, chain, index, std::min(count, needed), buffer);
        } catch (...) {
            return Fail(Fatal("ReadSectors"));
        }
        std::size_t written = 0;
        const bool complete = m_output->Write(cluster.first(static_cast<std::size_t>(n)), written);
        m_bytesDone += written;
        if (!complete) {
            return Fail(kWriteFailed);
        }
        const double position = wholeClusters == 0 ? 0.0 : (index + 1.0) * 100.0 / wholeClusters;
        m_frontend.SetProgressPosition(static_cast<int>(std::min(position, 1e9)));
        m_frontend.PumpMessages();
        if (m_stopRequested) {
            EndLoop(kCopyFailedText);
            return Outcome::Failed;
        }
    }
    return Outcome::Copied;
}

}  // namespace moravel
