#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "DestinationVolume.h"
#include "SourceDevices.h"
#include "disk/Result.h"

namespace moravel {

// The name an output is written under until every byte of it is there: a copy
// that stops, fails or is cut off leaves NAME.part, never a file that looks whole.
// A name too long for ".part" is shortened (PathWithSuffix), always the same way.
std::string WorkingPath(const std::string& path);

// An output file the copy writes, under its working name (WorkingPath) until the
// target publishes it. Writes may be held back and handed on in larger pieces:
// Write may keep the caller's bytes, without copying them, until the next Write,
// Sync, Flush or Close, so the caller leaves them unchanged until then.
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
    // Hands on what is held and waits until the file's bytes are on its device: a
    // stick pulled out after this has them. False when any could not be written.
    virtual bool Sync() { return Flush(); }
    // Hands on what is held and closes the file. False when any of it could not be
    // written, or when closing reports an error: a file system may fail a write
    // only then. Nothing is written after it.
    virtual bool Close() = 0;
    // Why the last Write, Flush, Sync or Close failed ("No space left on device").
    virtual std::string Failure() const { return {}; }
    // The bytes handed on to the system so far, held ones not counted; nothing
    // when the file does not tell.
    virtual std::optional<std::uint64_t> BytesWritten() const { return std::nullopt; }
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
    // Waits until what was written is on the file's device.
    virtual bool Sync() { return true; }
    // False when closing reports an error: a file system may fail a write only then.
    virtual bool Close() = 0;
    virtual void KeepModified(std::time_t when) { (void)when; }
    // Why the last WriteAt failed ("File too large").
    virtual std::string Failure() const { return {}; }
};

// Where copies go: the destination volume's file system, and new output files.
class CopyTarget {
public:
    virtual ~CopyTarget() = default;
    // The volume that holds a chosen path; nothing when it cannot be found.
    virtual std::optional<DestinationVolume> VolumeOf(const std::string& path) = 0;
    // Creates the output for the file at path under its working name (PATH.part,
    // emptied when it is there); a file at path itself is left as it is until
    // Publish. The error says why it cannot ("Permission denied", "it is a disk
    // being read").
    virtual Result<std::unique_ptr<OutputFile>> Create(const std::string& path) = 0;
    // Gives the closed output created for path its final name, replacing a file of
    // that name, with the modification time given (else the time of the copy),
    // and waits until the new name is on the device. When it cannot, the output
    // keeps its working name.
    virtual Failure Publish(const std::string& path, std::optional<std::time_t> modified) {
        (void)path;
        (void)modified;
        return std::nullopt;
    }
    // Removes the output created for path under its working name: one that could
    // not be written whole and is worth nothing as a part (a map, say). Only a
    // file this target created, and still the one it wrote.
    virtual void Discard(const std::string& path) { (void)path; }
    // The copy is done with what it created or opened for path, published or not:
    // from now on another copy may write there.
    virtual void Release(const std::string& path) { (void)path; }
    // Why nothing may be written at path, a file or a folder ("it is a disk being
    // read"); nothing when it may. A copy of many files asks it of their folder
    // before it makes any folder there.
    virtual std::optional<std::string> Refusal(const std::string& path) const {
        (void)path;
        return std::nullopt;
    }
    // Whether a file is there already at path.
    virtual bool Exists(const std::string& path) {
        (void)path;
        return false;
    }
    // Opens the file to write at chosen places, creating it when it is missing and
    // keeping what it holds.
    virtual Result<std::unique_ptr<PositionedFile>> OpenPositioned(const std::string& path) {
        (void)path;
        return Error{"this destination takes no rescue copies"};
    }
    // The size of the file at path, and what it holds: a rescue goes on from what
    // it kept there (its outputs, its map).
    virtual Result<std::uint64_t> SizeOf(const std::string& path) {
        (void)path;
        return Error{"this destination keeps no files"};
    }
    virtual Result<std::string> ReadAll(const std::string& path) {
        (void)path;
        return Error{"this destination keeps no files"};
    }
};

// Files on this machine's file systems. Each file it writes has one writer: the
// working file (or a rescue's output) is held from Create or OpenPositioned until
// Publish, Discard or Release, and another copy that wants it meanwhile, in this
// process or another, is refused ("another copy is writing it"). Publish renames
// only the file this target wrote, and only over a regular file or nothing.
class FileSystemTarget : public CopyTarget {
public:
    FileSystemTarget();
    ~FileSystemTarget() override;
    FileSystemTarget(const FileSystemTarget&) = delete;
    FileSystemTarget& operator=(const FileSystemTarget&) = delete;

