#include "FatVolumeBuilder.h"

#include <algorithm>
#include <set>
#include <stdexcept>

#include "disk/ByteOrder.h"
#include "disk/DiskLayout.h"

namespace moravel::image {

namespace {

std::uint64_t DivideUp(std::uint64_t value, std::uint64_t by) {
    return (value + by - 1) / by;
}

}  // namespace

VolumeLayout FloppyLayout() {
    VolumeLayout layout;
    layout.fatBits = 12;
    layout.totalSectors = 2880;
    layout.sectorsPerCluster = 1;
    layout.reservedSectors = 1;
    layout.rootEntries = 224;
    layout.heads = 2;
    layout.sectorsPerTrack = 18;
    return layout;
}

FileLayout FileEntry(const std::string& shortName, std::uint64_t size, const std::string& longName,
                     Content content) {
    FileLayout file;
    file.shortName = shortName;
    file.longName = longName;
    file.size = size;
    file.content = content;
    return file;
}

std::uint8_t ContentByte(std::uint32_t seed, std::uint64_t offset) {
    std::uint64_t x = offset * 0x9E3779B97F4A7C15ull + seed * 0xD1B54A32D192ED03ull;
    x ^= x >> 29;
    return static_cast<std::uint8_t>(x ^ (x >> 17));
}

std::uint8_t ShortNameChecksum(const std::string& shortName) {
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i < layout::entry::kShortNameLength; ++i) {
        const auto c = static_cast<std::uint8_t>(i < shortName.size() ? shortName[i] : ' ');
        sum = static_cast<std::uint8_t>(((sum & 1) << 7) + (sum >> 1) + c);
    }
    return sum;
}

FatVolumeBuilder::FatVolumeBuilder(VolumeLayout layout) : m_layout(layout) {
    Node root;
    root.directory = true;
    m_nodes.push_back(root);

    const bool fat32 = m_layout.fatBits == 32;
    m_rootSectors =
        fat32 ? 0 : static_cast<std::uint32_t>(m_layout.rootEntries * layout::entry::kSize / 512);
    // Sectors per FAT: enough entries for every cluster the rest leaves room for.
    std::uint32_t sectorsPerFat = 1;
    for (int round = 0; round < 8; ++round) {
        const std::uint32_t data = m_layout.totalSectors - m_layout.reservedSectors -
                                   m_layout.fatCount * sectorsPerFat - m_rootSectors;
        const std::uint32_t clusters = data / m_layout.sectorsPerCluster;
        sectorsPerFat =
            static_cast<std::uint32_t>(DivideUp(
                (std::uint64_t{clusters} + 2) * static_cast<unsigned>(m_layout.fatBits), 8 * 512)) +
            m_layout.spareFatSectors;
    }
    m_sectorsPerFat = sectorsPerFat;
    m_dataStart = m_layout.reservedSectors + m_layout.fatCount * m_sectorsPerFat + m_rootSectors;
    m_clusterCount = (m_layout.totalSectors - m_dataStart) / m_layout.sectorsPerCluster;
}

std::uint32_t FatVolumeBuilder::ClusterBytes() const {
    return std::uint32_t{m_layout.sectorsPerCluster} * m_layout.bytesPerSector;
}

FatVolumeBuilder::Directory FatVolumeBuilder::AddDirectory(Directory parent,
                                                           const std::string& shortName,
                                                           const std::string& longName) {
    Node node;
    node.directory = true;
    node.parent = parent;
    node.layout.shortName = shortName;
    node.layout.longName = longName;
    node.layout.attributes = layout::entry::kAttributeDirectory;
    m_nodes.push_back(node);
    m_nodes[parent].children.push_back(m_nodes.size() - 1);
    return m_nodes.size() - 1;
}

std::uint32_t FatVolumeBuilder::AddFile(Directory parent, const FileLayout& file) {
    Node node;
    node.parent = parent;
    node.layout = file;
    m_nodes.push_back(node);
    m_nodes[parent].children.push_back(m_nodes.size() - 1);
    return static_cast<std::uint32_t>(m_nodes.size() - 1);
}

void FatVolumeBuilder::AddRawEntry(Directory parent, const Bytes& entry) {
    Node node;
    node.parent = parent;
    node.rawEntry = entry;
    m_nodes.push_back(node);
    m_nodes[parent].children.push_back(m_nodes.size() - 1);
}

void FatVolumeBuilder::AddVolumeLabel(const std::string& label11) {
    m_label = label11;
    AddRawEntry(Root(), ShortEntry(label11, layout::entry::kAttributeVolumeLabel, 0, 0));
}

