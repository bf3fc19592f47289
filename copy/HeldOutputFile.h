#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "CopyTarget.h"

namespace moravel {

// An output file that hands its writes to the system in pieces of up to 256 KiB:
// one system call per cluster would cost more than the copying itself. Bytes
// that follow the held ones in the caller's memory (the clusters of one read)
// join them uncopied. The platforms give the call that writes.
class HeldOutputFile : public OutputFile {
public:
    static constexpr std::size_t kWriteBehind = 256 * 1024;

    bool Write(std::span<const std::uint8_t> bytes, std::size_t& written) final;
    bool Flush() final;
    std::string Failure() const final { return m_failure; }
    std::optional<std::uint64_t> BytesWritten() const final { return m_written; }

protected:
    // Writes some of the bytes (at least one): how many, or nothing when the
    // system refuses, with its reason in failure.
    virtual std::optional<std::size_t> WriteSome(std::span<const std::uint8_t> bytes,
                                                 std::string& failure) = 0;
    void SetFailure(std::string reason) { m_failure = std::move(reason); }

private:
    std::span<const std::uint8_t> m_held;
    std::string m_failure;
    std::uint64_t m_written = 0;
};

}  // namespace moravel
