#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "copy/CopyTarget.h"
#include "support/TempDir.h"

namespace moravel::testing {

// Output files kept in memory: their sizes, and the stretches of them that hold
// anything but zeros, so that copies of sparse multi-gigabyte recordings can be
// checked byte for byte without storing them.
class MemoryTarget : public CopyTarget {
public:
    struct File {
        std::uint64_t size = 0;
        std::map<std::uint64_t, Bytes> data;  // by offset; all-zero writes left out
        int writes = 0;
        int syncs = 0;  // how often it was synced to its device
        int closes = 0;
        bool failClose = false;
        std::optional<std::time_t> modified;  // the time the file is to keep
    };

    explicit MemoryTarget(std::string fileSystem, std::string root = "/media/usb/")
        : m_fileSystem(std::move(fileSystem)), m_root(std::move(root)) {}

    std::optional<DestinationVolume> VolumeOf(const std::string& path) override;
    // The output is kept under its working name until Publish.
    Result<std::unique_ptr<OutputFile>> Create(const std::string& path) override;
    Failure Publish(const std::string& path, std::optional<std::time_t> modified) override;
    void Discard(const std::string& path) override { files.erase(WorkingPath(path)); }
    bool Exists(const std::string& path) override { return files.count(path) != 0; }
    // A rescue's output: written where it is asked, under the name it is given.
    Result<std::unique_ptr<PositionedFile>> OpenPositioned(const std::string& path) override;
    Result<std::uint64_t> SizeOf(const std::string& path) override;
    Result<std::string> ReadAll(const std::string& path) override;

    std::map<std::string, File> files;          // by the name they have now
    std::vector<std::string> created;           // the paths asked for, in order, each time
    std::set<std::string> refused;              // paths that cannot be created
    std::set<std::string> failClose;            // paths whose closing reports an error
    std::uint64_t failAfterBytes = UINT64_MAX;  // the disk fills up after this many bytes
    int volumeQueries = 0;
    std::string note;  // what VolumeOf says beside the file system

private:
    std::string m_fileSystem;
    std::string m_root;
    std::uint64_t m_written = 0;
};

// Byte o of a file the builder wrote with Content::Ends: its pattern in the first
// and the last cluster, zeros (holes) between.
std::uint8_t EndsContent(std::uint32_t seed, std::uint64_t size, std::uint32_t clusterBytes,
                         std::uint64_t offset);

// Checks a written file against what it should hold, byte for byte.
void ExpectContent(const MemoryTarget::File& file, std::uint64_t size,
                   const std::function<std::uint8_t(std::uint64_t)>& expected,
                   std::uint64_t firstOffset = 0);

}  // namespace moravel::testing
