// The operating system's calls on Linux and the other POSIX systems: the one file of the
// program that makes them.

#include <dlfcn.h>
#include <fcntl.h>
#include <limits.h>
#include <link.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <thread>
#include <utility>

#include "platform/platform.hpp"

namespace zk::platform {

namespace {

int fdOf(SystemHandle handle) noexcept {
    return static_cast<int>(handle.native());
}

SystemHandle handleOf(int fd) noexcept {
    return SystemHandle(fd);
}

Opened opened(int fd) noexcept {
    return fd >= 0 ? Opened{handleOf(fd), 0} : Opened{SystemHandle(), errno};
}

// A failing read or write is tried again a few times, with a short pause, before the failure
// counts: a network file system or a device can fail once and then recover. An interrupted
// call is simply repeated and doesn't count as an attempt.
constexpr int kIoAttempts = 3;
constexpr auto kIoRetryPause = std::chrono::milliseconds(20);

// Runs `call` (a read/write-style system call returning -1 and setting errno on failure) until
// it succeeds or has failed kIoAttempts times; returns its last result, errno intact.
template <typename Call>
auto retryIo(Call&& call) {
    int failures = 0;
    for (;;) {
        const auto result = call();
        if (result >= 0) {
            return result;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno == ECANCELED) {
            return result;  // the caller was asked to stop: no second try
        }
        if (++failures >= kIoAttempts) {
            return result;
        }
        const int saved = errno;
        std::this_thread::sleep_for(kIoRetryPause);
        errno = saved;
    }
}

FileInfo infoFrom(const struct stat& st) noexcept {
    FileKind kind = FileKind::Device;
    if (S_ISREG(st.st_mode)) {
        kind = FileKind::Regular;
    } else if (S_ISDIR(st.st_mode)) {
        kind = FileKind::Folder;
    } else if (S_ISLNK(st.st_mode)) {
        kind = FileKind::Link;
    } else if (S_ISFIFO(st.st_mode)) {
        kind = FileKind::Pipe;
    } else if (S_ISSOCK(st.st_mode)) {
        kind = FileKind::Socket;
    } else if (S_ISCHR(st.st_mode) && st.st_rdev == makedev(1, 3)) {
        kind = FileKind::NullDevice;
    }
    return FileInfo{.kind = kind,
                    .size = static_cast<std::uint64_t>(st.st_size),
                    .modified = st.st_mtime,
                    .permissions = static_cast<std::uint32_t>(st.st_mode & 07777),
                    .id = FileId{.device = static_cast<std::uint64_t>(st.st_dev),
                                 .file = static_cast<std::uint64_t>(st.st_ino)}};
}

InfoResult infoResult(int rc, const struct stat& st) noexcept {
    if (rc != 0) {
        return {.info = std::nullopt, .error = errno};
    }
    return {.info = infoFrom(st), .error = 0};
}

bool stopped(const std::atomic<int>* stop) noexcept {
    return stop != nullptr && stop->load() != 0;
}

constexpr int kPollMs = 100;

// How much of `count` bytes a pipe or device takes now: waits (while `stop` is not set) until
// it takes some; 0 once `stop` is set.
std::size_t waitForRoom(int fd, StreamKind kind, std::size_t count, const std::atomic<int>* stop) {
    if (kind == StreamKind::Regular) {
        return count;
    }
    for (;;) {
        if (stopped(stop)) {
            return 0;
        }
        pollfd p{fd, POLLOUT, 0};
        if (::poll(&p, 1, kPollMs) <= 0) {
            continue;
        }
        if (kind != StreamKind::Pipe || (p.revents & POLLOUT) == 0) {
            return count;  // the write reports an error or a reader that has gone
        }
        int queued = 0;
        const int size = ::fcntl(fd, F_GETPIPE_SZ);
        if (size <= 0 || ::ioctl(fd, FIONREAD, &queued) != 0) {
            return count;
        }
        if (size > queued) {
            return std::min<std::size_t>(count, static_cast<std::size_t>(size - queued));
        }
    }
}

// The named temporary files being written, for removeHiddenFiles() in a signal handler.
struct HiddenSlot {
    std::atomic<bool> used{false};
    char path[PATH_MAX] = {};
};
std::array<HiddenSlot, 8> gHiddenSlots;

std::atomic<int>* gStopFlag = nullptr;

// What a silenced library prints goes here, and no further.
ssize_t dropMessage(void*, const char*, size_t size) {
    return static_cast<ssize_t>(size);
}
FILE* gLibraryMessages = ::fopencookie(nullptr, "w", {nullptr, &dropMessage, nullptr, nullptr});

// The entry of the loaded library's import table through which its code reaches `symbol`,
// found by the library's relocations and accepted only if it holds `current` (where the symbol
// was bound); null if there is none.
void** importEntry(void* library, const char* symbol, const void* current) {
    link_map* map = nullptr;
    if (::dlinfo(library, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr) {
        return nullptr;
    }
    const ElfW(Addr) base = map->l_addr;
    // The dynamic section's addresses, relocated by the loader on most systems, else not.
    const auto at = [&](ElfW(Addr) address) { return address < base ? address + base : address; };
    const ElfW(Sym)* symbols = nullptr;
    const char* names = nullptr;
    const ElfW(Rela) * tables[2] = {nullptr, nullptr};
    std::size_t sizes[2] = {0, 0};
    bool pltRela = false;
    for (const ElfW(Dyn)* d = map->l_ld; d->d_tag != DT_NULL; ++d) {
        switch (d->d_tag) {
            case DT_SYMTAB:
                symbols = reinterpret_cast<const ElfW(Sym)*>(at(d->d_un.d_ptr));
                break;
            case DT_STRTAB:
                names = reinterpret_cast<const char*>(at(d->d_un.d_ptr));
                break;
            case DT_RELA:
                tables[0] = reinterpret_cast<const ElfW(Rela)*>(at(d->d_un.d_ptr));
                break;
            case DT_RELASZ:
                sizes[0] = d->d_un.d_val;
                break;
            case DT_JMPREL:
                tables[1] = reinterpret_cast<const ElfW(Rela)*>(at(d->d_un.d_ptr));
                break;
            case DT_PLTRELSZ:
                sizes[1] = d->d_un.d_val;
                break;
            case DT_PLTREL:
                pltRela = d->d_un.d_val == DT_RELA;
                break;
            default:
                break;
        }
    }
    if (symbols == nullptr || names == nullptr) {
        return nullptr;
    }
    for (int t = 0; t < 2; ++t) {
        if (tables[t] == nullptr || (t == 1 && !pltRela)) {
            continue;
        }
        for (std::size_t i = 0; i < sizes[t] / sizeof(ElfW(Rela)); ++i) {
            const ElfW(Rela)& r = tables[t][i];
            const auto index =
                __SIZEOF_POINTER__ == 8 ? ELF64_R_SYM(r.r_info) : ELF32_R_SYM(r.r_info);
            if (index == 0 || std::strcmp(names + symbols[index].st_name, symbol) != 0) {
                continue;
            }
            auto* entry = reinterpret_cast<void**>(base + r.r_offset);
            if (*entry == current) {
                return entry;
            }
        }
    }
    return nullptr;
}

// Whether `address` lies in the part of the library that the loader makes read-only once it has
// relocated it (RELRO).
bool readOnlyAfterLoading(const link_map* map, const void* address) {
    struct Search {
        const link_map* map;
        std::uintptr_t address;
        bool found;
    } search{map, reinterpret_cast<std::uintptr_t>(address), false};
    ::dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* data) {
            auto* s = static_cast<Search*>(data);
            if (info->dlpi_addr != s->map->l_addr ||
                std::strcmp(info->dlpi_name, s->map->l_name) != 0) {
                return 0;
            }
            const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
            for (ElfW(Half) i = 0; i < info->dlpi_phnum; ++i) {
                const ElfW(Phdr)& h = info->dlpi_phdr[i];
                if (h.p_type == PT_GNU_RELRO) {
                    const std::uintptr_t start = (info->dlpi_addr + h.p_vaddr) & ~(page - 1);
                    const std::uintptr_t end =
                        (info->dlpi_addr + h.p_vaddr + h.p_memsz) & ~(page - 1);
                    s->found = s->address >= start && s->address < end;
                }
            }
            return 1;
        },
        &search);
    return search.found;
}

// Points an import-table entry of the library elsewhere. An entry in its read-only part is made
// writable for the moment of the change.
bool redirectEntry(void* library, const char* symbol, const void* current, void* to) {
    link_map* map = nullptr;
    void** entry = importEntry(library, symbol, current);
    if (entry == nullptr || ::dlinfo(library, RTLD_DI_LINKMAP, &map) != 0) {
        return false;
    }
    if (!readOnlyAfterLoading(map, entry)) {
        *entry = to;
        return true;
    }
    const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    void* start = reinterpret_cast<void*>(reinterpret_cast<std::uintptr_t>(entry) & ~(page - 1));
    if (::mprotect(start, page, PROT_READ | PROT_WRITE) != 0) {
        return false;
    }
    *entry = to;
    ::mprotect(start, page, PROT_READ);
    return true;
}

extern "C" void onStopSignal(int signal) {
    if (gStopFlag == nullptr || gStopFlag->load() == 0) {
        if (gStopFlag != nullptr) {
            gStopFlag->store(signal);
        }
        return;
    }
    // The second signal ends the program at once, but first removes the hidden file of the
    // output under way, which a file system without unnamed files has.
    removeHiddenFiles();
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

}  // namespace

// --- zk/engine/platform.hpp ----------------------------------------------------------------

std::string errorText(int error) {
    return std::strerror(error);
}

std::size_t nameStart(std::string_view path) noexcept {
    const auto slash = path.rfind('/');
    return slash == std::string_view::npos ? 0 : slash + 1;
}

char preferredSeparator() noexcept {
    return '/';
}

std::optional<SystemHandle> standardStreamNamed(std::string_view path) noexcept {
    if (path == "/dev/stdout") {
        return standardOutput();
    }
    if (path == "/dev/stderr") {
        return standardError();
    }
    for (const std::string_view prefix : {"/dev/fd/", "/proc/self/fd/"}) {
        if (path.starts_with(prefix)) {
            const std::string_view digits = path.substr(prefix.size());
            int fd = -1;
            const auto [end, ec] =
                std::from_chars(digits.data(), digits.data() + digits.size(), fd);
            if (ec == std::errc() && end == digits.data() + digits.size() && !digits.empty() &&
                fd >= 0) {
                return handleOf(fd);
            }
        }
    }
    return std::nullopt;
}

std::vector<std::string> commandLineArguments(int argc, char** argv) {
    return argc > 1 ? std::vector<std::string>(argv + 1, argv + argc) : std::vector<std::string>();
}

SystemHandle standardOutput() noexcept {
    return handleOf(STDOUT_FILENO);
}

SystemHandle standardError() noexcept {
    return handleOf(STDERR_FILENO);
}

bool isOpen(SystemHandle handle) noexcept {
    return handle.valid() && ::fcntl(fdOf(handle), F_GETFD) >= 0;
}

bool isTerminal(SystemHandle handle) noexcept {
    return handle.valid() && ::isatty(fdOf(handle)) == 1;
}

void fillClosedStandardStreams() noexcept {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) < 0) {
            ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        }
    }
}

