#include "CliInfo.h"

#include <cstdio>
#include <optional>
#include <vector>

#include "Cli.h"
#include "CliMedia.h"
#include "ListingJson.h"
#include "TerminalText.h"
#include "disk/Sector.h"
#include "tree/Directory.h"
#include "tree/FatDate.h"
#include "ui/FormatSize.h"

namespace moravel::cli {

namespace {

constexpr std::uint64_t kFourGiB = std::uint64_t{1} << 32;
constexpr std::size_t kLabelWidth = 16;

std::string ByteCount(std::uint64_t bytes) {
    std::string text = std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
    if (bytes >= 1024) {
        text += " (" + FormatSize(bytes) + ")";
    }
    return text;
}

std::string Count(std::uint64_t count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

std::string HexByte(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", value & 0xFFu);
    return text;
}

std::string DateText(std::uint16_t date, std::uint16_t time) {
    const auto moment = DecodeFatDateTime(date, time);
    if (!moment) {
        return "none";
    }
    std::string text = IsoDateText(*moment);
    text[10] = ' ';
    return text;
}

bool IsEntryKind(const std::string& kind) {
    return kind == "file" || kind == "directory";
}

// The bytes of the item's clusters.
std::uint64_t ClusterBytes(const DriveItem& item) {
    return SectorsToBytes(item.m_sectorsPerCluster);
}

// Why a file's size differs from its entry's size field, and how its chain
// compares with the size, in sentences.
std::vector<std::string> SizeNotes(const DriveItem& item, const std::optional<ChainShape>& chain) {
    std::vector<std::string> notes;
    if (!item.IsFile()) {
        if (item.m_directorySize != 0) {
            notes.push_back("The folder's entry holds a size of " +
                            Count(item.m_directorySize, "byte", "bytes") +
                            "; a folder's entry normally holds 0, and no folder size is taken "
                            "from it.");
        }
        return notes;
    }
    const std::uint64_t clusterBytes = ClusterBytes(item);
    if (item.m_fileSize != item.m_directorySize) {
        const std::uint64_t times = (item.m_fileSize - item.m_directorySize) / kFourGiB;
        std::string text = "The directory entry holds only the size modulo 4 GiB (" +
                           Count(item.m_directorySize, "byte", "bytes") + "). ";
        if (chain) {
            text += "The cluster chain's " + Count(chain->clusters, "cluster", "clusters") +
                    " hold " + Count(chain->clusters * clusterBytes, "byte", "bytes") + ", ";
        } else {
            text += "The cluster chain, as the folder was read, holds more, ";
        }
        text += "so the file is " + (times == 1 ? std::string() : std::to_string(times) + " x ") +
                "4 GiB longer: " + Count(item.m_fileSize, "byte", "bytes") + ".";
        notes.push_back(std::move(text));
    }
    if (chain && clusterBytes != 0) {
        const std::uint64_t needed = (item.m_fileSize + clusterBytes - 1) / clusterBytes;
        const std::uint64_t have = chain->clusters;
        if (have < needed) {
            notes.push_back("The cluster chain is " + Count(needed - have, "cluster", "clusters") +
                            " shorter than the size needs (" +
                            Count(needed, "cluster", "clusters") + "): its last " +
                            Count(item.m_fileSize - have * clusterBytes, "byte", "bytes") +
                            " have no cluster.");
        } else if (have > needed) {
            notes.push_back("The cluster chain is " + Count(have - needed, "cluster", "clusters") +
                            " longer than the size needs (" + Count(needed, "cluster", "clusters") +
                            ").");
        }
    }
    return notes;
}

struct FragmentText {
    std::uint32_t firstCluster;
    std::uint32_t lastCluster;
    std::uint32_t clusters;
    std::uint64_t firstLba;
    std::uint64_t lastLba;
};

FragmentText Locate(const DriveItem& item, const Fragment& run) {
    const std::uint32_t last = run.firstCluster + run.clusters - 1;
    return {run.firstCluster, last, run.clusters, ClusterLba(item, run.firstCluster),
            ClusterLba(item, last) + item.m_sectorsPerCluster - 1};
}

class Report {
public:
    explicit Report(std::ostream& out) : m_out(out) {}
    void Field(const std::string& label, const std::string& value) {
        const std::string head = label + ":";
        m_out << head << std::string(head.size() < kLabelWidth ? kLabelWidth - head.size() : 1, ' ')
              << value << '\n';
    }
    void Line(const std::string& text) { m_out << std::string(kLabelWidth, ' ') << text << '\n'; }

private:
    std::ostream& m_out;
};

void PrintChain(Report& report, const DriveItem& item, const ChainShape& chain) {
    report.Field("Cluster size", ByteCount(ClusterBytes(item)));
    report.Field("Clusters", std::to_string(chain.clusters) + ", " +
                                 ByteCount(chain.clusters * ClusterBytes(item)));
    report.Field("Fragments", std::to_string(chain.fragments));
    std::size_t number = 0;
    for (const Fragment& run : chain.runs) {
        const FragmentText text = Locate(item, run);
        report.Line(std::to_string(++number) + ": clusters " + std::to_string(text.firstCluster) +
                    "-" + std::to_string(text.lastCluster) + " (" + std::to_string(text.clusters) +
                    "), LBA " + std::to_string(text.firstLba) + "-" + std::to_string(text.lastLba));
    }
    if (chain.fragments > chain.runs.size()) {
        report.Line("... " + std::to_string(chain.fragments - chain.runs.size()) + " more");
    }
    if (!chain.runs.empty()) {
        report.Field("First sector",
                     "LBA " + std::to_string(ClusterLba(item, chain.runs[0].firstCluster)));
    }
}

void PrintText(std::ostream& out, const ListedItem& listed) {
    const DriveItem& item = *listed.item;
    const ItemDetails& details = listed.details;
    Report report(out);
    report.Field("Name", EscapeControls(listed.name));
    report.Field("Path", EscapeControls(listed.path));
    report.Field("Kind", listed.kind);
    if (details.source) {
        report.Field("Source", EscapeControls(*details.source));
    }
    if (details.disk) {
        const DiskDetails& disk = *details.disk;
        for (const auto& [label, value] : {std::pair{"Device", &disk.device},
                                           {"Model", &disk.model},
                                           {"Serial", &disk.serial},
                                           {"Bus", &disk.bus}}) {
            if (!value->empty()) {
                report.Field(label, EscapeControls(*value));
            }
        }
    }
    if (item.m_kind == ItemKind::Disk) {
        report.Field("Size", details.bytes ? ByteCount(*details.bytes)
                                           : "not known (the BIOS services do not tell it)");
    }
    if (item.m_kind == ItemKind::Volume || item.m_kind == ItemKind::Extended ||
        item.m_kind == ItemKind::Unknown) {
        if (item.m_partitionType != 0) {
            report.Field("Partition type", HexByte(item.m_partitionType));
        }
        report.Field("First sector", "LBA " + std::to_string(item.m_partitionStart));
    }
    if (details.volume) {
        const VolumeDetails& volume = *details.volume;
        report.Field("Sectors", std::to_string(volume.sectors));
        report.Field("Size", ByteCount(SectorsToBytes(volume.sectors)));
        report.Field("FAT", "FAT" + std::to_string(volume.fatBits));
        report.Field("Cluster size", ByteCount(volume.clusterBytes));
        report.Field("Label", volume.label.empty() ? "none" : EscapeControls(volume.label));
    }
    if (item.m_kind == ItemKind::Fat12Table || item.m_kind == ItemKind::Fat16Table ||
        item.m_kind == ItemKind::Fat32Table || item.m_kind == ItemKind::RootDirectory) {
        report.Field("First sector", "LBA " + std::to_string(std::uint64_t{item.m_partitionStart} +
                                                             item.m_relativeSector));
        report.Field("Sectors", std::to_string(item.m_sectorCount));
    }
    if (item.m_kind != ItemKind::Entry) {
        return;
    }
    if (IsEntryKind(listed.kind)) {
        report.Field("File name", EscapeControls(item.EntryName()));
        if (item.m_hasLongName) {
            report.Field("Short name", EscapeControls(item.ShortName()));
        }
        if (item.IsFile()) {
            report.Field("Size", ByteCount(item.m_fileSize));
        }
        report.Field("Directory size", ByteCount(item.m_directorySize));
        report.Field("Attributes", HexByte(item.m_attributes));
    }
    report.Field("First cluster", std::to_string(item.m_firstCluster));
    if (details.chain) {
        PrintChain(report, item, *details.chain);
    } else {
        report.Field("Clusters", "not known: the volume's FAT could not be read");
    }
    if (IsEntryKind(listed.kind)) {
        report.Field("Modified", DateText(item.m_writeDate, item.m_writeTime));
        report.Field("Created", DateText(item.m_createDate, item.m_createTime));
        for (const std::string& note : SizeNotes(item, details.chain)) {
            report.Field("Note", note);
        }
    }
}

void PrintJsonObject(std::ostream& out, const ListedItem& listed,
                     const std::optional<MediaLines>& media) {
    const DriveItem& item = *listed.item;
    nlohmann::ordered_json object = ItemJson(listed);
    if (listed.details.chain) {
        const ChainShape& chain = *listed.details.chain;
        object["clusterSize"] = ClusterBytes(item);
        if (!chain.runs.empty()) {
            object["firstLba"] = ClusterLba(item, chain.runs[0].firstCluster);
        }
        auto runs = nlohmann::ordered_json::array();
        for (const Fragment& run : chain.runs) {
            const FragmentText text = Locate(item, run);
            runs.push_back({{"firstCluster", text.firstCluster},
                            {"lastCluster", text.lastCluster},
                            {"clusters", text.clusters},
                            {"firstLba", text.firstLba},
                            {"lastLba", text.lastLba}});
        }
        object["fragmentList"] = std::move(runs);
        if (chain.fragments > chain.runs.size()) {
            object["fragmentsLeftOut"] = chain.fragments - chain.runs.size();
        }
    }
    if (IsEntryKind(listed.kind)) {
        const std::vector<std::string> notes = SizeNotes(item, listed.details.chain);
        if (!notes.empty()) {
            object["notes"] = notes;
        }
    }
    if (media) {
        object["media"] = media->json;
    }
    // A disk's path need not be UTF-8: what is not shows as U+FFFD.
    out << object.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << '\n';
}

}  // namespace

int RunInfo(const std::string& treePath, bool json, DriveTree& access, TreeWalker& walker,
            TerminalFrontend& terminal, std::ostream& out, std::ostream& err) {
    std::string error;
    const auto place = walker.Resolve(treePath, error);
    if (!place) {
        err << EscapeControls(error) << '\n';
        return kExitUsage;
    }
    const std::optional<ListedItem> listed = walker.Describe(*place, kShownFragments);
    if (!listed) {
        err << kProgram << ": info needs a TREEPATH that names an item, not the top level\n";
        return kExitUsage;
    }
    const std::optional<MediaLines> media = DescribeMedia(access, *listed->item);
    if (json) {
        PrintJsonObject(out, *listed, media);
    } else {
        PrintText(out, *listed);
        Report report(out);
        for (const auto& [label, text] : media ? media->fields : decltype(media->fields){}) {
            report.Field(label, text);
        }
    }
    out.flush();
    return terminal.Failures() == 0 ? kExitOk : kExitFailureShown;
}

}  // namespace moravel::cli
