#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "DestinationVolume.h"
#include "SourceDevices.h"

namespace moravel {

// An output file the copy writes. Writes may be held back and handed on in
// larger pieces: Write may keep the caller's bytes, without copying them, until
// the next Write, Flush or Close, so the caller leaves them unchanged until then.
// Destroying the file closes it without handing on what it still holds (the
// bytes may be gone by then): Close it first.
class OutputFile {
public:
    virtual ~OutputFile() = default;
    // Writes the bytes; false when not all of them could be written (written says
    // how many were taken).
    virtual bool Write(std::span<const std::uint8_t> bytes, std::size_t& written) = 0;
    // False when bytes written before could not be written after all (the disk is full).
    virtual bool Flush() = 0;
    // Hands on what is held and closes the file. False when any of it could not be
    // written, or when closing reports an error: a file system may fail a write
    // only then. Nothing is written after it.
    virtual bool Close() = 0;
    // The modification time the file is to have once it is closed (seconds since
    // the epoch); without it, the time of the copy.
    virtual void KeepModified(std::time_t when) { (void)when; }
};

// An output file written at chosen places: a rescue copy puts what it reads where
// it belongs, and fills the holes of one pass in a later one, or in a later run.
class PositionedFile {
public:
    virtual ~PositionedFile() = default;
    // False when not all of the bytes could be written.
    virtual bool WriteAt(std::uint64_t offset, std::span<const std::uint8_t> bytes) = 0;
    // Makes the file this long (bytes never written read as zeros).
    virtual bool SetSize(std::uint64_t size) = 0;
    // False when closing reports an error: a file system may fail a write only then.
    virtual bool Close() = 0;
    virtual void KeepModified(std::time_t when) { (void)when; }
};

// Where copies go: the destination volume's file system, and new output files.
class CopyTarget {
public:
    virtual ~CopyTarget() = default;
    // The volume that holds a chosen path; nothing when it cannot be found.
    virtual std::optional<DestinationVolume> VolumeOf(const std::string& path) = 0;
    // Creates the file, or empties an existing one; null when it cannot, and then
    // the reason says why ("Permission denied", "is a disk being read").
    virtual std::unique_ptr<OutputFile> Create(const std::string& path, std::string& reason) = 0;
    // Opens the file to write at chosen places, creating it when it is missing and
    // keeping what it holds; null when it cannot, and then the reason says why.
    virtual std::unique_ptr<PositionedFile> OpenPositioned(const std::string& path,
                                                           std::string& reason) {
        (void)path;
        reason = "this destination takes no rescue copies";
        return nullptr;
    }
};

// Files on this machine's file systems.
class FileSystemTarget : public CopyTarget {
public:
    std::optional<DestinationVolume> VolumeOf(const std::string& path) override;
    std::unique_ptr<OutputFile> Create(const std::string& path, std::string& reason) override;
    std::unique_ptr<PositionedFile> OpenPositioned(const std::string& path,
                                                   std::string& reason) override;
};

// Treats every destination as FAT32, so that large files go in parts, except a
// drive that is refused anyway (FAT, FAT12, FAT16), which keeps its own name.
class PartsAlways : public CopyTarget {
public:
    explicit PartsAlways(CopyTarget& inner) : m_inner(inner) {}
    std::optional<DestinationVolume> VolumeOf(const std::string& path) override;
    std::unique_ptr<OutputFile> Create(const std::string& path, std::string& reason) override {
        return m_inner.Create(path, reason);
    }
    std::unique_ptr<PositionedFile> OpenPositioned(const std::string& path,
                                                   std::string& reason) override {
        return m_inner.OpenPositioned(path, reason);
    }

private:
    CopyTarget& m_inner;
};

// Keeps copies off the disks being read: no output is created on a block device,
// nor over a file that is one of the disks (by device and inode, or volume and file
// index on Windows, so links and
// other spellings of its path count too), nor on a file system that lies on one
// of the disks: on a disk or its partition (an automounted stick that is also
// being read), on a device mapped over them, or behind a loop device that reads
// a disk or image being read (see SourceRefusal). A refused output fails as any
// file that cannot be created does, with the refusal as its reason.
class SourceGuard : public CopyTarget {
public:
    SourceGuard(CopyTarget& inner, const std::vector<std::string>& diskPaths,
                BlockDeviceTables tables = {});
    std::optional<DestinationVolume> VolumeOf(const std::string& path) override {
        return m_inner.VolumeOf(path);
    }
    std::unique_ptr<OutputFile> Create(const std::string& path, std::string& reason) override;
    std::unique_ptr<PositionedFile> OpenPositioned(const std::string& path,
                                                   std::string& reason) override;

private:
    // Why no output may go to the path; nothing when it may.
    std::optional<std::string> Refusal(const std::string& path) const;

    CopyTarget& m_inner;
    std::vector<FileIdentity> m_disks;
    SourceDisks m_sources;
    BlockDeviceTables m_tables;
};

}  // namespace moravel