void installStopHandlers(std::atomic<int>& flag) {
    gStopFlag = &flag;
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    // The first signal asks the export to stop; a second one ends the program at once. No
    // SA_RESTART: a wait for a pipe's reader ends with the signal.
    action.sa_flags = 0;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

StopRequest stopRequestOf(int number) noexcept {
    switch (number) {
        case SIGINT:
            return StopRequest::Interrupt;
        case SIGTERM:
            return StopRequest::Termination;
        default:
            return StopRequest::Other;
    }
}

std::vector<std::string> namesMatching(const std::string& pattern) {
    return {pattern};
}

std::optional<FileId> fileIdOf(const std::string& path) noexcept {
    const InfoResult r = infoOf(path);
    return r.info ? std::optional(r.info->id) : std::nullopt;
}

int writeRefusal(const std::string& path) noexcept {
    return ::access(path.c_str(), W_OK) == 0 ? 0 : errno;
}

bool canCreateFileIn(const std::string& folder, const std::string& probePrefix) {
    const UnnamedFile unnamed = createUnnamedIn(folder);
    if (unnamed.handle.valid()) {
        closeFile(unnamed.handle);
        return true;
    }
    for (int attempt = 0; attempt < 16; ++attempt) {
        const std::string name = folder + "/" + probePrefix + "." + randomSuffix();
        const Opened probe = createNew(name);
        if (probe.handle.valid()) {
            closeFile(probe.handle);
            removeFile(name);
            return true;
        }
        if (probe.error != EEXIST) {
            return false;
        }
    }
    return false;
}

// --- What a path or an open file is --------------------------------------------------------

InfoResult infoOf(const std::string& path, Links links) noexcept {
    struct stat st {};
    const int rc = links == Links::Follow ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st);
    return infoResult(rc, st);
}

