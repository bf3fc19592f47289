// Serves a disk image as a failing drive: one read-only file, disk.img, whose
// reads fail at the chosen sectors as a worn disk's do, so that copying from a
// failing disk can be tried on any machine. Reads go straight through (direct
// I/O): every read(2) reaches the model, none is hidden by the page cache or
// multiplied by readahead.
#define FUSE_USE_VERSION 31

#include <fcntl.h>
#include <fuse.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "disk/failing/FailingSource.h"

namespace {

using moravel::failing::FailingSource;
using moravel::failing::FaultPlan;

constexpr const char* kFileName = "disk.img";
constexpr const char* kFilePath = "/disk.img";

const char kUsage[] =
    "Usage: moravel-failing-disk [OPTION]... IMAGE MOUNTPOINT\n"
    "Serves IMAGE read-only as MOUNTPOINT/disk.img, a disk whose chosen sectors\n"
    "fail as a failing drive's do: a read returns the bytes before its first bad\n"
    "sector and fails with EIO when it begins on one. Sectors are 512 bytes,\n"
    "counted from the start of the image. Unmount with: fusermount3 -u MOUNTPOINT\n"
    "\n"
    "  --bad FIRST-LAST     sectors FIRST to LAST (both included) never read;\n"
    "                       --bad N for one sector; may be given again\n"
    "  --weak SECTOR:N      the sector fails its first N-1 reads, then reads\n"
    "                       well for good; may be given again\n"
    "  --delay-ms N         time a read spends on the bad sector it stops at,\n"
    "                       as a drive retrying it (default 20)\n"
    "  --good-delay-us N    time per sector read well (default 0)\n"
    "  --fail-whole-request a read that reaches a bad sector fails with EIO as a\n"
    "                       whole, none of its bytes returned (as many USB-SATA\n"
    "                       bridges do)\n"
    "  --log FILE           append one line per read: OFFSET LENGTH BYTES, and\n"
    "                       EIO after a read that failed\n"
    "  --request-kib N      the kernel's largest read request, in KiB (e.g. 128,\n"
    "                       as many USB bridges take)\n"
    "  --log-times          end each line of the log with @SECONDS, the time\n"
    "                       (since 1970, to the microsecond) the read ended\n"
    "  -f                   stay in the foreground\n"
    "  -d                   foreground, with libfuse's debug output\n"
    "  -o OPTION            a mount option for libfuse (e.g. auto_unmount)\n"
    "  -h, --help           show this help\n"
    "\n"
    "A read(2) larger than the kernel's largest FUSE request (128 KiB to 1 MiB,\n"
    "by kernel) reaches the disk, and the log, as several reads.\n";

struct Server {
    std::unique_ptr<FailingSource> source;
    std::uint64_t bytes = 0;
    int log = -1;
    bool logTimes = false;
    unsigned largestRead = 0;  // bytes of the largest request the kernel sends; 0: its own
};

Server& TheServer() {
    return *static_cast<Server*>(fuse_get_context()->private_data);
}

void* Init(fuse_conn_info* connection, fuse_config* config) {
    config->direct_io = 1;
    config->kernel_cache = 0;
    if (const unsigned most = static_cast<Server*>(fuse_get_context()->private_data)->largestRead) {
        connection->max_read = most;
    }
    return fuse_get_context()->private_data;
}

int GetAttr(const char* path, struct stat* info, fuse_file_info* /*file*/) {
    std::memset(info, 0, sizeof *info);
    if (std::strcmp(path, "/") == 0) {
        info->st_mode = S_IFDIR | 0555;
        info->st_nlink = 2;
        return 0;
    }
    if (std::strcmp(path, kFilePath) == 0) {
        info->st_mode = S_IFREG | 0444;
        info->st_nlink = 1;
        info->st_size = static_cast<off_t>(TheServer().bytes);
        info->st_blksize = 512;
        return 0;
    }
    return -ENOENT;
}

int ReadDir(const char* path, void* buffer, fuse_fill_dir_t fill, off_t /*offset*/,
            fuse_file_info* /*file*/, fuse_readdir_flags /*flags*/) {
    if (std::strcmp(path, "/") != 0) {
        return -ENOENT;
    }
    const auto none = static_cast<fuse_fill_dir_flags>(0);
    fill(buffer, ".", nullptr, 0, none);
    fill(buffer, "..", nullptr, 0, none);
    fill(buffer, kFileName, nullptr, 0, none);
    return 0;
}

int Open(const char* path, fuse_file_info* file) {
    if (std::strcmp(path, kFilePath) != 0) {
        return -ENOENT;
    }
    if ((file->flags & O_ACCMODE) != O_RDONLY) {
        return -EROFS;
    }
    file->direct_io = 1;
    file->keep_cache = 0;
    return 0;
}

int Read(const char* path, char* buffer, std::size_t size, off_t offset, fuse_file_info* /*file*/) {
    if (std::strcmp(path, kFilePath) != 0 || offset < 0) {
        return -ENOENT;
    }
    Server& server = TheServer();
    const auto outcome =
        server.source->Read(static_cast<std::uint64_t>(offset),
                            std::span(reinterpret_cast<std::uint8_t*>(buffer), size));
    if (server.log >= 0) {
        std::string when;
        if (server.logTimes) {
            timespec now{};
            ::clock_gettime(CLOCK_REALTIME, &now);
            when = " @" + std::to_string(now.tv_sec) + "." +
                   std::to_string(now.tv_nsec / 1000 + 1'000'000).substr(1);
        }
        dprintf(server.log, "%" PRIu64 " %zu %zu%s%s\n", static_cast<std::uint64_t>(offset), size,
                outcome.bytes, outcome.error ? " EIO" : "", when.c_str());
    }
    return outcome.error ? -EIO : static_cast<int>(outcome.bytes);
}

bool ParseNumber(std::string_view text, std::uint64_t& value) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() && !text.empty();
}

