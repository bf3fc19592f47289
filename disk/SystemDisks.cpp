#include "SystemDisks.h"

#ifdef MORAVEL_HAVE_UDISKS
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

#include "Udisks.h"

namespace moravel {

#ifdef MORAVEL_HAVE_UDISKS

SystemDisks::SystemDisks() = default;
SystemDisks::~SystemDisks() = default;

udisks::Service* SystemDisks::Udisks() {
    if (!m_connected) {
        m_connected = true;
        m_udisks = udisks::Service::Connect();
        if (m_udisks) {
            m_udisks->beforeAsking = m_beforeAsking;
        }
    }
    return m_udisks.get();
}

void SystemDisks::SetBeforeAsking(std::function<void()> beforeAsking) {
    m_beforeAsking = std::move(beforeAsking);
    if (m_udisks) {
        m_udisks->beforeAsking = m_beforeAsking;
    }
}

DriveSources SystemDisks::Find() {
    DriveSources found = DetectDriveSources();
    if (udisks::Service* service = Udisks()) {
        found.hardDisks = service->WholeDisks();
        found.fromUdisks = true;
    }
    return found;
}

namespace {

// A block device that this user may not read: udisks2 may open it for them.
bool RefusedForRights(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && S_ISBLK(status.st_mode) &&
           ::access(path.c_str(), R_OK) != 0 && (errno == EACCES || errno == EPERM);
}

}  // namespace

OpenedSource SystemDisks::Open(const std::string& path) {
    if (!RefusedForRights(path)) {
        return OpenFileSource(path);
    }
    udisks::Service* service = Udisks();
    if (service == nullptr) {
        return OpenFileSource(path);
    }
    Result<int> fd = service->OpenReadOnly(path);
    if (!fd) {
        return fd.error();
    }
    return SourceOfDescriptor(*fd);
}

#else

SystemDisks::SystemDisks() = default;
SystemDisks::~SystemDisks() = default;

void SystemDisks::SetBeforeAsking(std::function<void()> beforeAsking) {
    m_beforeAsking = std::move(beforeAsking);
}

DriveSources SystemDisks::Find() {
    return DetectDriveSources();
}

OpenedSource SystemDisks::Open(const std::string& path) {
    return OpenFileSource(path);
}

#endif

void UseSystemDisks(DriveAccessOptions& options, std::shared_ptr<SystemDisks> disks) {
    options.opener = [disks](const std::string& path) { return disks->Open(path); };
    options.findDisks = [disks] { return disks->Find(); };
}

}  // namespace moravel
