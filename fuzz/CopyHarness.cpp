#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "FuzzHarness.h"
#include "FuzzSupport.h"
#include "copy/CopyJob.h"
#include "copy/PartNames.h"
#include "disk/Sector.h"
#include "tree/FatChain.h"

namespace moravel::fuzz {

namespace {

// No more files than this are copied for one input: each copy sets up buffers
// as large as a volume's FAT, and the harness's time is better spent on more
// inputs. The program has no such limit.
constexpr std::size_t kMostCopies = 32;

// What a file should read as: its chain (walked by the reference walk) over the
// memory disk, with every sector beyond the end of the disk filled with 0xE5.
class ExpectedFile {
public:
    ExpectedFile(const MemoryDisk& disk, const DriveItem& file, std::vector<std::uint32_t> chain)
        : m_disk(disk),
          m_file(file),
          m_chain(std::move(chain)),
          m_clusterBytes(SectorsToBytes(file.m_sectorsPerCluster)) {}

    // True when the chain holds every byte of the file.
    bool ChainCovers() const { return m_chain.size() * m_clusterBytes >= m_file.m_fileSize; }

    // Compares bytes the copy wrote at this offset of the file; false where they
    // differ or lie beyond the chain.
    bool Matches(std::uint64_t offset, ByteSpan bytes) {
        std::vector<std::uint8_t> want;
        while (!bytes.empty()) {
            const std::uint64_t index = offset / m_clusterBytes;
            if (index >= m_chain.size()) {
                return false;
            }
            const std::uint64_t within = offset % m_clusterBytes;
            // A piece within one sector: a sector lies wholly on the disk or beyond it.
            const std::size_t n = static_cast<std::size_t>(
                std::min<std::uint64_t>(bytes.size(), kSectorSize - within % kSectorSize));
            const std::uint64_t at =
                SectorsToBytes(std::uint64_t{m_file.m_partitionStart} + m_file.m_dataStart +
                               (std::uint64_t{m_chain[index]} - 2) * m_file.m_sectorsPerCluster) +
                within;
            want.assign(n, kUnreadableFill);
            if (m_disk.ReadAt(at, want) < n) {
                std::fill(want.begin(), want.end(), kUnreadableFill);
                m_filledSectors.insert(offset / kSectorSize);
            }
            if (!std::equal(want.begin(), want.end(), bytes.begin())) {
                return false;
            }
            bytes = bytes.subspan(n);
            offset += n;
        }
        return true;
    }
    std::uint64_t FilledSectors() const { return m_filledSectors.size(); }

private:
    const MemoryDisk& m_disk;
    const DriveItem& m_file;
    std::vector<std::uint32_t> m_chain;
    std::uint64_t m_clusterBytes;
    std::set<std::uint64_t> m_filledSectors;  // by their offset in the file / 512
};

struct CopySeen {
    std::vector<std::string> paths;
    std::vector<std::uint64_t> partBytes;
    std::uint64_t bytes = 0;
    bool mismatch = false;
    bool closedTwice = false;
};

class ComparingOutput final : public OutputFile {
public:
    ComparingOutput(CopySeen& seen, ExpectedFile* expected) : m_seen(seen), m_expected(expected) {}
    bool Write(std::span<const std::uint8_t> bytes, std::size_t& written) override {
        FUZZ_CHECK(!m_closed, "a write after closing");
        if (m_expected == nullptr || !m_expected->Matches(m_seen.bytes, bytes)) {
            m_seen.mismatch = true;
        }
        written = bytes.size();
        m_seen.bytes += bytes.size();
        m_seen.partBytes.back() += bytes.size();
        return true;
    }
    bool Flush() override { return true; }
    bool Close() override {
        m_seen.closedTwice = m_seen.closedTwice || m_closed;
        m_closed = true;
        return true;
    }

private:
    CopySeen& m_seen;
    ExpectedFile* m_expected;
    bool m_closed = false;
};

constexpr const char* kFolder = "/fuzz/";

// Where a front end puts the copy: the name the disk gives, made safe as a file
// name, in the chosen folder. The name comes from the disk: it must stay there.
std::string OfferedPath(const DriveItem& file) {
    const std::string name = SafeFileName(file.EntryName());
    FUZZ_CHECK(!name.empty() && name != "." && name != "..",
               "the suggested file name \"" + name + "\" leaves the folder");
    FUZZ_CHECK(name.find('/') == std::string::npos && name.find('\0') == std::string::npos,
               "the suggested file name \"" + name + "\" holds '/' or NUL");
    return kFolder + name;
}

// Stops the copy once it has written its budget.
class BudgetProgress final : public CopyProgress {
public:
    BudgetProgress(const CopySeen& seen, std::uint64_t budget) : m_seen(seen), m_budget(budget) {}
    bool StopRequested() override {
        stopped = stopped || m_seen.bytes >= m_budget;
        return stopped;
    }

