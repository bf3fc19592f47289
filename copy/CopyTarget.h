#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "DestinationVolume.h"

namespace moravel {

// An output file the copy writes, closed (after a last Flush) when it is
// destroyed. Writes may be held back and handed on in larger pieces: Write may
// keep the caller's bytes, without copying them, until the next Write or Flush,
// so the caller leaves them unchanged until then.
class OutputFile {
public:
    virtual ~OutputFile() = default;
    // Writes the bytes; false when not all of them could be written (written says
    // how many were taken).
    virtual bool Write(std::span<const std::uint8_t> bytes, std::size_t& written) = 0;
    // False when bytes written before could not be written after all (the disk is full).
    virtual bool Flush() = 0;
};

// Where copies go: the destination volume's file system, and new output files.
class CopyTarget {
public:
    virtual ~CopyTarget() = default;
    // The volume that holds a chosen path; nothing when it cannot be found.
    virtual std::optional<DestinationVolume> VolumeOf(const std::string& path) = 0;
    // Creates the file, or empties an existing one; null when it cannot.
    virtual std::unique_ptr<OutputFile> Create(const std::string& path) = 0;
};

// Files on this machine's file systems.
class FileSystemTarget : public CopyTarget {
public:
    std::optional<DestinationVolume> VolumeOf(const std::string& path) override;
    std::unique_ptr<OutputFile> Create(const std::string& path) override;
};

// A target whose volumes all report one file-system name, whatever they are:
// how the command line forces parts, and how tests stand in for a FAT drive.
class FileSystemOverride : public CopyTarget {
public:
    FileSystemOverride(CopyTarget& inner, std::string fileSystem)
        : m_inner(inner), m_fileSystem(std::move(fileSystem)) {}
    std::optional<DestinationVolume> VolumeOf(const std::string& path) override;
    std::unique_ptr<OutputFile> Create(const std::string& path) override {
        return m_inner.Create(path);
    }

private:
    CopyTarget& m_inner;
    std::string m_fileSystem;
};

// Treats every destination as FAT32, so that large files go in parts, except a
// drive that is refused anyway (FAT, FAT12, FAT16), which keeps its own name.
class PartsAlways : public CopyTarget {
public:
    explicit PartsAlways(CopyTarget& inner) : m_inner(inner) {}
    std::optional<DestinationVolume> VolumeOf(const std::string& path) override;
    std::unique_ptr<OutputFile> Create(const std::string& path) override {
        return m_inner.Create(path);
    }

private:
    CopyTarget& m_inner;
};

// Keeps copies off the disks being read: no output is created on a block device,
// nor over a file that is one of the disks (by device and inode, so links and
// other spellings of its path count too). A refused output fails as any file
// that cannot be created does.
class SourceGuard : public CopyTarget {
public:
    SourceGuard(CopyTarget& inner, const std::vector<std::string>& diskPaths);
    std::optional<DestinationVolume> VolumeOf(const std::string& path) override {
        return m_inner.VolumeOf(path);
    }
    std::unique_ptr<OutputFile> Create(const std::string& path) override;
    // Why the last output was refused; empty when none was.
    const std::string& Refusal() const { return m_refusal; }

private:
    struct FileId {
        dev_t device;
        ino_t inode;
    };
    CopyTarget& m_inner;
    std::vector<FileId> m_disks;
    std::string m_refusal;
};

}  // namespace moravel