InfoResult infoOf(SystemHandle handle) noexcept {
    struct stat st {};
    if (!handle.valid()) {
        return {.info = std::nullopt, .error = EBADF};
    }
    return infoResult(retryIo([&] { return ::fstat(fdOf(handle), &st); }), st);
}

std::optional<std::size_t> longestNameIn(const std::string& folder) noexcept {
    const long nameMax = ::pathconf(folder.c_str(), _PC_NAME_MAX);
    return nameMax > 0 ? std::optional(static_cast<std::size_t>(nameMax)) : std::nullopt;
}

std::size_t longestName() noexcept {
    return NAME_MAX;
}

// --- Opening, reading, writing -------------------------------------------------------------

Opened openForReading(const std::string& path) noexcept {
    return opened(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
}

void prepareSequentialReading(SystemHandle file) noexcept {
    const int fd = fdOf(file);
    // Reads of a file never wait anyway; the flag is cleared so that none ever returns EAGAIN.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
}

Opened openForWriting(const std::string& path, const std::atomic<int>* stop) noexcept {
    // A pipe with no reader holds the open up until a reader comes or a signal stops it.
    int fd = -1;
    do {
        fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR && !stopped(stop));
    return opened(fd);
}

UnnamedFile createUnnamedIn(const std::string& folder) noexcept {
    const int fd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (fd >= 0) {
        return {.handle = handleOf(fd), .error = 0, .unsupported = false};
    }
    const int err = errno;
    return {.handle = SystemHandle(),
            .error = err,
            .unsupported = err == EOPNOTSUPP || err == EISDIR || err == EINVAL};
}

Opened createNew(const std::string& path) noexcept {
    return opened(::open(path.c_str(), O_CREAT | O_EXCL | O_NOFOLLOW | O_WRONLY | O_CLOEXEC, 0666));
}

void setPermissions(SystemHandle file, std::uint32_t permissions) noexcept {
    ::fchmod(fdOf(file), static_cast<mode_t>(permissions));
}

int closeFile(SystemHandle file) noexcept {
    return ::close(fdOf(file)) == 0 ? 0 : errno;
}

IoResult readAt(SystemHandle file, std::uint64_t offset, void* buffer, std::size_t count) noexcept {
    const ssize_t n =
        retryIo([&] { return ::pread(fdOf(file), buffer, count, static_cast<off_t>(offset)); });
    return n < 0 ? IoResult{0, errno} : IoResult{static_cast<std::size_t>(n), 0};
}

StreamKind streamKindOf(SystemHandle handle) noexcept {
    struct stat st {};
    if (::fstat(fdOf(handle), &st) != 0) {
        return StreamKind::Other;
    }
    return S_ISREG(st.st_mode)    ? StreamKind::Regular
           : S_ISFIFO(st.st_mode) ? StreamKind::Pipe
                                  : StreamKind::Other;
}

IoResult writeSome(SystemHandle handle, const char* data, std::size_t count,
                   const std::atomic<int>* stop, std::optional<StreamKind>& kind) noexcept {
    const int fd = fdOf(handle);
    std::size_t piece = count;
    if (stop != nullptr) {
        if (!kind) {
            kind = streamKindOf(handle);
        }
        piece = waitForRoom(fd, *kind, count, stop);
        if (piece == 0) {
            return {0, ECANCELED};
        }
    }
    const ssize_t n = retryIo([&]() -> ssize_t {
        const ssize_t w = ::write(fd, data, piece);
        if (w < 0 && errno == EINTR && stopped(stop)) {
            errno = ECANCELED;
        } else if (w < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // A non-blocking pipe that is full: wait until the reader has caught up.
            pollfd p{fd, POLLOUT, 0};
            ::poll(&p, 1, kPollMs);
            errno = stopped(stop) ? ECANCELED : EINTR;
        }
        return w;
    });
    if (n < 0) {
        return {0, stopped(stop) ? ECANCELED : errno};
    }
    return {static_cast<std::size_t>(n), 0};
}

// --- Putting files in place ----------------------------------------------------------------

int syncFile(SystemHandle file) noexcept {
    return ::fsync(fdOf(file)) == 0 || errno == EINVAL ? 0 : errno;
}

bool syncFolder(const std::string& folder) noexcept {
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) {
        return false;
    }
    const bool ok = ::fsync(dir) == 0 || errno == EINVAL;  // some file systems can't sync folders
    ::close(dir);
    return ok;
}

