#include "TestSources.h"

#include <algorithm>

namespace moravel::testing {

namespace {

class LoggingSource final : public SectorSource {
public:
    LoggingSource(std::unique_ptr<SectorSource> inner, std::string path,
                  std::set<std::uint64_t> bad, std::shared_ptr<SourceLog> log)
        : m_inner(std::move(inner)),
          m_path(std::move(path)),
          m_bad(std::move(bad)),
          m_log(std::move(log)) {}

    std::size_t ReadAt(std::uint64_t offset, std::span<std::uint8_t> buffer) override {
        m_log->reads.push_back({m_path, offset, buffer.size()});
        std::size_t readable = buffer.size();
        const auto firstBad = m_bad.lower_bound(offset / 512);
        if (firstBad != m_bad.end() && *firstBad * 512 < offset + buffer.size()) {
            readable = static_cast<std::size_t>(std::max(*firstBad * 512, offset) - offset);
        }
        return m_inner->ReadAt(offset, buffer.first(readable));
    }

private:
    std::unique_ptr<SectorSource> m_inner;
    std::string m_path;
    std::set<std::uint64_t> m_bad;
    std::shared_ptr<SourceLog> m_log;
};

}  // namespace

SourceOpener TestOpener::Opener() {
    return [this](const std::string& path, OpenError& error) -> std::unique_ptr<SectorSource> {
        m_log->opens.push_back(path);
        auto inner = OpenFileSource(path, error);
        if (inner == nullptr) {
            return nullptr;
        }
        const auto bad = m_bad.find(path);
        return std::make_unique<LoggingSource>(
            std::move(inner), path, bad == m_bad.end() ? std::set<std::uint64_t>{} : bad->second,
            m_log);
    };
}

}  // namespace moravel::testing
