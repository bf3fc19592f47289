#pragma once

#include <string>
#include <vector>

#include "disk32/Disk32Testing.h"

namespace moravel::testing {

// The BIOS disk-service library as the program loads it, with its own settings.
// Holding it open keeps its state for the DriveAccess that loads it next; the
// settings are cleared when it is opened.
class ServiceLibrary {
public:
    explicit ServiceLibrary(const std::string& path);
    ~ServiceLibrary();
    ServiceLibrary(const ServiceLibrary&) = delete;
    ServiceLibrary& operator=(const ServiceLibrary&) = delete;

    // The requests served since the last call.
    std::vector<disk32::Disk32Request> TakeRequests();

    disk32::SetGeometryFn setGeometry = nullptr;
    disk32::SetExtensionsFn setExtensions = nullptr;
    disk32::SetDriverErrorFn setDriverError = nullptr;
    disk32::FailSectorFn failSector = nullptr;

private:
    void* m_handle;
    disk32::TakeRequestsFn m_takeRequests = nullptr;
};

}  // namespace moravel::testing
