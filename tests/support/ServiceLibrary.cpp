#include "ServiceLibrary.h"

#include <algorithm>
#include <stdexcept>

#include "disk/SharedLibrary.h"

namespace moravel::testing {

namespace {

template <typename Fn>
Fn Find(void* handle, const char* name) {
    auto* found = SharedLibrarySymbol(handle, name);
    if (found == nullptr) {
        throw std::runtime_error(std::string("the BIOS service library lacks ") + name);
    }
    return reinterpret_cast<Fn>(found);
}

}  // namespace

ServiceLibrary::ServiceLibrary(const std::string& path) : m_handle(LoadSharedLibrary(path)) {
    if (m_handle == nullptr) {
        throw std::runtime_error("cannot load " + path);
    }
    setGeometry = Find<disk32::SetGeometryFn>(m_handle, "Disk32SetGeometry");
    setExtensions = Find<disk32::SetExtensionsFn>(m_handle, "Disk32SetExtensions");
    setDriverError = Find<disk32::SetDriverErrorFn>(m_handle, "Disk32SetDriverError");
    failSector = Find<disk32::FailSectorFn>(m_handle, "Disk32FailSector");
    m_takeRequests = Find<disk32::TakeRequestsFn>(m_handle, "Disk32TakeRequests");
    Find<disk32::ResetSettingsFn>(m_handle, "Disk32ResetSettings")();
}

ServiceLibrary::~ServiceLibrary() {
    FreeSharedLibrary(m_handle);
}

std::vector<disk32::Disk32Request> ServiceLibrary::TakeRequests() {
    std::vector<disk32::Disk32Request> requests(4096);
    const auto total = m_takeRequests(requests.data(), 4096);
    requests.resize(std::min<std::uint32_t>(total, 4096));
    return requests;
}

}  // namespace moravel::testing
