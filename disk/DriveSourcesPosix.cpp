#include <grp.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <fstream>
#include <optional>
#include <sstream>
#include <system_error>

#include "DriveSources.h"

namespace moravel {

DriveSources DetectDriveSources(const std::filesystem::path& sysBlock,
                                const std::filesystem::path& dev) {
    DriveSources sources;
    sources.detect = true;
    std::error_code error;
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(sysBlock, error)) {
        const std::string name = entry.path().filename().string();
        if (IsWholeDiskName(name)) {
            names.push_back(name);
        }
    }
    std::sort(names.begin(), names.end());
    for (const auto& name : names) {
        sources.hardDisks.push_back((dev / name).string());
    }
    for (int n = 0;; ++n) {
        const auto floppy = dev / ("fd" + std::to_string(n));
        if (!std::filesystem::exists(floppy, error)) {
            break;
        }
        sources.floppies.push_back(floppy.string());
    }
    return sources;
}

namespace {

// The block device's folder in sysfs (/sys/devices/.../block/sda/sda1).
std::filesystem::path SysfsFolder(dev_t device) {
    std::error_code error;
    const std::filesystem::path link =
        "/sys/dev/block/" + std::to_string(major(device)) + ":" + std::to_string(minor(device));
    std::filesystem::path folder = std::filesystem::canonical(link, error);
    return error ? std::filesystem::path{} : folder;
}

std::optional<dev_t> BlockDeviceOf(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0 || !S_ISBLK(status.st_mode)) {
        return std::nullopt;
    }
    return status.st_rdev;
}

// The device that the root file system was mounted from, by /proc's mount table.
std::string RootMountSource() {
    std::ifstream table("/proc/self/mountinfo");
    std::string line;
    std::string source;
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string field;
        std::vector<std::string> before;
        while (fields >> field && field != "-") {
            before.push_back(field);
        }
        std::string type;
        std::string from;
        if (before.size() >= 5 && before[4] == "/" && (fields >> type >> from)) {
            source = from;  // a later mount on / hides an earlier one
        }
    }
    return source;
}

void AddWholeDisksBelow(std::filesystem::path folder, std::vector<std::string>& names, int depth) {
    std::error_code error;
    if (folder.empty() || depth > 8) {
        return;
    }
    if (std::filesystem::exists(folder / "partition", error)) {
        folder = folder.parent_path();
    }
    bool stacked = false;
    for (const auto& lower : std::filesystem::directory_iterator(folder / "slaves", error)) {
        stacked = true;
        AddWholeDisksBelow(std::filesystem::canonical(lower.path(), error), names, depth + 1);
    }
    if (!stacked) {
        names.push_back(folder.filename().string());
    }
}

std::string ReadLineOf(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::string text;
    std::getline(in, text);
    const auto first = text.find_first_not_of(" \t");
    const auto last = text.find_last_not_of(" \t\r");
    return first == std::string::npos ? std::string{} : text.substr(first, last - first + 1);
}

// A property that udev recorded for the device (ID_SERIAL_SHORT).
std::string UdevProperty(dev_t device, const std::string& key) {
    std::ifstream data("/run/udev/data/b" + std::to_string(major(device)) + ":" +
                       std::to_string(minor(device)));
    const std::string prefix = "E:" + key + "=";
    std::string line;
    while (std::getline(data, line)) {
        if (line.rfind(prefix, 0) == 0) {
            return line.substr(prefix.size());
        }
    }
    return {};
}

std::string BusOf(const std::filesystem::path& folder) {
    const std::string path = folder.string();
    const std::pair<const char*, const char*> kinds[] = {
        {"/usb", "USB"},          {"/nvme", "NVMe"},     {"/ata", "SATA"},
        {"/mmc", "MMC"},          {"/virtio", "virtio"}, {"/virtual/block/loop", "loop"},
        {"/ieee1394", "FireWire"}};
    for (const auto& [mark, bus] : kinds) {
        if (path.find(mark) != std::string::npos) {
            return bus;
        }
    }
    return {};
}

}  // namespace

std::vector<std::string> SystemDiskNames() {
    std::optional<dev_t> root = BlockDeviceOf(RootMountSource());
    if (!root) {
        struct stat status {};
        if (::stat("/", &status) == 0) {
            root = status.st_dev;
        }
    }
    std::vector<std::string> names;
    if (root) {
        AddWholeDisksBelow(SysfsFolder(*root), names, 0);
    }
    return names;
}

DiskDetails DescribeDisk(const std::string& path) {
    DiskDetails details;
    details.device = path;
    const std::optional<dev_t> device = BlockDeviceOf(path);
    const std::filesystem::path folder = device ? SysfsFolder(*device) : std::filesystem::path{};
    if (folder.empty()) {
        return details;
    }
    std::error_code error;
    const std::filesystem::path resolved = std::filesystem::canonical(path, error);
    if (!error) {
        details.device = resolved.string();  // /dev/sdb for /dev/disk/by-id/usb-...
    }
    details.blockDevice = true;
    details.bus = BusOf(folder);
    // SATA disks name their vendor "ATA": the model says who made them.
    const std::string vendor = ReadLineOf(folder / "device/vendor");
    const std::string model = ReadLineOf(folder / "device/model");
    details.model =
        vendor.empty() || vendor == "ATA" || model.empty() ? model : vendor + " " + model;
    details.serial = ReadLineOf(folder / "device/serial");
    if (details.serial.empty()) {
        details.serial = UdevProperty(*device, "ID_SERIAL_SHORT");
    }
    return details;
}

std::string DeviceGroup(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0 || status.st_gid == 0) {
        return {};
    }
    const group* owner = ::getgrgid(status.st_gid);
    return owner != nullptr ? owner->gr_name : std::string{};
}

}  // namespace moravel
