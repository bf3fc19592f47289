#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Result.h"

// udisks2 on the D-Bus system bus (Linux): how a desktop user who may not open
// /dev/sdX reads it all the same. The daemon opens the device once polkit has
// asked the user for the administrator password, and hands over the descriptor.
namespace moravel::udisks {

// A connection to the system bus with the udisks2 service on it.
class Service {
public:
    // Nothing when there is no system bus, or no udisks2 on it (neither running
    // nor startable).
    static std::unique_ptr<Service> Connect();
    ~Service();
    Service(const Service&) = delete;
    Service& operator=(const Service&) = delete;

    // The device paths of the whole disks that may hold a recorder's disk, the
    // machine's disks in name order, then loop devices: not partitions, optical
    // drives, zram or device-mapper devices, not what udisks2 is told to hide,
    // not empty, and not the disk the system runs from.
    std::vector<std::string> WholeDisks();

    // Block.OpenDevice with mode "r", the user asked by the polkit agent where
    // there is one: a read-only descriptor the caller owns, or why not ("Not
    // authorized to read /dev/sdb").
    Result<int> OpenReadOnly(const std::string& device);

    // Called once, before the first request that may ask the user (a front end
    // starts a text agent there, where no graphical one answers).
    std::function<void()> beforeAsking;

private:
    struct Bus;
    explicit Service(std::unique_ptr<Bus> bus);
    std::unique_ptr<Bus> m_bus;
};

// Follows udisks2's block devices coming and going, on a connection of its own,
// for a window's event loop to watch.
class Watch {
public:
    // Nothing when there is no system bus.
    static std::unique_ptr<Watch> Start();
    ~Watch();
    Watch(const Watch&) = delete;
    Watch& operator=(const Watch&) = delete;

    // The descriptor that becomes readable when messages arrive.
    int Descriptor() const;
    // Handles what arrived: true when a block device came or went since the last call.
    bool TakeChanges();

private:
    struct Bus;
    explicit Watch(std::unique_ptr<Bus> bus);
    std::unique_ptr<Bus> m_bus;
};

}  // namespace moravel::udisks