Bytes FatVolumeBuilder::EntriesFor(const Node& node) const {
    if (node.rawEntry) {
        return *node.rawEntry;
    }
    Bytes bytes;
    if (!node.layout.longName.empty()) {
        for (const auto& entry :
             LongNameEntries(node.layout.longName, ShortNameChecksum(node.layout.shortName))) {
            bytes.insert(bytes.end(), entry.begin(), entry.end());
        }
    }
    const std::uint32_t first = node.clusters.empty() ? 0 : node.clusters.front();
    const std::uint32_t size =
        node.directory
            ? 0
            : node.layout.directorySize.value_or(static_cast<std::uint32_t>(node.layout.size));
    const Bytes entry = ShortEntry(node.layout.shortName, node.layout.attributes, first, size);
    bytes.insert(bytes.end(), entry.begin(), entry.end());
    return bytes;
}

Bytes FatVolumeBuilder::DirectoryBytes(std::size_t index) const {
    const Node& directory = m_nodes[index];
    Bytes bytes;
    if (index != 0) {
        const std::uint32_t self = directory.clusters.front();
        const Node& parent = m_nodes[directory.parent];
        // ".." of a folder in the root names cluster 0, as FAT does.
        const std::uint32_t up = directory.parent == 0 ? 0 : parent.clusters.front();
        for (const Bytes& dot : {ShortEntry(".", layout::entry::kAttributeDirectory, self, 0),
                                 ShortEntry("..", layout::entry::kAttributeDirectory, up, 0)}) {
            bytes.insert(bytes.end(), dot.begin(), dot.end());
        }
    }
    for (const std::size_t child : directory.children) {
        const Bytes entries = EntriesFor(m_nodes[child]);
        bytes.insert(bytes.end(), entries.begin(), entries.end());
    }
    return bytes;
}

std::size_t FatVolumeBuilder::EntrySlots(const Node& directory) const {
    std::size_t slots = &directory == &m_nodes[0] ? 0 : 2;
    for (const std::size_t child : directory.children) {
        const Node& node = m_nodes[child];
        slots += node.rawEntry ? 1
                               : 1 + (Utf16Units(node.layout.longName).size() +
                                      layout::longName::kUnitsPerEntry - 1) /
                                         layout::longName::kUnitsPerEntry;
    }
    return slots;
}

void FatVolumeBuilder::Allocate() {
    std::set<std::uint32_t> claimed;
    for (const Node& node : m_nodes) {
        if (node.layout.clusters) {
            claimed.insert(node.layout.clusters->begin(), node.layout.clusters->end());
        }
    }
    std::uint32_t next = 2;
    auto take = [&](std::uint64_t count, std::vector<std::uint32_t>& chain) {
        for (std::uint64_t i = 0; i < count; ++i) {
            while (claimed.count(next) != 0) {
                ++next;
            }
            if (next >= m_clusterCount + 2) {
                throw std::runtime_error("volume full");
            }
            chain.push_back(next++);
        }
    };
    const bool fat32 = m_layout.fatBits == 32;
    for (std::size_t i = 0; i < m_nodes.size(); ++i) {
        Node& node = m_nodes[i];
        node.clusters.clear();
        if (node.directory && (i != 0 || fat32)) {
            const std::uint64_t bytes =
                std::max<std::size_t>(EntrySlots(node) * layout::entry::kSize, 1);
            take(DivideUp(bytes, ClusterBytes()), node.clusters);
        }
    }
    for (Node& node : m_nodes) {
        if (!node.directory && !node.rawEntry) {
            if (node.layout.clusters) {
                node.clusters = *node.layout.clusters;
            } else {
                take(DivideUp(node.layout.size, ClusterBytes()), node.clusters);
            }
        }
    }
    if (!fat32 && EntrySlots(m_nodes[0]) > m_layout.rootEntries) {
        throw std::runtime_error("root directory full");
    }
}

std::uint64_t FatVolumeBuilder::ClusterOffset(std::uint32_t cluster) const {
    return (m_dataStart + std::uint64_t{cluster - 2} * m_layout.sectorsPerCluster) * 512;
}