    bool stopped = false;  // a stop was asked for

private:
    const CopySeen& m_seen;
    std::uint64_t m_budget;
};

// Destinations in the folder /fuzz/ on a volume of the given file system.
class ComparingTarget final : public CopyTarget {
public:
    ComparingTarget(std::string fileSystem, CopySeen& seen, ExpectedFile* expected)
        : m_fileSystem(std::move(fileSystem)), m_seen(seen), m_expected(expected) {}
    std::optional<DestinationVolume> VolumeOf(const std::string&) override {
        return DestinationVolume{kFolder, m_fileSystem};
    }
    Result<std::unique_ptr<OutputFile>> Create(const std::string& path) override {
        const std::string folder = kFolder;
        FUZZ_CHECK(path.compare(0, folder.size(), folder) == 0 &&
                       path.find('/', folder.size()) == std::string::npos,
                   "an output \"" + path + "\" outside the chosen folder");
        m_seen.paths.push_back(path);
        m_seen.partBytes.push_back(0);
        return std::make_unique<ComparingOutput>(m_seen, m_expected);
    }

private:
    std::string m_fileSystem;
    CopySeen& m_seen;
    ExpectedFile* m_expected;
};

// Copies one file and checks the outcome against what the disk holds. Returns
// the bytes written.
std::uint64_t CopyOnce(FuzzTree& fuzz, DriveItem& file, const std::string& fileSystem,
                       std::uint64_t budget) {
    const MemoryDisk& disk = *fuzz.disk;
    const auto fat = ReferenceFat(*fuzz.tree, disk, file);
    std::optional<ExpectedFile> expected;
    if (fat) {
        expected.emplace(
            disk, file,
            ReferenceChain(*fat, file.m_fatKind, file.m_firstCluster, LastClusterOf(file)));
    }
    CopySeen seen;
    ComparingTarget target(fileSystem, seen, expected ? &*expected : nullptr);
    CopyJob job(*fuzz.tree, target);
    BudgetProgress progress(seen, budget);
    const CopyReport report = job.Run(file, PlanCopy(file, OfferedPath(file), target), progress);
    const CopyOutcome outcome = report.outcome;
    FUZZ_CHECK(outcome == CopyOutcome::Copied || outcome == CopyOutcome::Incomplete ||
                   outcome == CopyOutcome::Failed,
               "a copy to " + fileSystem + " that did not run");
    FUZZ_CHECK(!seen.mismatch, "the copy wrote bytes that are not the file's on the disk");
    FUZZ_CHECK(!seen.closedTwice, "an output closed twice");
    FUZZ_CHECK(!seen.paths.empty(), "no output was created");

    // The names: the entry's name made safe, in parts for FAT32 from 4 GiB on.
    const NameParts name = SplitFileName(SafeFileName(file.EntryName()));
    const bool parts = NeedsParts(fileSystem, file.m_fileSize);
    FUZZ_CHECK(
        seen.paths.front() == kFolder + (parts ? PartName(name, 1) : name.base + name.extension),
        "the first output is named \"" + seen.paths.front() + "\"");
    for (const std::uint64_t bytes : seen.partBytes) {
        FUZZ_CHECK(!parts || bytes <= kPartLimit, "a part larger than FAT32 holds");
    }

    const bool success = outcome == CopyOutcome::Copied || outcome == CopyOutcome::Incomplete;
    if (progress.stopped) {
        FUZZ_CHECK(outcome == CopyOutcome::Failed, "a copy that was stopped reports success");
    } else if (!expected || !expected->ChainCovers()) {
        FUZZ_CHECK(outcome == CopyOutcome::Failed,
                   "a file whose chain ends before its size is reported copied");
    } else {
        FUZZ_CHECK(success, "a file that the disk holds whole was not copied");
    }
    if (success) {
        FUZZ_CHECK(seen.bytes == file.m_fileSize, "a copy reported whole holds " +
                                                      std::to_string(seen.bytes) + " bytes, not " +
                                                      std::to_string(file.m_fileSize));
        FUZZ_CHECK(report.filledSectors == expected->FilledSectors(),
                   "the copy reports " + std::to_string(report.filledSectors) +
                       " filled sectors, the disk has " +
                       std::to_string(expected->FilledSectors()) + " beyond its end");
        FUZZ_CHECK((outcome == CopyOutcome::Incomplete) == (report.filledSectors > 0),
                   "filled sectors and the outcome disagree");
    }
    return seen.bytes;
}

}  // namespace

int FuzzCopy(const std::uint8_t* data, std::size_t size) {
    auto disk = std::make_shared<MemoryDisk>(kFuzzDiskBytes);
    PutRecords(*disk, {data, size});
    FuzzTree fuzz(disk, true, true);
    TreeWalk walk(*fuzz.tree);
    std::vector<DriveItem*> files;
    for (DriveItem* item : fuzz.Disks()) {
        walk.Walk(*item, [&](DriveItem& found, const DriveItem*) {
            if (found.IsFile()) {
                files.push_back(&found);
            }
        });
    }
    std::uint64_t copied = 0;
    std::size_t copies = 0;
    for (DriveItem* file : files) {
        for (const char* fileSystem : {"NTFS", "FAT32"}) {
            // FAT32 only where it makes a difference: files that go in parts.
            if (copied >= kCopyBudget || copies == kMostCopies ||
                (std::string_view(fileSystem) == "FAT32" &&
                 !NeedsParts("FAT32", file->m_fileSize))) {
                continue;
            }
            copied += CopyOnce(fuzz, *file, fileSystem, kCopyBudget - copied);
            ++copies;
        }
    }
    return 0;
}

}  // namespace moravel::fuzz