int nameUnnamed(SystemHandle file, const std::string& path) noexcept {
    const std::string procPath = "/proc/self/fd/" + std::to_string(fdOf(file));
    int rc = ::linkat(AT_FDCWD, procPath.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW);
    if (rc != 0 && errno == ENOENT) {
        // No /proc: linking by descriptor works for a privileged process.
        rc = ::linkat(fdOf(file), "", AT_FDCWD, path.c_str(), AT_EMPTY_PATH);
    }
    return rc == 0 ? 0 : errno;
}

std::optional<std::string> pathOfOpenFile(SystemHandle file) {
    std::string byDescriptor = "/proc/self/fd/" + std::to_string(fdOf(file));
    if (::access(byDescriptor.c_str(), F_OK) == 0) {
        return byDescriptor;
    }
    return std::nullopt;
}

int renameFile(const std::string& from, const std::string& to) noexcept {
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

int renameNoReplace(const std::string& from, const std::string& to) noexcept {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return 0;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return errno;
    }
    // A file system without the flag: check, then rename.
    struct stat st {};
    if (::lstat(to.c_str(), &st) == 0) {
        return EEXIST;
    }
    return renameFile(from, to);
}

int linkFile(const std::string& existing, const std::string& path) noexcept {
    return ::link(existing.c_str(), path.c_str()) == 0 ? 0 : errno;
}

