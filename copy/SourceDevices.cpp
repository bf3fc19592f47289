#include "SourceDevices.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <charconv>
#include <fstream>
#include <set>
#include <system_error>

#include "DestinationVolume.h"

namespace moravel {

namespace {

namespace fs = std::filesystem;

// Device stacks are a few layers deep (a partition of a loop device under dm-crypt under
// LVM is four); a deeper or wider one, or a loop, ends the walk there.
constexpr int kMaxDepth = 16;
constexpr std::size_t kMaxDevices = 256;
// As the kernel does, a path that is still a symbolic link after this many is given up.
constexpr int kMaxLinks = 40;

bool IsSourceDevice(const SourceDisks& sources, dev_t device) {
    return std::find(sources.devices.begin(), sources.devices.end(), device) !=
           sources.devices.end();
}

bool IsSourceImage(const SourceDisks& sources, const struct stat& file) {
    return S_ISREG(file.st_mode) &&
           std::any_of(sources.images.begin(), sources.images.end(), [&](const FileIdentity& id) {
               return id.device == file.st_dev && id.inode == file.st_ino;
           });
}

// The first line of a small sysfs file, without its newline.
std::optional<std::string> ReadLine(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    if (!in || !std::getline(in, line)) {
        return std::nullopt;
    }
    return line;
}

// "8:17" as sysfs writes a device number into a device's "dev" file.
std::optional<dev_t> ParseDeviceNumber(std::string_view text) {
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos) {
        return std::nullopt;
    }
    unsigned int major = 0;
    unsigned int minor = 0;
    const auto parse = [](std::string_view digits, unsigned int& value) {
        const char* end = digits.data() + digits.size();
        const auto [stop, error] = std::from_chars(digits.data(), end, value);
        return !digits.empty() && error == std::errc() && stop == end;
    };
    if (!parse(text.substr(0, colon), major) || !parse(text.substr(colon + 1), minor)) {
        return std::nullopt;
    }
    return makedev(major, minor);
}

std::optional<dev_t> ReadDeviceNumber(const fs::path& deviceFolder) {
    const std::optional<std::string> line = ReadLine(deviceFolder / "dev");
    return line ? ParseDeviceNumber(*line) : std::nullopt;
}

std::string DeviceNumberText(dev_t device) {
    return std::to_string(major(device)) + ":" + std::to_string(minor(device));
}

// The folder of a block device in sysfs; empty when there is none.
fs::path DeviceFolder(const fs::path& sysRoot, dev_t device) {
    std::error_code error;
    fs::path folder = fs::canonical(sysRoot / "dev" / "block" / DeviceNumberText(device), error);
    if (error || !fs::is_directory(folder, error)) {
        return {};
    }
    return folder;
}

// The name of a block device as /dev names it, which is its name in sysfs.
std::string DeviceName(const fs::path& sysRoot, dev_t device) {
    const fs::path folder = DeviceFolder(sysRoot, device);
    if (folder.empty()) {
        return "device " + DeviceNumberText(device);
    }
    return "/dev/" + folder.filename().string();
}

// A device met on the walk, and how the device the walk started from stands on it.
struct Layer {
    fs::path folder;  // in sysfs; empty when it has none
    std::optional<dev_t> device;
    int depth = 0;
    SourceOverlap how = SourceOverlap::Disk;
};

SourceOverlap Farther(SourceOverlap a, SourceOverlap b) {
    return std::max(a, b);
}

std::string RefusalText(SourceOverlap how, const std::string& device) {
    switch (how) {
        case SourceOverlap::Disk:
            return "it is on a disk being read (" + device + ")";
        case SourceOverlap::Partition:
            return "it is on a partition of a disk being read (" + device + ")";
        case SourceOverlap::Layered:
            return "it is on a device that lies on a disk being read (" + device + ")";
        case SourceOverlap::Loop:
            return "it is on a file system whose loop device reads a disk being read (" + device +
                   ")";
        case SourceOverlap::Image:
            break;
    }
    return "it is on a file system that is read from a disk being read (" + device + ")";
}

// Where a file created at a path is written: the path with no symbolic link in it, and the
// device of its file system. An existing file is written where it is; a new one in its
// folder; a symbolic link, also one that leads nowhere yet, where it leads.
struct WritePlace {
    std::string path;
    dev_t device = 0;
};

std::optional<WritePlace> WhereWritten(const std::string& path) {
    std::string current = path;
    for (int links = 0;; ++links) {
        std::error_code error;
        const fs::file_status status = fs::symlink_status(current, error);
        if (error || !fs::is_symlink(status)) {
            break;
        }
        if (links == kMaxLinks) {
            return std::nullopt;
        }
        const fs::path target = fs::read_symlink(current, error);
        if (error) {
            return std::nullopt;
        }
        current =
            target.is_absolute() ? target.string() : ParentOf(current) + "/" + target.string();
    }
    std::error_code error;
    const bool exists = fs::exists(current, error);
    const fs::path resolved = fs::canonical(exists ? current : ParentOf(current), error);
    struct stat status {};
    if (error || ::stat(resolved.c_str(), &status) != 0) {
        return std::nullopt;
    }
    return WritePlace{resolved.string(), status.st_dev};
}

}  // namespace

