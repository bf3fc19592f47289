#include <fcntl.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string_view>

#include "DriveSources.h"
#include "Udisks.h"

namespace moravel::udisks {

namespace {

constexpr char kService[] = "org.freedesktop.UDisks2";
constexpr char kRoot[] = "/org/freedesktop/UDisks2";
constexpr char kManager[] = "/org/freedesktop/UDisks2/Manager";
constexpr std::string_view kBlockDevices = "/org/freedesktop/UDisks2/block_devices/";
constexpr char kBlock[] = "org.freedesktop.UDisks2.Block";
constexpr char kPartition[] = "org.freedesktop.UDisks2.Partition";
// The password dialog waits for a person; one who walked away is not waited for
// without end.
constexpr std::uint64_t kAskingTimeoutUsec = 300ULL * 1000 * 1000;

struct BusDeleter {
    void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};
using BusPointer = std::unique_ptr<sd_bus, BusDeleter>;

struct MessageDeleter {
    void operator()(sd_bus_message* message) const { sd_bus_message_unref(message); }
};
using MessagePointer = std::unique_ptr<sd_bus_message, MessageDeleter>;

// An sd_bus_error freed when it goes.
struct BusError {
    sd_bus_error error = SD_BUS_ERROR_NULL;
    BusError() = default;
    ~BusError() { sd_bus_error_free(&error); }
    BusError(const BusError&) = delete;
    BusError& operator=(const BusError&) = delete;
    std::string Name() const { return error.name != nullptr ? error.name : ""; }
    std::string Message() const { return error.message != nullptr ? error.message : ""; }
};

BusPointer OpenSystemBus() {
    sd_bus* bus = nullptr;
    if (sd_bus_open_system(&bus) < 0) {
        return nullptr;
    }
    return BusPointer(bus);
}

// A malformed reply ends its reading: the reply is not trusted further.
struct BadReply {};

int Check(int result) {
    if (result < 0) {
        throw BadReply{};
    }
    return result;
}

// What the listing needs of one block device.
struct BlockObject {
    std::string path;
    std::string device;
    std::uint64_t size = 0;
    bool hidden = false;
    bool partition = false;
};

// A byte string property (ay), as udisks2 gives device paths: with a closing NUL.
std::string ReadByteString(sd_bus_message* message) {
    const void* bytes = nullptr;
    std::size_t size = 0;
    Check(sd_bus_message_read_array(message, 'y', &bytes, &size));
    std::string text(static_cast<const char*>(bytes), size);
    text.resize(std::strlen(text.c_str()));
    return text;
}

// Reads the variant of a Block property that the listing uses; skips any other.
void ReadBlockProperty(sd_bus_message* message, std::string_view name, BlockObject& block) {
    char type = 0;
    const char* contents = nullptr;
    Check(sd_bus_message_peek_type(message, &type, &contents));
    const std::string_view signature = contents != nullptr ? contents : "";
    if (name == "Device" && signature == "ay") {
        Check(sd_bus_message_enter_container(message, 'v', "ay"));
        block.device = ReadByteString(message);
    } else if (name == "Size" && signature == "t") {
        Check(sd_bus_message_read(message, "v", "t", &block.size));
        return;
    } else if (name == "HintIgnore" && signature == "b") {
        int hidden = 0;
        Check(sd_bus_message_read(message, "v", "b", &hidden));
        block.hidden = hidden != 0;
        return;
    } else {
        Check(sd_bus_message_skip(message, "v"));
        return;
    }
    Check(sd_bus_message_exit_container(message));
}

// One object of GetManagedObjects: its path, then its interfaces with their
// properties. Nothing when it is not a block device.
std::optional<BlockObject> ReadObject(sd_bus_message* message) {
    BlockObject block;
    const char* path = nullptr;
    Check(sd_bus_message_read(message, "o", &path));
    block.path = path;
    bool isBlock = false;
    Check(sd_bus_message_enter_container(message, 'a', "{sa{sv}}"));
    while (Check(sd_bus_message_enter_container(message, 'e', "sa{sv}")) > 0) {
        const char* interface = nullptr;
        Check(sd_bus_message_read(message, "s", &interface));
        const std::string_view name = interface;
        isBlock = isBlock || name == kBlock;
        block.partition = block.partition || name == kPartition;
        Check(sd_bus_message_enter_container(message, 'a', "{sv}"));
        while (Check(sd_bus_message_enter_container(message, 'e', "sv")) > 0) {
            const char* property = nullptr;
            Check(sd_bus_message_read(message, "s", &property));
            if (name == kBlock) {
                ReadBlockProperty(message, property, block);
            } else {
                Check(sd_bus_message_skip(message, "v"));
            }
            Check(sd_bus_message_exit_container(message));
        }
        Check(sd_bus_message_exit_container(message));
        Check(sd_bus_message_exit_container(message));
    }
    Check(sd_bus_message_exit_container(message));
    if (!isBlock) {
        return std::nullopt;
    }
    return block;
}

std::vector<BlockObject> ReadBlockObjects(sd_bus_message* reply) {
    std::vector<BlockObject> blocks;
    Check(sd_bus_message_enter_container(reply, 'a', "{oa{sa{sv}}}"));
    while (Check(sd_bus_message_enter_container(reply, 'e', "oa{sa{sv}}")) > 0) {
        if (std::optional<BlockObject> block = ReadObject(reply)) {
            blocks.push_back(std::move(*block));
        }
        Check(sd_bus_message_exit_container(reply));
    }
    return blocks;
}

std::string BaseName(const std::string& device) {
    return std::filesystem::path(device).filename().string();
}

bool MayHoldRecorderDisk(const BlockObject& block, const std::vector<std::string>& system) {
    const std::string name = BaseName(block.device);
    return !block.partition && !block.hidden && block.size > 0 &&
           (IsWholeDiskName(name) || IsLoopName(name)) &&
           std::find(system.begin(), system.end(), name) == system.end();
}

std::string Refusal(const std::string& device, const BusError& error) {
    const std::string name = error.Name();
    if (name.rfind("org.freedesktop.UDisks2.Error.NotAuthorized", 0) == 0) {
        return "Not authorized to read " + device;
    }
    if (name == SD_BUS_ERROR_NO_REPLY || name == SD_BUS_ERROR_TIMEOUT) {
        return "Not authorized to read " + device + ": no answer to the password request came";
    }
    return "udisks2 could not open " + device + ": " + error.Message();
}

}  // namespace

struct Service::Bus {
    BusPointer bus;
    bool asked = false;
};

Service::Service(std::unique_ptr<Bus> bus) : m_bus(std::move(bus)) {}
Service::~Service() = default;

std::unique_ptr<Service> Service::Connect() {
    BusPointer bus = OpenSystemBus();
    if (!bus) {
        return nullptr;
    }
    // A service that is not running but can be started counts: the bus starts it.
    BusError error;
    sd_bus_message* reply = nullptr;
    if (sd_bus_call_method(bus.get(), kService, kManager, "org.freedesktop.DBus.Peer", "Ping",
                           &error.error, &reply, "") < 0) {
        return nullptr;
    }
    sd_bus_message_unref(reply);
    auto held = std::make_unique<Bus>();
    held->bus = std::move(bus);
    return std::unique_ptr<Service>(new Service(std::move(held)));
}

std::vector<std::string> Service::WholeDisks() {
    BusError error;
    sd_bus_message* raw = nullptr;
    if (sd_bus_call_method(m_bus->bus.get(), kService, kRoot, "org.freedesktop.DBus.ObjectManager",
                           "GetManagedObjects", &error.error, &raw, "") < 0) {
        return {};
    }
    const MessagePointer reply(raw);
    std::vector<BlockObject> blocks;
    try {
        blocks = ReadBlockObjects(reply.get());
    } catch (const BadReply&) {
        return {};
    }
    const std::vector<std::string> system = SystemDiskNames();
    std::vector<std::string> disks;
    std::vector<std::string> loops;
    for (const BlockObject& block : blocks) {
        if (MayHoldRecorderDisk(block, system)) {
            (IsLoopName(BaseName(block.device)) ? loops : disks).push_back(block.device);
        }
    }
    std::sort(disks.begin(), disks.end());
    std::sort(loops.begin(), loops.end());
    disks.insert(disks.end(), loops.begin(), loops.end());
    return disks;
}

Result<int> Service::OpenReadOnly(const std::string& device) {
    sd_bus* bus = m_bus->bus.get();
    // The object of the device path (links such as /dev/disk/by-id/... too).
    BusError error;
    sd_bus_message* raw = nullptr;
    if (sd_bus_call_method(bus, kService, kManager, "org.freedesktop.UDisks2.Manager",
                           "ResolveDevice", &error.error, &raw, "a{sv}a{sv}", 1, "path", "s",
                           device.c_str(), 0) < 0) {
        return Error{"udisks2 could not find " + device + ": " + error.Message(),
                     Error::Weight::Stop};
    }
    const MessagePointer resolved(raw);
    const char* object = nullptr;
    if (sd_bus_message_enter_container(raw, 'a', "o") <= 0 ||
        sd_bus_message_read(raw, "o", &object) <= 0) {
        return Error{"udisks2 does not know " + device, Error::Weight::Stop};
    }

    if (!m_bus->asked && beforeAsking) {
        beforeAsking();
    }
    m_bus->asked = true;
    sd_bus_set_allow_interactive_authorization(bus, 1);
    sd_bus_message* call = nullptr;
    if (sd_bus_message_new_method_call(bus, &call, kService, object, kBlock, "OpenDevice") < 0) {
        return Error{"udisks2 could not be asked for " + device, Error::Weight::Stop};
    }
    const MessagePointer request(call);
    if (sd_bus_message_append(call, "sa{sv}", "r", 1, "auth.no_user_interaction", "b", 0) < 0) {
        return Error{"udisks2 could not be asked for " + device, Error::Weight::Stop};
    }
    BusError refused;
    sd_bus_message* answer = nullptr;
    if (sd_bus_call(bus, call, kAskingTimeoutUsec, &refused.error, &answer) < 0) {
        return Error{Refusal(device, refused), Error::Weight::Stop};
    }
    const MessagePointer opened(answer);
    int handed = -1;
    if (sd_bus_message_read(answer, "h", &handed) <= 0) {
        return Error{"udisks2 gave no descriptor for " + device, Error::Weight::Stop};
    }
    // The message owns the descriptor it carries.
    const int fd = ::fcntl(handed, F_DUPFD_CLOEXEC, 3);
    if (fd < 0) {
        return Error{"the descriptor udisks2 gave for " + device +
                         " could not be kept: " + std::strerror(errno),
                     Error::Weight::Stop};
    }
    // Only a descriptor that cannot write is used: the disk is never written.
    if ((::fcntl(fd, F_GETFL) & O_ACCMODE) != O_RDONLY) {
        ::close(fd);
        return Error{"udisks2 opened " + device + " for writing; it is not used",
                     Error::Weight::Stop};
    }
    return fd;
}

struct Watch::Bus {
    BusPointer bus;
    bool changed = false;
};

Watch::Watch(std::unique_ptr<Bus> bus) : m_bus(std::move(bus)) {}
Watch::~Watch() = default;

namespace {

// Objects added or removed (the first argument names the object), and property
// changes (on the object's own path): a block device's counts.
int OnUdisksSignal(sd_bus_message* message, void* userdata, sd_bus_error* /*error*/) {
    auto& changed = *static_cast<bool*>(userdata);
    std::string_view path =
        sd_bus_message_get_path(message) != nullptr ? sd_bus_message_get_path(message) : "";
    if (sd_bus_message_is_signal(message, "org.freedesktop.DBus.ObjectManager", nullptr) > 0) {
        const char* object = nullptr;
        if (sd_bus_message_read(message, "o", &object) > 0 && object != nullptr) {
            path = object;
        }
    }
    if (path.substr(0, kBlockDevices.size()) == kBlockDevices) {
        changed = true;
    }
    return 0;
}

}  // namespace

std::unique_ptr<Watch> Watch::Start() {
    BusPointer bus = OpenSystemBus();
    if (!bus) {
        return nullptr;
    }
    auto held = std::make_unique<Bus>();
    if (sd_bus_add_match(bus.get(), nullptr,
                         "type='signal',sender='org.freedesktop.UDisks2',"
                         "path_namespace='/org/freedesktop/UDisks2'",
                         OnUdisksSignal, &held->changed) < 0) {
        return nullptr;
    }
    held->bus = std::move(bus);
    return std::unique_ptr<Watch>(new Watch(std::move(held)));
}

int Watch::Descriptor() const {
    return sd_bus_get_fd(m_bus->bus.get());
}

bool Watch::TakeChanges() {
    while (sd_bus_process(m_bus->bus.get(), nullptr) > 0) {
    }
    return std::exchange(m_bus->changed, false);
}

}  // namespace moravel::udisks
