#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "disk/MemoryBlock.h"
#include "disk/Result.h"
#include "tree/DriveTree.h"

namespace moravel {

// A file's cluster chain, as far as the FAT tells it.
struct FileChain {
    MemoryBlock block;  // the clusters, one std::uint32_t each
    std::uint32_t count = 0;
    // The FAT sector, read from neither copy, where the chain goes on: nothing
    // when the chain ends as the FAT says.
    std::optional<std::uint32_t> lostFatSector;

    std::span<const std::uint32_t> Clusters() const {
        return {reinterpret_cast<const std::uint32_t*>(block.Data()), count};
    }
};

// Why a chain could not be had.
enum class ChainFailure {
    FatDoesNotFit,  // the volume's FAT cannot be its FAT: it is not read
    Stopped,        // *stop was set during the walk
    NothingRead,    // no FAT sector where the walk went read from either copy
    NoMemory,       // no memory for the chain
};

// Walks the file's chain through its volume's FAT pieces (those a listing read
// are not read again), ending early when *stop is set.
Result<FileChain, ChainFailure> LoadFileChain(DriveTree& drives, const DriveItem& file,
                                              const bool* stop = nullptr);

// The error of a chain cut by a FAT sector lost from both copies.
std::string ChainCutText(const DriveItem& file, const FileChain& chain);

// A file of the recorder's disk read anywhere, on demand, through its cluster
// chain, as a copy reads it: runs of clusters that lie together are read at once
// and kept for the reads that follow. For what serves a file to other programs.
class FileReader {
public:
    // The file's reader, with its chain walked; the error says why there is none.
    // A run that does not read whole is read again sector by sector, so that
    // every sector that can be read is (what a copy, or the mount, gives).
    static Result<std::unique_ptr<FileReader>> Open(DriveTree& drives, const DriveItem& file);
    // The same for a look that stops at the first unreadable byte (a recording's
    // streams and pictures): each run is asked for once, and from the first sector
    // that does not come in, the rest of it counts as unreadable. A drive spends
    // seconds on each bad sector it is asked for: a bad area then costs one failed
    // read, not one per sector.
    static Result<std::unique_ptr<FileReader>> OpenWithoutRetries(DriveTree& drives,
                                                                  const DriveItem& file);
    // As OpenWithoutRetries, for another thread: the chain is walked here, and the
    // reader then reads through a descriptor of the disk of its own, beside the
    // tree's reads, and needs neither the tree nor its items any more.
    static Result<std::unique_ptr<FileReader>> OpenAside(DriveTree& drives, const DriveItem& file);
    // A reader beside the tree through `aside` (DriveAccess::ReadAside) that reads
    // as a copy does: a run that does not come in whole again sector by sector
    // from the first that failed, 0xE5 for those that stay unreadable. After a
    // failure it asks diskAnswers whether the disk is still there (the caller
    // decides how to reach the tree for it).
    static Result<std::unique_ptr<FileReader>> OpenAsideAsCopy(DriveTree& drives,
                                                               const DriveItem& file,
                                                               SectorSource::ReaderAside aside,
                                                               std::function<bool()> diskAnswers);

    std::uint64_t Size() const { return m_size; }

    struct Piece {
        std::size_t bytes = 0;         // bytes given: fewer than asked only at the end
        std::uint32_t unreadable = 0;  // sectors among them that could not be read (0xE5)
    };
    // Reads into out from offset, up to the file's end. Fails where the chain is
    // not known (cut by a lost FAT sector, or shorter than the file) or the disk no
    // longer answers; the error says so.
    Result<Piece> Read(std::uint64_t offset, std::span<std::uint8_t> out);

private:
    // Reads a run of sectors of the volume into out, listing those it could not
    // read (filled with 0xE5); the error says why nothing more can be read.
    using RunReader = std::function<Failure(const SectorRun& run, std::span<std::uint8_t> out,
                                            UnreadableSectors& unreadable)>;
    // The file's reader, with its chain walked, that reads its runs with readRun.
    static Result<std::unique_ptr<FileReader>> OpenWith(DriveTree& drives, const DriveItem& file,
                                                        RunReader readRun);
    FileReader(const DriveItem& file, FileChain chain, MemoryBlock window, RunReader readRun);
    // Reads the run of clusters that lie together from cluster index on into the window.
    Failure Fill(std::uint32_t index);
    bool InWindow(std::uint32_t index) const {
        return index >= m_windowFirst && index - m_windowFirst < m_windowClusters;
    }

    RunReader m_readRun;
    // The file's volume fields: the tree's items may go before the reader does.
    DriveItem m_file;
    FileChain m_chain;
    MemoryBlock m_window;
    std::uint64_t m_size = 0;
    std::uint64_t m_clusterBytes = 0;
    std::uint32_t m_windowFirst = 0;
    std::uint32_t m_windowClusters = 0;
    UnreadableSectors m_unreadable;  // of the window, by sector index in it
};

}  // namespace moravel