std::optional<ExaminedFile> ExamineFile(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        return std::nullopt;
    }
    return ExaminedFile{{status.st_dev, status.st_ino}, S_ISBLK(status.st_mode)};
}

namespace {

// Collects the disks being read and the files behind them, each once, bounded in depth.
class SourceFollower {
public:
    SourceFollower(SourceDisks& sources, const BlockDeviceTables& tables)
        : m_sources(sources), m_tables(tables) {}

    void Add(const std::string& path, int depth) {
        struct stat status {};
        if (depth > kMaxDepth || ::stat(path.c_str(), &status) != 0) {
            return;
        }
        if (S_ISBLK(status.st_mode)) {
            AddDevice(status.st_rdev, depth);
        } else if (S_ISREG(status.st_mode)) {
            AddImage(path, status, depth);
        }
    }

private:
    bool Full() const { return m_sources.devices.size() + m_sources.images.size() >= kMaxDevices; }

    void AddDevice(dev_t device, int depth) {
        if (Full() || IsSourceDevice(m_sources, device)) {
            return;
        }
        m_sources.devices.push_back(device);
        const fs::path folder = DeviceFolder(m_tables.sysRoot, device);
        if (folder.empty()) {
            return;
        }
        // A partition of a loop device lies in the loop's backing file.
        std::error_code error;
        std::vector<fs::path> readers{folder};
        if (fs::exists(folder / "partition", error)) {
            readers.push_back(folder.parent_path());
        }
        for (const fs::path& reader : readers) {
            if (const auto backing = ReadLine(reader / "loop" / "backing_file")) {
                Add(*backing, depth + 1);
            }
        }
        for (fs::directory_iterator it(folder / "slaves", error), end; !error && it != end;
             it.increment(error)) {
            std::error_code broken;
            if (const auto slave = ReadDeviceNumber(fs::canonical(it->path(), broken));
                slave && !broken) {
                AddDevice(*slave, depth + 1);
            }
        }
    }

    void AddImage(const std::string& path, const struct stat& status, int depth) {
        if (Full() || IsSourceImage(m_sources, status)) {
            return;
        }
        m_sources.images.push_back({status.st_dev, status.st_ino});
        std::error_code error;
        const fs::path resolved = fs::canonical(path, error);
        const std::vector<MountEntry>& mounts = Mounts();
        const MountEntry* mount =
            error ? nullptr : MountHolding(mounts, resolved.string(), status.st_dev);
        if (mount != nullptr && IsFuseType(mount->fileSystemType)) {
            for (const std::string& served : FuseServedFiles(*mount, m_tables.procRoot)) {
                Add(served, depth + 1);
            }
        }
    }

    const std::vector<MountEntry>& Mounts() {
        if (!m_mounts) {
            const auto table = m_tables.mountInfo ? m_tables.mountInfo : ReadMountTable();
            m_mounts = table ? ParseMountInfo(*table) : std::vector<MountEntry>{};
        }
        return *m_mounts;
    }

    SourceDisks& m_sources;
    const BlockDeviceTables& m_tables;
    std::optional<std::vector<MountEntry>> m_mounts;
};

}  // namespace

SourceDisks IdentifySourceDisks(const std::vector<std::string>& diskPaths,
                                const BlockDeviceTables& tables) {
    SourceDisks sources;
    SourceFollower follower(sources, tables);
    for (const std::string& path : diskPaths) {
        follower.Add(path, 0);
    }
    return sources;
}