    std::optional<DestinationVolume> VolumeOf(const std::string& path) override;
    // A path that is a device or a pipe (/dev/null, /dev/stdout, say) is written
    // as it is: it has no working name and nothing to publish.
    Result<std::unique_ptr<OutputFile>> Create(const std::string& path) override;
    Failure Publish(const std::string& path, std::optional<std::time_t> modified) override;
    bool Exists(const std::string& path) override;
    void Discard(const std::string& path) override;
    void Release(const std::string& path) override;
    Result<std::unique_ptr<PositionedFile>> OpenPositioned(const std::string& path) override;
    Result<std::uint64_t> SizeOf(const std::string& path) override;
    Result<std::string> ReadAll(const std::string& path) override;

private:
    class Claim;  // a file held for this target's writing (the platform's own)
    // The files held, by the path they were created at.
    std::map<std::string, std::unique_ptr<Claim>> m_claims;
};

// Whether output to path is written as it is, with no working name: a device,
// a pipe or a terminal (/dev/null, /dev/stdout, NUL).
bool WrittenInPlace(const std::string& path);

// Treats every destination as FAT32, so that large files go in parts, except a
// drive that is refused anyway (FAT, FAT12, FAT16), which keeps its own name.
class PartsAlways : public CopyTarget {
public:
    explicit PartsAlways(CopyTarget& inner) : m_inner(inner) {}
    std::optional<DestinationVolume> VolumeOf(const std::string& path) override;
    Result<std::unique_ptr<OutputFile>> Create(const std::string& path) override {
        return m_inner.Create(path);
    }
    Failure Publish(const std::string& path, std::optional<std::time_t> modified) override {
        return m_inner.Publish(path, modified);
    }
    bool Exists(const std::string& path) override { return m_inner.Exists(path); }
    void Discard(const std::string& path) override { m_inner.Discard(path); }
    void Release(const std::string& path) override { m_inner.Release(path); }
    std::optional<std::string> Refusal(const std::string& path) const override {
        return m_inner.Refusal(path);
    }
    Result<std::unique_ptr<PositionedFile>> OpenPositioned(const std::string& path) override {
        return m_inner.OpenPositioned(path);
    }
    Result<std::uint64_t> SizeOf(const std::string& path) override { return m_inner.SizeOf(path); }
    Result<std::string> ReadAll(const std::string& path) override { return m_inner.ReadAll(path); }

private:
    CopyTarget& m_inner;
};

// Keeps copies off the disks being read: no output is created on a block device,
// nor over a file that is one of the disks or that one is read from (a loop
// device's backing file, the image a FUSE file system serves; by device and inode,
// or volume and file index on Windows, so links and other spellings of its path
// count too), nor on a file system that lies on one
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
    // Refused when the path or its working name is one of the disks: checked here,
    // before anything is written, and not again when the output is published.
    Result<std::unique_ptr<OutputFile>> Create(const std::string& path) override;
    Failure Publish(const std::string& path, std::optional<std::time_t> modified) override {
        return m_inner.Publish(path, modified);
    }
    bool Exists(const std::string& path) override { return m_inner.Exists(path); }
    void Discard(const std::string& path) override { m_inner.Discard(path); }
    void Release(const std::string& path) override { m_inner.Release(path); }
    Result<std::unique_ptr<PositionedFile>> OpenPositioned(const std::string& path) override;
    Result<std::uint64_t> SizeOf(const std::string& path) override { return m_inner.SizeOf(path); }
    Result<std::string> ReadAll(const std::string& path) override { return m_inner.ReadAll(path); }

    std::optional<std::string> Refusal(const std::string& path) const override;

private:
    CopyTarget& m_inner;
    std::vector<FileIdentity> m_disks;  // the disks' paths as given
    SourceDisks m_sources;
    BlockDeviceTables m_tables;
};

// The machine's file systems with the disks being read refused: every file the
// program writes (copies, parts, rescue maps, pictures) goes through one of these.
struct FileSystemMember {
    FileSystemTarget files;
};
class GuardedFileSystem final : private FileSystemMember, public SourceGuard {
public:
    explicit GuardedFileSystem(const std::vector<std::string>& diskPaths)
        : SourceGuard(files, diskPaths) {}
};

// Writes bytes as the file at path on the target, whole or not at all: under its
// working name until every byte is written and synced, then published. The error
// names the file and what is left of it.
Failure WriteWholeFile(CopyTarget& target, const std::string& path,
                       std::span<const std::uint8_t> bytes);

}  // namespace moravel
