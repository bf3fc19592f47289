#pragma once

#include <functional>
#include <memory>
#include <string>

#include "DriveAccess.h"

namespace moravel {

namespace udisks {
class Service;
}

// The machine's disks as a desktop user reaches them. On Linux with udisks2 on
// the system bus, they are found through it, and a disk the user may not open
// alone is opened by it (read-only, once polkit has asked for the password);
// without udisks2 (and on Windows), they are found and opened directly.
class SystemDisks {
public:
    SystemDisks();
    ~SystemDisks();
    SystemDisks(const SystemDisks&) = delete;
    SystemDisks& operator=(const SystemDisks&) = delete;

    DriveSources Find();
    OpenedSource Open(const std::string& path);

    // Called once, before udisks2 first asks the user for the password.
    void SetBeforeAsking(std::function<void()> beforeAsking);

private:
    udisks::Service* Udisks();

    std::shared_ptr<udisks::Service> m_udisks;
    bool m_connected = false;
    std::function<void()> m_beforeAsking;
};

// The options find and open the machine's disks through the object.
void UseSystemDisks(DriveAccessOptions& options, std::shared_ptr<SystemDisks> disks);

}  // namespace moravel
