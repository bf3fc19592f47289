#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "DestinationVolume.h"

namespace moravel {

// An output file the copy writes, closed when it is destroyed.
class OutputFile {
public:
    virtual ~OutputFile() = default;
    // Writes the bytes; false when not all of them could be written (written says
    // how many were).
    virtual bool Write(std::span<const std::uint8_t> bytes, std::size_t& written) = 0;
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

}  // namespace moravel