int Usage(const std::string& problem) {
    std::cerr << "moravel-failing-disk: " << problem << "\n"
              << "Try 'moravel-failing-disk --help'.\n";
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    FaultPlan plan;
    std::string logPath;
    bool logTimes = false;
    unsigned largestRead = 0;
    std::vector<std::string> positional;
    std::vector<std::string> fuseOptions;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const auto value = [&](std::string& into) {
            if (i + 1 >= argc) {
                return false;
            }
            into = argv[++i];
            return true;
        };
        std::string text;
        std::uint64_t number = 0;
        if (arg == "-h" || arg == "--help") {
            std::cout << kUsage;
            return 0;
        }
        if (arg == "--bad") {
            if (!value(text)) {
                return Usage("--bad needs FIRST-LAST");
            }
            const auto dash = text.find('-');
            std::uint64_t first = 0;
            std::uint64_t last = 0;
            const bool parsed =
                dash == std::string::npos
                    ? ParseNumber(text, first) && ParseNumber(text, last)
                    : ParseNumber(std::string_view(text).substr(0, dash), first) &&
                          ParseNumber(std::string_view(text).substr(dash + 1), last);
            if (!parsed || first > last) {
                return Usage("not a sector range: " + text);
            }
            plan.bad.push_back({first, last});
        } else if (arg == "--weak") {
            if (!value(text)) {
                return Usage("--weak needs SECTOR:N");
            }
            const auto colon = text.find(':');
            std::uint64_t sector = 0;
            if (colon == std::string::npos ||
                !ParseNumber(std::string_view(text).substr(0, colon), sector) ||
                !ParseNumber(std::string_view(text).substr(colon + 1), number) || number == 0 ||
                number > 1'000'000) {
                return Usage("not SECTOR:N (N from 1): " + text);
            }
            plan.weak.push_back({sector, static_cast<unsigned>(number)});
        } else if (arg == "--delay-ms" || arg == "--good-delay-us") {
            if (!value(text) || !ParseNumber(text, number) || number > 3'600'000'000) {
                return Usage(std::string(arg) + " needs a number");
            }
            const auto time = static_cast<std::int64_t>(number);
            if (arg == "--delay-ms") {
                plan.failedSectorCost = std::chrono::milliseconds(time);
            } else {
                plan.goodSectorCost = std::chrono::microseconds(time);
            }
        } else if (arg == "--request-kib") {
            if (!value(text) || !ParseNumber(text, number) || number < 4 || number > 1024) {
                return Usage("--request-kib needs a number from 4 to 1024");
            }
            largestRead = static_cast<unsigned>(number * 1024);
        } else if (arg == "--log-times") {
            logTimes = true;
        } else if (arg == "--fail-whole-request") {
            plan.failWholeRequest = true;
        } else if (arg == "--log") {
            if (!value(logPath)) {
                return Usage("--log needs a file");
            }
        } else if (arg == "-f" || arg == "-d") {
            fuseOptions.emplace_back(arg);
        } else if (arg == "-o") {
            if (!value(text)) {
                return Usage("-o needs an option");
            }
            fuseOptions.emplace_back("-o");
            fuseOptions.push_back(text);
        } else if (arg.size() > 1 && arg[0] == '-') {
            return Usage("unknown option " + std::string(arg));
        } else {
            positional.emplace_back(arg);
        }
    }
    if (positional.size() != 2) {
        return Usage("needs IMAGE and MOUNTPOINT");
    }

    Server server;
    server.logTimes = logTimes;
    server.largestRead = largestRead;
    auto source = moravel::failing::OpenFailingImage(positional[0], plan);
    if (!source) {
        std::cerr << "moravel-failing-disk: " << positional[0] << ": " << source.error().reason
                  << "\n";
        return 1;
    }
    server.source = std::move(*source);
    server.bytes = server.source->Disk().Bytes();
    if (server.bytes > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) {
        std::cerr << "moravel-failing-disk: " << positional[0] << ": its size cannot be told\n";
        return 1;
    }
    // A long rescue makes millions of reads: the log goes to the file only.
    server.source->Disk().SetLogging(false);
    if (!logPath.empty()) {
        server.log = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (server.log < 0) {
            std::cerr << "moravel-failing-disk: " << logPath << ": " << std::strerror(errno)
                      << "\n";
            return 1;
        }
    }

    // One thread: a drive serves one request at a time, and the model is not
    // shared between threads.
    std::vector<std::string> fuseArgs = {argv[0], "-s", "-o",
                                         "ro,fsname=moravel-failing-disk,subtype=failing-disk"};
    if (largestRead != 0) {
        fuseArgs.push_back("-o");
        fuseArgs.push_back("max_read=" + std::to_string(largestRead));
    }
    fuseArgs.insert(fuseArgs.end(), fuseOptions.begin(), fuseOptions.end());
    fuseArgs.push_back(positional[1]);
    std::vector<char*> fuseArgv;
    for (std::string& arg : fuseArgs) {
        fuseArgv.push_back(arg.data());
    }
    fuseArgv.push_back(nullptr);

    fuse_operations operations{};
    operations.init = Init;
    operations.getattr = GetAttr;
    operations.readdir = ReadDir;
    operations.open = Open;
    operations.read = Read;
    const int result =
        fuse_main(static_cast<int>(fuseArgs.size()), fuseArgv.data(), &operations, &server);
    if (server.log >= 0) {
        ::close(server.log);
    }
    return result;
}