std::optional<SourceOverlap> FindSourceBeneath(dev_t device, const SourceDisks& sources,
                                               const fs::path& sysRoot) {
    std::vector<Layer> pending{{DeviceFolder(sysRoot, device), device, 0, SourceOverlap::Disk}};
    std::set<fs::path> seen;
    const auto add = [&pending](Layer layer) {
        if (pending.size() < kMaxDevices) {
            pending.push_back(std::move(layer));
        }
    };
    while (!pending.empty() && seen.size() < kMaxDevices) {
        const Layer layer = std::move(pending.back());
        pending.pop_back();
        if (layer.device && IsSourceDevice(sources, *layer.device)) {
            return layer.how;
        }
        if (layer.folder.empty() || layer.depth >= kMaxDepth || !seen.insert(layer.folder).second) {
            continue;
        }
        const int below = layer.depth + 1;
        std::error_code error;

        // A loop device reads its backing file: an image being read, a disk, or a file on a
        // file system that may lie on one.
        if (const auto backing = ReadLine(layer.folder / "loop" / "backing_file")) {
            struct stat file {};
            if (!backing->empty() && ::stat(backing->c_str(), &file) == 0) {
                if (IsSourceImage(sources, file)) {
                    return SourceOverlap::Loop;
                }
                const dev_t holder = S_ISBLK(file.st_mode) ? file.st_rdev : file.st_dev;
                add({DeviceFolder(sysRoot, holder), holder, below, SourceOverlap::Loop});
            }
        }
        // A partition's folder lies in its disk's folder.
        if (fs::exists(layer.folder / "partition", error)) {
            const fs::path disk = layer.folder.parent_path();
            add({disk, ReadDeviceNumber(disk), below,
                 Farther(layer.how, SourceOverlap::Partition)});
        }
        // The devices that a device-mapper or md device is made of.
        for (fs::directory_iterator it(layer.folder / "slaves", error), end; !error && it != end;
             it.increment(error)) {
            std::error_code broken;
            const fs::path slave = fs::canonical(it->path(), broken);
            if (!broken) {
                add({slave, ReadDeviceNumber(slave), below,
                     Farther(layer.how, SourceOverlap::Layered)});
            }
        }
    }
    return std::nullopt;
}

std::optional<std::string> SourceRefusal(const std::string& path, const SourceDisks& sources,
                                         const BlockDeviceTables& tables) {
    if (sources.devices.empty() && sources.images.empty()) {
        return std::nullopt;
    }
    const std::optional<WritePlace> place = WhereWritten(path);
    if (!place) {
        return std::nullopt;
    }
    if (const auto how = FindSourceBeneath(place->device, sources, tables.sysRoot)) {
        return RefusalText(*how, DeviceName(tables.sysRoot, place->device));
    }

    // A FUSE file system (ntfs-3g, say) has a device number of its own; the mount table
    // names the device or image it serves, or its server holds them open.
    const std::optional<std::string> table = tables.mountInfo ? tables.mountInfo : ReadMountTable();
    if (!table) {
        return std::nullopt;
    }
    const std::vector<MountEntry> mounts = ParseMountInfo(*table);
    const MountEntry* mount = MountHolding(mounts, place->path, place->device);
    if (mount == nullptr) {
        return std::nullopt;
    }
    std::vector<std::string> served;
    if (IsFuseType(mount->fileSystemType)) {
        served = FuseServedFiles(*mount, tables.procRoot);
    } else if (mount->source.starts_with('/')) {
        served.push_back(mount->source);
    }
    for (const std::string& file : served) {
        struct stat source {};
        if (::stat(file.c_str(), &source) != 0) {
            continue;
        }
        if (IsSourceImage(sources, source)) {
            return RefusalText(SourceOverlap::Image, file);
        }
        // A device it serves, or the file system that holds an image it serves.
        const dev_t holder = S_ISBLK(source.st_mode) ? source.st_rdev : source.st_dev;
        if (holder != place->device) {
            if (const auto how = FindSourceBeneath(holder, sources, tables.sysRoot)) {
                return RefusalText(*how, file);
            }
        }
    }
    return std::nullopt;
}

}  // namespace moravel