int removeFile(const std::string& path) noexcept {
    return ::unlink(path.c_str()) == 0 ? 0 : errno;
}

int makeFolder(const std::string& path) noexcept {
    return ::mkdir(path.c_str(), 0777) == 0 ? 0 : errno;
}

void removeFolder(const std::string& path) noexcept {
    ::rmdir(path.c_str());
}

int rememberHiddenFile(const std::string& path) noexcept {
    if (path.size() >= PATH_MAX) {
        return -1;
    }
    for (std::size_t i = 0; i < gHiddenSlots.size(); ++i) {
        HiddenSlot& slot = gHiddenSlots[i];
        if (!slot.used.load()) {
            std::memcpy(slot.path, path.c_str(), path.size() + 1);
            slot.used.store(true);
            return static_cast<int>(i);
        }
    }
    return -1;
}

void forgetHiddenFile(int& slot) noexcept {
    if (slot >= 0) {
        gHiddenSlots[static_cast<std::size_t>(slot)].used.store(false);
        slot = -1;
    }
}

void removeHiddenFiles() noexcept {
    for (HiddenSlot& slot : gHiddenSlots) {
        if (slot.used.load()) {
            ::unlink(slot.path);
        }
    }
}

// --- Locks among processes -----------------------------------------------------------------

Opened openLockFile(const std::string& path) noexcept {
    return opened(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
}

int tryLock(SystemHandle file) noexcept {
    if (::flock(fdOf(file), LOCK_EX | LOCK_NB) == 0) {
        return 0;
    }
    return errno == EINTR ? EWOULDBLOCK : errno;
}

// --- The process ---------------------------------------------------------------------------

int processId() noexcept {
    return static_cast<int>(::getpid());
}

void* mapMemory(std::size_t bytes) noexcept {
    void* p = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return p == MAP_FAILED ? nullptr : p;
}

void unmapMemory(void* start, std::size_t bytes) noexcept {
    ::munmap(start, bytes);
}

void adviseHugePages(void* start, std::size_t bytes) noexcept {
    ::madvise(start, bytes, MADV_HUGEPAGE);
}

std::optional<std::tm> localTime(std::time_t t) noexcept {
    std::tm local{};
    return ::localtime_r(&t, &local) != nullptr ? std::optional(local) : std::nullopt;
}

std::optional<std::tm> utcTime(std::time_t t) noexcept {
    std::tm utc{};
    return ::gmtime_r(&t, &utc) != nullptr ? std::optional(utc) : std::nullopt;
}

std::time_t fromUtc(std::tm clock) noexcept {
    return ::timegm(&clock);
}

std::string temporaryFolder() {
    const char* tmp = std::getenv("TMPDIR");
    return tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
}

std::string userSettingsFolder() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    const char* home = std::getenv("HOME");
    return xdgSettingsFolder(xdg ? xdg : "", home ? home : "");
}