void FatVolumeBuilder::WriteFileData(const ImageFile& image, std::uint64_t base,
                                     std::size_t index) const {
    const Node& node = m_nodes[index];
    const std::uint64_t clusterBytes = ClusterBytes();
    const auto seed = static_cast<std::uint32_t>(index);
    for (std::size_t i = 0; i < node.clusters.size(); ++i) {
        const std::uint64_t start = i * clusterBytes;
        if (start >= node.layout.size) {
            break;
        }
        const bool end = i == 0 || start + clusterBytes >= node.layout.size;
        if (node.layout.content == Content::Ends && !end) {
            continue;
        }
        Bytes data(static_cast<std::size_t>(std::min(clusterBytes, node.layout.size - start)));
        for (std::size_t b = 0; b < data.size(); ++b) {
            data[b] = ContentByte(seed, start + b);
        }
        image.Write(base + ClusterOffset(node.clusters[i]), data);
    }
}

void FatVolumeBuilder::Write(const ImageFile& image, std::uint64_t partitionStart) {
    Allocate();
    const bool fat32 = m_layout.fatBits == 32;
    const std::uint64_t base = partitionStart * 512;

    BootParameters boot;
    boot.bytesPerSector = m_layout.bytesPerSector;
    boot.sectorsPerCluster = m_layout.sectorsPerCluster;
    boot.reservedSectors = m_layout.reservedSectors;
    boot.fatCount = m_layout.fatCount;
    boot.rootEntries = m_layout.rootEntries;
    boot.totalSectors = m_layout.totalSectors;
    boot.sectorsPerFat = m_sectorsPerFat;
    boot.sectorsPerTrack = m_layout.sectorsPerTrack;
    boot.heads = m_layout.heads;
    boot.rootCluster = fat32 ? m_nodes[0].clusters.front() : 0;
    boot.fat32 = fat32;
    boot.label = m_label;
    boot.hiddenSectors = static_cast<std::uint32_t>(partitionStart);
    boot.serial = m_layout.serial;
    image.Write(base, BootSectorBytes(boot));

    m_fat.emplace(m_layout.fatBits,
                  m_sectorsPerFat * 512 * 8 / static_cast<unsigned>(m_layout.fatBits));
    m_fat->Set(0, fat32 ? 0x0FFFFFF8 : m_layout.fatBits == 16 ? 0xFFF8 : 0xFF8);
    m_fat->Set(1, m_fat->EndMark());
    for (const Node& node : m_nodes) {
        if (!node.clusters.empty()) {
            m_fat->Chain(node.clusters);
        }
    }
    if (fat32) {
        const Bytes info = FreeClusterInfo();
        image.Write(base + 512, info);
        image.Write(base + 6 * 512, BootSectorBytes(boot));
        image.Write(base + 7 * 512, info);
    }
    Bytes fatSectors = m_fat->Data();
    fatSectors.resize(std::size_t{m_sectorsPerFat} * 512, 0);
    for (std::uint32_t copy = 0; copy < m_layout.fatCount; ++copy) {
        image.Write(base + (m_layout.reservedSectors + std::uint64_t{copy} * m_sectorsPerFat) * 512,
                    fatSectors);
    }

    for (std::size_t i = 0; i < m_nodes.size(); ++i) {
        const Node& node = m_nodes[i];
        if (!node.directory) {
            if (!node.rawEntry) {
                WriteFileData(image, base, i);
            }
            continue;
        }
        Bytes entries = DirectoryBytes(i);
        if (i == 0 && !fat32) {
            image.Write(base + (m_dataStart - m_rootSectors) * 512ull, entries);
            continue;
        }
        entries.resize(node.clusters.size() * ClusterBytes(), 0);
        for (std::size_t c = 0; c < node.clusters.size(); ++c) {
            const auto from = entries.begin() + static_cast<long>(c * ClusterBytes());
            image.Write(base + ClusterOffset(node.clusters[c]), Bytes(from, from + ClusterBytes()));
        }
    }
}

Bytes FatVolumeBuilder::FreeClusterInfo() const {
    std::uint32_t free = 0;
    std::uint32_t firstFree = 0xFFFFFFFF;
    for (std::uint32_t cluster = 2; cluster < m_clusterCount + 2; ++cluster) {
        if ((ReadLe32(m_fat->Data(), 4 * std::size_t{cluster}) & 0x0FFFFFFF) == 0) {
            ++free;
            firstFree = std::min(firstFree, cluster);
        }
    }
    return FsInfoSector(free, firstFree);
}

const std::vector<std::uint32_t>& FatVolumeBuilder::FileClusters(std::uint32_t seed) const {
    return m_nodes.at(seed).clusters;
}

const std::vector<std::uint32_t>& FatVolumeBuilder::DirectoryClusters(Directory directory) const {
    return m_nodes.at(directory).clusters;
}

}  // namespace moravel::image