// --- A library loaded when first needed ----------------------------------------------------

void* openLibrary(const char* name) noexcept {
    return ::dlopen(name, RTLD_NOW | RTLD_LOCAL);
}

void* symbolOf(void* library, const char* name) noexcept {
    return ::dlsym(library, name);
}

bool redirectImport(void* library, const char* symbol, const void* current, void* to) noexcept {
    return redirectEntry(library, symbol, current, to);
}

bool silenceLibrary(void* library) noexcept {
    return gLibraryMessages != nullptr &&
           redirectEntry(library, "stderr", &stderr, &gLibraryMessages);
}

struct TemporaryStreams::File {
    TemporaryStreams* owner;
    int fd;
    FILE* stream;

    static ssize_t read(void* cookie, char* buffer, size_t size) {
        auto* f = static_cast<File*>(cookie);
        ssize_t n;
        do {
            n = ::read(f->fd, buffer, size);
        } while (n < 0 && errno == EINTR);
        if (n < 0) {
            f->owner->fail(errno, false);
        }
        return n;
    }
    static ssize_t write(void* cookie, const char* buffer, size_t size) {
        auto* f = static_cast<File*>(cookie);
        for (size_t done = 0; done < size;) {
            const ssize_t n = ::write(f->fd, buffer + done, size - done);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                f->owner->fail(n < 0 ? errno : ENOSPC, false);
                return -1;
            }
            done += static_cast<size_t>(n);
        }
        return static_cast<ssize_t>(size);
    }
    static int seek(void* cookie, off64_t* offset, int whence) {
        auto* f = static_cast<File*>(cookie);
        const off64_t at = ::lseek64(f->fd, *offset, whence);
        if (at < 0) {
            return -1;
        }
        *offset = at;
        return 0;
    }
    static int close(void* cookie) {
        auto* f = static_cast<File*>(cookie);
        const int saved = errno;  // the library may report an errno after closing a part
        ::close(std::exchange(f->fd, -1));
        errno = saved;
        return 0;
    }
};

namespace {

int makeTemporaryFile(const std::string& folder) {
    int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)) {
        return fd;
    }
    std::string name = folder + "/.zk-workbook-XXXXXX";
    fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd >= 0) {
        ::unlink(name.c_str());
    }
    return fd;
}

}  // namespace

TemporaryStreams::TemporaryStreams(std::string folder) : folder_(std::move(folder)) {}

TemporaryStreams::~TemporaryStreams() {
    closeAll();
}

FILE* TemporaryStreams::open() {
    const int fd = makeTemporaryFile(folder_);
    if (fd < 0) {
        fail(errno, true);
        return nullptr;
    }
    File& file = files_.emplace_back(File{this, fd, nullptr});
    static const cookie_io_functions_t io{&File::read, &File::write, &File::seek, &File::close};
    file.stream = ::fopencookie(&file, "w+", io);
    if (file.stream == nullptr) {
        fail(errno, true);
        ::close(fd);
        files_.pop_back();
        return nullptr;
    }
    ::setvbuf(file.stream, nullptr, _IOFBF, 64 * 1024);
    return file.stream;
}

void TemporaryStreams::closeAll() noexcept {
    for (File& file : files_) {
        if (file.fd >= 0) {
            std::fclose(file.stream);  // calls File::close
        }
    }
    files_.clear();
}

void TemporaryStreams::noteFailure(int err) noexcept {
    fail(err, false);
}

bool TemporaryStreams::holds(const FILE* stream) const noexcept {
    return std::any_of(files_.begin(), files_.end(),
                       [&](const File& f) { return f.stream == stream && f.fd >= 0; });
}

void TemporaryStreams::fail(int err, bool creating) noexcept {
    if (failure_ == 0) {
        failure_ = err != 0 ? err : EIO;
        failedToCreate_ = creating;
    }
}

}  // namespace zk::platform
