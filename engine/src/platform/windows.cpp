// The operating system's calls on Windows: the one file of the program that makes them there.
// Paths arrive as UTF-8 and are handed to the system's wide-character calls; failures come back
// as the errno values the rest of the program tests (one table below maps the system's codes).

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// After windows.h, which these need.
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <random>
#include <thread>
#include <utility>

#include "platform/platform.hpp"

namespace zk::platform {

namespace {

// --- Names, handles and error numbers ------------------------------------------------------

std::wstring wide(std::string_view text) {
    if (text.empty()) {
        return {};
    }
    const int size = static_cast<int>(text.size());
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
    std::wstring out(static_cast<std::size_t>(std::max(n, 0)), L'\0');
    if (n > 0) {
        ::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, out.data(), n);
    }
    return out;
}

std::string narrow(const wchar_t* text, int length = -1) {
    if (text == nullptr || length == 0) {
        return {};
    }
    int n = ::WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(std::max(n, 0)), '\0');
    if (n > 0) {
        ::WideCharToMultiByte(CP_UTF8, 0, text, length, out.data(), n, nullptr, nullptr);
    }
    if (length < 0 && !out.empty()) {
        out.pop_back();  // the terminating null, counted when the length is not given
    }
    return out;
}

// The errno value for a system error code.
int errnoOf(DWORD code) noexcept {
    switch (code) {
        case ERROR_SUCCESS:
            return 0;
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_DRIVE:
        case ERROR_BAD_NETPATH:
        case ERROR_BAD_NET_NAME:
        case ERROR_BAD_UNIT:
            return ENOENT;
        case ERROR_ACCESS_DENIED:
        case ERROR_INVALID_ACCESS:
        case ERROR_CANNOT_MAKE:
        case ERROR_DELETE_PENDING:
            return EACCES;
        case ERROR_PRIVILEGE_NOT_HELD:
            return EPERM;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
            return EEXIST;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return ENOSPC;
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
        case ERROR_USER_MAPPED_FILE:
        case ERROR_PIPE_BUSY:
        case ERROR_LOCK_FAILED:
        case ERROR_BUSY:
            return EBUSY;
        case ERROR_INVALID_NAME:
        case ERROR_BAD_PATHNAME:
        case ERROR_INVALID_PARAMETER:
        case ERROR_NEGATIVE_SEEK:
            return EINVAL;
        case ERROR_FILENAME_EXCED_RANGE:
            return ENAMETOOLONG;
        case ERROR_DIRECTORY:  // a folder's name was expected
            return ENOTDIR;
        case ERROR_DIR_NOT_EMPTY:
            return ENOTEMPTY;
        case ERROR_NOT_SAME_DEVICE:
            return EXDEV;
        case ERROR_WRITE_PROTECT:
            return EROFS;
        case ERROR_BROKEN_PIPE:
        case ERROR_NO_DATA:
        case ERROR_PIPE_NOT_CONNECTED:
            return EPIPE;
        case ERROR_OPERATION_ABORTED:
            return ECANCELED;
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY:
        case ERROR_NOT_ENOUGH_QUOTA:
            return ENOMEM;
        case ERROR_TOO_MANY_OPEN_FILES:
            return EMFILE;
        case ERROR_INVALID_HANDLE:
            return EBADF;
        case ERROR_NOT_READY:
        case ERROR_DEV_NOT_EXIST:
            return ENXIO;
        case ERROR_INVALID_FUNCTION:
        case ERROR_NOT_SUPPORTED:
        case ERROR_CALL_NOT_IMPLEMENTED:
            return ENOTSUP;
        case ERROR_FILE_TOO_LARGE:
            return EFBIG;
        default:
            return EIO;
    }
}

int lastError() noexcept {
    return errnoOf(::GetLastError());
}

HANDLE nativeOf(SystemHandle handle) noexcept {
    return reinterpret_cast<HANDLE>(handle.native());
}

SystemHandle handleOf(HANDLE h) noexcept {
    return h == INVALID_HANDLE_VALUE || h == nullptr
               ? SystemHandle()
               : SystemHandle(reinterpret_cast<std::intptr_t>(h));
}

Opened opened(HANDLE h) noexcept {
    return h != INVALID_HANDLE_VALUE ? Opened{handleOf(h), 0} : Opened{SystemHandle(), lastError()};
}

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

bool isSeparator(char c) noexcept {
    return c == '/' || c == '\\';
}

bool isFolder(const std::wstring& path) noexcept {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// --- Devices -------------------------------------------------------------------------------

// The name of a device, as every folder has it, whatever follows a dot or a colon: "NUL" of
// "nul", "NUL.csv", "C:\data\nul.txt" and "\\.\NUL".
std::string_view bareName(std::string_view path) noexcept {
    std::string_view name = path.substr(nameStart(path));
    name = name.substr(0, std::min(name.find('.'), name.find(':')));
    while (!name.empty() && name.back() == ' ') {
        name.remove_suffix(1);
    }
    return name;
}

std::optional<FileKind> deviceNamed(std::string_view path) noexcept {
    const std::string_view name = bareName(path);
    std::array<char, 8> upper{};
    if (name.empty() || name.size() > upper.size()) {
        return std::nullopt;
    }
    for (std::size_t i = 0; i < name.size(); ++i) {
        const char c = name[i];
        upper[i] = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    }
    const std::string_view n(upper.data(), name.size());
    if (n == "NUL") {
        return FileKind::NullDevice;
    }
    if (n == "CON" || n == "PRN" || n == "AUX" || n == "CONIN$" || n == "CONOUT$") {
        return FileKind::Device;
    }
    if (n.size() == 4 && (n.starts_with("COM") || n.starts_with("LPT")) && n[3] >= '1' &&
        n[3] <= '9') {
        return FileKind::Device;
    }
    return std::nullopt;
}

// Whether `path` names a pipe: "\\.\pipe\NAME" (with either separator, in any case).
bool isPipeName(std::string_view path) noexcept {
    if (path.size() < 9 || !isSeparator(path[0]) || !isSeparator(path[1]) ||
        (path[2] != '.' && path[2] != '?') || !isSeparator(path[3]) || !isSeparator(path[8])) {
        return false;
    }
    for (std::size_t i = 0; i < 4; ++i) {
        if ((path[4 + i] | 0x20) != "pipe"[i]) {
            return false;
        }
    }
    return true;
}

// A device's identity: its own, shared by all its names.
FileInfo deviceInfo(FileKind kind, std::string_view path) noexcept {
    std::uint64_t hash = 1469598103934665603ull;
    for (const char c : bareName(path)) {
        hash = (hash ^ static_cast<unsigned char>(c | 0x20)) * 1099511628211ull;
    }
    return FileInfo{.kind = kind,
                    .size = 0,
                    .modified = 0,
                    .permissions = 0666,
                    .id = FileId{.device = ~std::uint64_t{0}, .file = hash}};
}

// --- What an open file is ------------------------------------------------------------------

std::time_t timeOf(const FILETIME& t) noexcept {
    // 100 ns steps since 1601-01-01.
    const std::uint64_t ticks = (std::uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime;
    constexpr std::uint64_t k1970 = 116444736000000000ull;
    return ticks < k1970 ? 0 : static_cast<std::time_t>((ticks - k1970) / 10000000ull);
}

InfoResult infoOfNative(HANDLE h) noexcept {
    ::SetLastError(ERROR_SUCCESS);
    const DWORD type = ::GetFileType(h);
    if (type == FILE_TYPE_UNKNOWN && ::GetLastError() != ERROR_SUCCESS) {
        return {.info = std::nullopt, .error = lastError()};
    }
    if (type != FILE_TYPE_DISK) {
        FileInfo info{.kind = type == FILE_TYPE_PIPE ? FileKind::Pipe : FileKind::Device,
                      .size = 0,
                      .modified = 0,
                      .permissions = 0666,
                      .id = FileId{.device = 0, .file = reinterpret_cast<std::uintptr_t>(h)}};
        return {.info = info, .error = 0};
    }
    BY_HANDLE_FILE_INFORMATION by{};
    if (!::GetFileInformationByHandle(h, &by)) {
        return {.info = std::nullopt, .error = lastError()};
    }
    FileKind kind = FileKind::Regular;
    if ((by.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        // Only a handle opened on the link itself still shows a link's attribute; other reparse
        // points (a cloud file's placeholder, a deduplicated file) are what they hold.
        FILE_ATTRIBUTE_TAG_INFO tag{};
        if (::GetFileInformationByHandleEx(h, FileAttributeTagInfo, &tag, sizeof tag) &&
            (tag.ReparseTag == IO_REPARSE_TAG_SYMLINK ||
             tag.ReparseTag == IO_REPARSE_TAG_MOUNT_POINT)) {
            kind = FileKind::Link;
        }
    }
    if (kind != FileKind::Link && (by.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        kind = FileKind::Folder;
    }
    const bool readOnly = (by.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
    const std::uint32_t permissions = kind == FileKind::Folder ? 0755u : readOnly ? 0444u : 0644u;
    FileInfo info{
        .kind = kind,
        .size = (std::uint64_t{by.nFileSizeHigh} << 32) | by.nFileSizeLow,
        .modified = timeOf(by.ftLastWriteTime),
        .permissions = permissions,
        .id = FileId{.device = by.dwVolumeSerialNumber,
                     .file = (std::uint64_t{by.nFileIndexHigh} << 32) | by.nFileIndexLow}};
    return {.info = info, .error = 0};
}

// --- Reading and writing, tried again ------------------------------------------------------

// A failing read or write is tried again a few times, with a short pause, before the failure
// counts: a network drive can fail once and then recover.
constexpr int kIoAttempts = 3;
constexpr auto kIoRetryPause = std::chrono::milliseconds(20);

bool stopped(const std::atomic<int>* stop) noexcept {
    return stop != nullptr && stop->load() != 0;
}

// Runs `call` (returning true on success) until it succeeds or has failed kIoAttempts times;
// the error number of the last failure, or 0.
template <typename Call>
int retryIo(Call&& call, const std::atomic<int>* stop = nullptr) {
    for (int failures = 0;;) {
        if (call()) {
            return 0;
        }
        const DWORD code = ::GetLastError();
        if (stopped(stop)) {
            return ECANCELED;
        }
        const int err = errnoOf(code);
        // A reader that has gone, a full disk or a missing file does not come back.
        if (++failures >= kIoAttempts || err == EPIPE || err == ENOSPC || err == EBADF ||
            err == EACCES) {
            return err;
        }
        std::this_thread::sleep_for(kIoRetryPause);
    }
}

// --- Replacing a file that another program holds open --------------------------------------

// Why a rename onto `to` was refused: a target that another program holds open (a CSV open in a
// spreadsheet) is EBUSY rather than "access denied"; a folder is EISDIR.
int renameRefusal(const std::wstring& to, DWORD code) noexcept {
    if (code != ERROR_ACCESS_DENIED && code != ERROR_SHARING_VIOLATION &&
        code != ERROR_LOCK_VIOLATION && code != ERROR_USER_MAPPED_FILE) {
        return errnoOf(code);
    }
    const DWORD attributes = ::GetFileAttributesW(to.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return errnoOf(code);
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return EISDIR;
    }
    if (code != ERROR_ACCESS_DENIED) {
        return EBUSY;
    }
    // Replacing needs the target opened for deletion, which a program holding it open without
    // sharing that (as spreadsheets do) refuses with a sharing violation.
    const HANDLE probe = ::CreateFileW(to.c_str(), DELETE, kShareAll, nullptr, OPEN_EXISTING,
                                       FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (probe == INVALID_HANDLE_VALUE) {
        return ::GetLastError() == ERROR_SHARING_VIOLATION ? EBUSY : EACCES;
    }
    ::CloseHandle(probe);
    return EACCES;
}

// --- Hidden files, stopping ----------------------------------------------------------------

constexpr std::size_t kHiddenPathMax = 4096;

// The named temporary files being written, for removeHiddenFiles() on the console's thread.
struct HiddenSlot {
    std::atomic<int> state{0};  // 0: free, 1: being filled, 2: a file to remove
    wchar_t path[kHiddenPathMax] = {};
};
std::array<HiddenSlot, 8> gHiddenSlots;

std::atomic<int>* gStopFlag = nullptr;

// The console's output code page before this program set UTF-8 (0: unchanged), given back when
// the program ends: the console outlives it.
std::atomic<UINT> gEarlierCodePage{0};

void restoreConsole() noexcept {
    if (const UINT earlier = gEarlierCodePage.exchange(0); earlier != 0) {
        ::SetConsoleOutputCP(earlier);
    }
}

constexpr int kInterrupt = 2;     // the numbers POSIX gives an interrupt and a termination
constexpr int kTermination = 15;  // request, which the front ends also see

// Runs on a thread of its own that the system starts for each event.
BOOL WINAPI onConsoleEvent(DWORD event) {
    const bool interrupt = event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT;
    const int number = interrupt ? kInterrupt : kTermination;
    int expected = 0;
    if (gStopFlag != nullptr && gStopFlag->compare_exchange_strong(expected, number)) {
        if (!interrupt) {
            // A closed console window or a logoff ends the process when this returns: give
            // the export a moment to stop and clean up, then remove what is left.
            ::Sleep(3000);
            removeHiddenFiles();
        }
        return TRUE;
    }
    // The second one ends the program at once, as a second signal does on POSIX, but first
    // removes the hidden file of the output under way. Not ExitProcess: that would run the C
    // library's clean-up, which waits for a lock that a stopped thread may hold.
    removeHiddenFiles();
    restoreConsole();
    ::TerminateProcess(::GetCurrentProcess(), interrupt ? 130 : 143);
    return TRUE;
}

}  // namespace

// --- zk/engine/platform.hpp ----------------------------------------------------------------

std::string errorText(int error) {
    // The words of the Linux build wherever the cause is the same, so that a message reads
    // alike on both systems (msvcrt's own texts differ from them); Windows' own causes in words
    // of ours.
    switch (error) {
        case EBUSY:
            return "The file is open in another program; close it there and try again";
        case ENOENT:
            return "No such file or directory";
        case EACCES:
            return "Permission denied";
        case EPERM:
            return "Operation not permitted";
        case EEXIST:
            return "File exists";
        case ENOSPC:
            return "No space left on device";
        case EINVAL:
            return "Invalid argument";
        case ENAMETOOLONG:
            return "File name too long";
        case EISDIR:
            return "Is a directory";
        case ENOTDIR:
            return "Not a directory";
        case ENOTEMPTY:
            return "Directory not empty";
        case EXDEV:
            return "Cannot be moved to another drive";
        case EROFS:
            return "The drive is write-protected";
        case EPIPE:
            return "Broken pipe";
        case ECANCELED:
            return "Operation canceled";
        case ENOMEM:
            return "Cannot allocate memory";
        case EMFILE:
            return "Too many open files";
        case EBADF:
            return "Bad file descriptor";
        case ENXIO:
            return "The drive or device is not ready";
        case ENOTSUP:
        case ENOSYS:
            return "Operation not supported";
        case EFBIG:
            return "File too large";
        case EWOULDBLOCK:
            return "In use by another program";
        case EINTR:
            return "Interrupted system call";
        case EIO:
            return "Input/output error";
        default:
            return std::strerror(error);
    }
}

std::size_t nameStart(std::string_view path) noexcept {
    const auto slash = path.find_last_of("/\\");
    if (slash != std::string_view::npos) {
        return slash + 1;
    }
    const bool drive = path.size() >= 2 && path[1] == ':' &&
                       ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
    return drive ? 2 : 0;
}

char preferredSeparator() noexcept {
    return '\\';
}

std::optional<SystemHandle> standardStreamNamed(std::string_view /*path*/) noexcept {
    return std::nullopt;  // Windows has no names for open streams
}

std::vector<std::string> commandLineArguments(int /*argc*/, char** /*argv*/) {
    // argv is in the ANSI code page; the wide command line has every name as it was typed.
    int count = 0;
    wchar_t** arguments = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    std::vector<std::string> out;
    if (arguments == nullptr) {
        return out;
    }
    for (int i = 1; i < count; ++i) {
        out.push_back(narrow(arguments[i]));
    }
    ::LocalFree(arguments);
    return out;
}

SystemHandle standardOutput() noexcept {
    return handleOf(::GetStdHandle(STD_OUTPUT_HANDLE));
}

SystemHandle standardError() noexcept {
    return handleOf(::GetStdHandle(STD_ERROR_HANDLE));
}

bool isOpen(SystemHandle handle) noexcept {
    if (!handle.valid()) {
        return false;
    }
    ::SetLastError(ERROR_SUCCESS);
    return ::GetFileType(nativeOf(handle)) != FILE_TYPE_UNKNOWN ||
           ::GetLastError() == ERROR_SUCCESS;
}

bool isTerminal(SystemHandle handle) noexcept {
    DWORD mode = 0;
    return handle.valid() && ::GetConsoleMode(nativeOf(handle), &mode) != 0;
}

// Also puts the three streams in binary mode (no "\r" is added before a "\n" of a CSV or a
// message) and the console's output in UTF-8, in which all text of this program is written,
// until the program ends.
void fillClosedStandardStreams() noexcept {
    const DWORD ids[3] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    FILE* const streams[3] = {stdin, stdout, stderr};
    for (int fd = 0; fd <= 2; ++fd) {
        if (!isOpen(handleOf(::GetStdHandle(ids[fd])))) {
            const HANDLE nul = ::CreateFileW(L"NUL", fd == 0 ? GENERIC_READ : GENERIC_WRITE,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                             OPEN_EXISTING, 0, nullptr);
            if (nul != INVALID_HANDLE_VALUE) {
                ::SetStdHandle(ids[fd], nul);
            }
        }
        if (::_get_osfhandle(fd) < 0) {  // the C library's stream has no file behind it
            std::freopen("NUL", fd == 0 ? "rb" : "wb", streams[fd]);
        }
        ::_setmode(fd, _O_BINARY);
    }
    if (const UINT earlier = ::GetConsoleOutputCP();
        earlier != 0 && earlier != CP_UTF8 && ::SetConsoleOutputCP(CP_UTF8)) {
        gEarlierCodePage.store(earlier);
        std::atexit(&restoreConsole);
    }
}

void installStopHandlers(std::atomic<int>& flag) {
    gStopFlag = &flag;
    ::SetConsoleCtrlHandler(&onConsoleEvent, TRUE);
}

StopRequest stopRequestOf(int number) noexcept {
    switch (number) {
        case kInterrupt:
            return StopRequest::Interrupt;
        case kTermination:
            return StopRequest::Termination;
        default:
            return StopRequest::Other;
    }
}

std::vector<std::string> namesMatching(const std::string& pattern) {
    if (pattern.find_first_of("*?") == std::string::npos) {
        return {pattern};
    }
    // Only the last part of the name may hold wildcards, as in the shells' own expansion.
    const std::string folder = pattern.substr(0, nameStart(pattern));
    std::vector<std::string> names;
    WIN32_FIND_DATAW found{};
    const HANDLE search = ::FindFirstFileExW(wide(pattern).c_str(), FindExInfoBasic, &found,
                                             FindExSearchNameMatch, nullptr, 0);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
                names.push_back(folder + narrow(found.cFileName));
            }
        } while (::FindNextFileW(search, &found));
        ::FindClose(search);
    }
    std::sort(names.begin(), names.end());
    return names.empty() ? std::vector<std::string>{pattern} : names;
}

std::optional<FileId> fileIdOf(const std::string& path) noexcept {
    const InfoResult r = infoOf(path);
    return r.info ? std::optional(r.info->id) : std::nullopt;
}

int writeRefusal(const std::string& path) noexcept {
    if (deviceNamed(path)) {
        return 0;
    }
    const DWORD attributes = ::GetFileAttributesW(wide(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return lastError();
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return EISDIR;
    }
    return (attributes & FILE_ATTRIBUTE_READONLY) != 0 ? EACCES : 0;
}

bool canCreateFileIn(const std::string& folder, const std::string& probePrefix) {
    std::string base = folder;
    if (!base.empty() && nameStart(base) != base.size()) {
        base += '\\';
    }
    for (int attempt = 0; attempt < 16; ++attempt) {
        const std::wstring name = wide(base + probePrefix + "." + randomSuffix());
        const HANDLE probe =
            ::CreateFileW(name.c_str(), GENERIC_WRITE, kShareAll, nullptr, CREATE_NEW,
                          FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (probe != INVALID_HANDLE_VALUE) {
            ::CloseHandle(probe);
            return true;
        }
        if (lastError() != EEXIST) {
            return false;
        }
    }
    return false;
}

// --- What a path or an open file is --------------------------------------------------------

InfoResult infoOf(const std::string& path, Links links) noexcept {
    if (const auto device = deviceNamed(path)) {
        return {.info = deviceInfo(*device, path), .error = 0};
    }
    if (isPipeName(path)) {
        // Opened, even without access, a named pipe would be connected to, and an instance of
        // it used up.
        if (!::WaitNamedPipeW(wide(path).c_str(), 0) && ::GetLastError() == ERROR_FILE_NOT_FOUND) {
            return {.info = std::nullopt, .error = ENOENT};
        }
        return {.info = FileInfo{.kind = FileKind::Pipe,
                                 .size = 0,
                                 .modified = 0,
                                 .permissions = 0666,
                                 .id = FileId{}},
                .error = 0};
    }
    // No access asked for: the file's facts can be had even while another program holds it
    // open, and a folder opens only as a backup program would open it.
    const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS |
                        (links == Links::DontFollow ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
    const HANDLE h =
        ::CreateFileW(wide(path).c_str(), 0, kShareAll, nullptr, OPEN_EXISTING, flags, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return {.info = std::nullopt, .error = lastError()};
    }
    InfoResult r = infoOfNative(h);
    ::CloseHandle(h);
    return r;
}

InfoResult infoOf(SystemHandle handle) noexcept {
    if (!handle.valid()) {
        return {.info = std::nullopt, .error = EBADF};
    }
    return infoOfNative(nativeOf(handle));
}

std::optional<std::size_t> longestNameIn(const std::string& folder) noexcept {
    // Asked of an open handle for the file system's facts alone: the volume's name and serial
    // number, which GetVolumeInformationW also reads, may need more access than a user has.
    const HANDLE h =
        ::CreateFileW(wide(folder.empty() ? std::string(".") : folder).c_str(), 0, kShareAll,
                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return std::nullopt;
    }
    DWORD longest = 0;
    const bool known =
        ::GetVolumeInformationByHandleW(h, nullptr, 0, nullptr, &longest, nullptr, nullptr, 0) != 0;
    ::CloseHandle(h);
    return known && longest != 0 ? std::optional(static_cast<std::size_t>(longest)) : std::nullopt;
}

std::size_t longestName() noexcept {
    return 255;
}

// --- Opening, reading, writing -------------------------------------------------------------

Opened openForReading(const std::string& path) noexcept {
    const std::wstring name = wide(path);
    HANDLE h = ::CreateFileW(name.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                             FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (h == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_ACCESS_DENIED && isFolder(name)) {
        // A folder opens only this way; the caller then says it is one.
        h = ::CreateFileW(name.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                          FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    }
    return opened(h);
}

void prepareSequentialReading(SystemHandle /*file*/) noexcept {
    // Opened for sequential reading already; reads of a file never wait for data.
}

Opened openForWriting(const std::string& path, const std::atomic<int>* stop) noexcept {
    const std::wstring name = wide(path);
    for (;;) {
        const HANDLE h = ::CreateFileW(name.c_str(), GENERIC_WRITE, kShareAll, nullptr,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            return {handleOf(h), 0};
        }
        const DWORD code = ::GetLastError();
        if (code == ERROR_PIPE_BUSY) {
            // A pipe whose every instance has a writer: wait for one, until asked to stop.
            if (stopped(stop)) {
                return {SystemHandle(), EINTR};
            }
            ::WaitNamedPipeW(name.c_str(), 100);
            continue;
        }
        return {SystemHandle(),
                code == ERROR_ACCESS_DENIED && isFolder(name) ? EISDIR : errnoOf(code)};
    }
}

UnnamedFile createUnnamedIn(const std::string& /*folder*/) noexcept {
    // Windows has no files without a name: the caller writes a hidden file beside the target.
    return {.handle = SystemHandle(), .error = ENOSYS, .unsupported = true};
}

Opened createNew(const std::string& path) noexcept {
    const std::wstring name = wide(path);
    const HANDLE h = ::CreateFileW(name.c_str(), GENERIC_WRITE, kShareAll, nullptr, CREATE_NEW,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_ACCESS_DENIED && isFolder(name)) {
        return {SystemHandle(), EEXIST};
    }
    return opened(h);
}

void setPermissions(SystemHandle file, std::uint32_t permissions) noexcept {
    // Windows keeps only whether a file may be written.
    if ((permissions & 0222) != 0) {
        return;
    }
    FILE_BASIC_INFO basic{};
    const HANDLE h = nativeOf(file);
    if (::GetFileInformationByHandleEx(h, FileBasicInfo, &basic, sizeof basic)) {
        basic.FileAttributes |= FILE_ATTRIBUTE_READONLY;
        ::SetFileInformationByHandle(h, FileBasicInfo, &basic, sizeof basic);
    }
}

int closeFile(SystemHandle file) noexcept {
    return ::CloseHandle(nativeOf(file)) ? 0 : lastError();
}

IoResult readAt(SystemHandle file, std::uint64_t offset, void* buffer, std::size_t count) noexcept {
    // ReadFile at an offset of its own, which moves nothing another read relies on.
    DWORD read = 0;
    bool atEnd = false;
    const int err = retryIo([&] {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(count, 1u << 30));
        if (::ReadFile(nativeOf(file), buffer, piece, &read, &at)) {
            return true;
        }
        atEnd = ::GetLastError() == ERROR_HANDLE_EOF;
        return atEnd;
    });
    if (atEnd) {
        return {0, 0};
    }
    return err != 0 ? IoResult{0, err} : IoResult{read, 0};
}

StreamKind streamKindOf(SystemHandle handle) noexcept {
    switch (::GetFileType(nativeOf(handle))) {
        case FILE_TYPE_DISK:
            return StreamKind::Regular;
        case FILE_TYPE_PIPE:
            return StreamKind::Pipe;
        default:
            return StreamKind::Other;
    }
}

IoResult writeSome(SystemHandle handle, const char* data, std::size_t count,
                   const std::atomic<int>* stop, std::optional<StreamKind>& kind) noexcept {
    // A write into a pipe waits for its reader, as the system's pipes give no way to wait for
    // room; Ctrl-C is seen before the next write.
    if (stop != nullptr) {
        if (!kind) {
            kind = streamKindOf(handle);
        }
        if (stopped(stop)) {
            return {0, ECANCELED};
        }
    }
    DWORD written = 0;
    const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(count, 1u << 30));
    const int err = retryIo(
        [&] {
            if (!::WriteFile(nativeOf(handle), data, piece, &written, nullptr)) {
                return false;
            }
            if (written == 0 && piece != 0) {
                ::SetLastError(ERROR_WRITE_FAULT);
                return false;
            }
            return true;
        },
        stop);
    if (err != 0) {
        return {0, err};
    }
    return {written, 0};
}

// --- Putting files in place ----------------------------------------------------------------

int syncFile(SystemHandle file) noexcept {
    const HANDLE h = nativeOf(file);
    if (::FlushFileBuffers(h)) {
        return 0;
    }
    const DWORD code = ::GetLastError();
    // A pipe, a console or a handle opened only for reading has nothing to flush.
    if (::GetFileType(h) != FILE_TYPE_DISK || code == ERROR_INVALID_FUNCTION ||
        code == ERROR_ACCESS_DENIED || code == ERROR_INVALID_HANDLE) {
        return 0;
    }
    return errnoOf(code);
}

bool syncFolder(const std::string& /*folder*/) noexcept {
    return false;  // Windows can't; renames are written through instead
}

int nameUnnamed(SystemHandle /*file*/, const std::string& /*path*/) noexcept {
    return ENOSYS;
}

std::optional<std::string> pathOfOpenFile(SystemHandle /*file*/) {
    return std::nullopt;
}

int renameFile(const std::string& from, const std::string& to) noexcept {
    const std::wstring target = wide(to);
    if (::MoveFileExW(wide(from).c_str(), target.c_str(),
                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return 0;
    }
    return renameRefusal(target, ::GetLastError());
}

int renameNoReplace(const std::string& from, const std::string& to) noexcept {
    const std::wstring target = wide(to);
    if (::MoveFileExW(wide(from).c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH)) {
        return 0;
    }
    const DWORD code = ::GetLastError();
    if (::GetFileAttributesW(target.c_str()) != INVALID_FILE_ATTRIBUTES) {
        return EEXIST;
    }
    return errnoOf(code);
}

int linkFile(const std::string& existing, const std::string& path) noexcept {
    return ::CreateHardLinkW(wide(path).c_str(), wide(existing).c_str(), nullptr) ? 0 : lastError();
}

int removeFile(const std::string& path) noexcept {
    const std::wstring name = wide(path);
    if (::DeleteFileW(name.c_str())) {
        return 0;
    }
    const DWORD code = ::GetLastError();
    const DWORD attributes = ::GetFileAttributesW(name.c_str());
    // A read-only file is removed as POSIX removes one: by the folder's leave.
    if (code == ERROR_ACCESS_DENIED && attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) ==
            FILE_ATTRIBUTE_READONLY &&
        ::SetFileAttributesW(name.c_str(), attributes & ~DWORD{FILE_ATTRIBUTE_READONLY})) {
        if (::DeleteFileW(name.c_str())) {
            return 0;
        }
        const int err = lastError();
        ::SetFileAttributesW(name.c_str(), attributes);
        return err;
    }
    return code == ERROR_ACCESS_DENIED && attributes != INVALID_FILE_ATTRIBUTES &&
                   (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0
               ? EISDIR
               : errnoOf(code);
}

int makeFolder(const std::string& path) noexcept {
    return ::CreateDirectoryW(wide(path).c_str(), nullptr) ? 0 : lastError();
}

void removeFolder(const std::string& path) noexcept {
    ::RemoveDirectoryW(wide(path).c_str());
}

int rememberHiddenFile(const std::string& path) noexcept {
    std::wstring name;
    try {
        name = wide(path);
    } catch (...) {
        return -1;
    }
    if (name.size() >= kHiddenPathMax) {
        return -1;
    }
    for (std::size_t i = 0; i < gHiddenSlots.size(); ++i) {
        HiddenSlot& slot = gHiddenSlots[i];
        int free = 0;
        if (slot.state.compare_exchange_strong(free, 1)) {
            std::wmemcpy(slot.path, name.c_str(), name.size() + 1);
            slot.state.store(2);
            return static_cast<int>(i);
        }
    }
    return -1;
}

void forgetHiddenFile(int& slot) noexcept {
    if (slot >= 0) {
        gHiddenSlots[static_cast<std::size_t>(slot)].state.store(0);
        slot = -1;
    }
}

void removeHiddenFiles() noexcept {
    // A file still open here goes when its last handle is closed, at the latest as the process
    // ends.
    for (HiddenSlot& slot : gHiddenSlots) {
        if (slot.state.load() == 2) {
            ::DeleteFileW(slot.path);
        }
    }
}

// --- Locks among processes -----------------------------------------------------------------

Opened openLockFile(const std::string& path) noexcept {
    const std::wstring name = wide(path);
    for (int attempt = 0;; ++attempt) {
        const HANDLE h = ::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll,
                                       nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        // The lock file of an export that is just ending is refused until its last handle is
        // closed: it is being removed.
        if (h != INVALID_HANDLE_VALUE || ::GetLastError() != ERROR_ACCESS_DENIED || attempt >= 20) {
            return opened(h);
        }
        ::Sleep(10);
    }
}

int tryLock(SystemHandle file) noexcept {
    OVERLAPPED at{};
    if (::LockFileEx(nativeOf(file), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                     &at)) {
        return 0;
    }
    const DWORD code = ::GetLastError();
    return code == ERROR_LOCK_VIOLATION || code == ERROR_IO_PENDING ? EWOULDBLOCK : errnoOf(code);
}

// --- The process ---------------------------------------------------------------------------

int processId() noexcept {
    return static_cast<int>(::GetCurrentProcessId());
}

// Memory is given back in pieces (the caller trims what it mapped to an aligned part), which
// Windows allows only by giving up the pages: the reservation itself goes when none is left.
void* mapMemory(std::size_t bytes) noexcept {
    return ::VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

void unmapMemory(void* start, std::size_t bytes) noexcept {
    MEMORY_BASIC_INFORMATION region{};
    if (bytes == 0 || ::VirtualQuery(start, &region, sizeof region) == 0) {
        return;
    }
    void* const base = region.AllocationBase;
    ::VirtualFree(start, bytes, MEM_DECOMMIT);
    for (auto* at = static_cast<char*>(base);; at += region.RegionSize) {
        if (::VirtualQuery(at, &region, sizeof region) == 0 || region.AllocationBase != base) {
            break;
        }
        if (region.State == MEM_COMMIT) {
            return;  // still in use
        }
    }
    ::VirtualFree(base, 0, MEM_RELEASE);
}

void adviseHugePages(void* /*start*/, std::size_t /*bytes*/) noexcept {
    // Large pages on Windows need a privilege that ordinary users lack.
}

std::optional<std::tm> localTime(std::time_t t) noexcept {
    std::tm local{};
    const __time64_t at = t;
    return ::_localtime64_s(&local, &at) == 0 ? std::optional(local) : std::nullopt;
}

std::optional<std::tm> utcTime(std::time_t t) noexcept {
    std::tm utc{};
    const __time64_t at = t;
    return ::_gmtime64_s(&utc, &at) == 0 ? std::optional(utc) : std::nullopt;
}

std::time_t fromUtc(std::tm clock) noexcept {
    return static_cast<std::time_t>(::_mkgmtime64(&clock));
}

std::string temporaryFolder() {
    wchar_t buffer[MAX_PATH + 2] = {};
    const DWORD n = ::GetTempPathW(MAX_PATH + 2, buffer);
    if (n == 0 || n > MAX_PATH + 1) {
        return ".";
    }
    std::string folder = narrow(buffer, static_cast<int>(n));
    // Without its separator, unless it is a drive's root ("C:\").
    if (folder.size() > 3 && isSeparator(folder.back())) {
        folder.pop_back();
    }
    return folder;
}

std::string userSettingsFolder() {
    // The roaming application data, as the system knows it; the APPDATA variable when it can't
    // tell.
    wchar_t buffer[MAX_PATH] = {};
    std::string folder;
    if (SUCCEEDED(
            ::SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, buffer))) {
        folder = narrow(buffer, static_cast<int>(wcslen(buffer)));
    } else if (const wchar_t* appData = _wgetenv(L"APPDATA"); appData != nullptr) {
        folder = narrow(appData, static_cast<int>(wcslen(appData)));
    }
    if (folder.empty()) {
        return {};
    }
    return folder + (isSeparator(folder.back()) ? "" : "\\") + "zkFileExport";
}

// --- A library loaded when first needed ----------------------------------------------------

// On Windows the workbook library is linked into the program: there is nothing to load, and
// its references to the C library's temporary files and standard error are not redirected
// here (its temporary files are this program's through the lxw_tmpfile it is built to call).

void* openLibrary(const char* /*name*/) noexcept {
    return nullptr;
}

void* symbolOf(void* /*library*/, const char* /*name*/) noexcept {
    return nullptr;
}

bool redirectImport(void* /*library*/, const char* /*symbol*/, const void* /*current*/,
                    void* /*to*/) noexcept {
    return false;
}

bool silenceLibrary(void* /*library*/) noexcept {
    return false;
}

// --- Temporary streams ---------------------------------------------------------------------

// The C library's streams tell a failed write only through their error flag, which the workbook
// library clears with rewind() before it reads a part back. The program is linked with
// -Wl,--wrap=rewind,--wrap=fclose, so that both calls come here first: a failure of a stream of
// a live TemporaryStreams is kept, and a stream closed by the library is forgotten (its FILE
// may be given to the next file opened).

struct TemporaryStreams::File {};  // the streams are kept in gStreams, with their owner

namespace {

struct LiveStream {
    FILE* stream;
    TemporaryStreams* owner;
};

std::mutex gStreamsLock;
std::vector<LiveStream> gStreams;  // guarded by gStreamsLock

// Keeps the failure of `stream`, if it has one and is a temporary stream; forgets it when
// `closing`.
void watchStream(FILE* stream, bool closing) noexcept {
    const std::lock_guard lock(gStreamsLock);
    const auto it = std::find_if(gStreams.begin(), gStreams.end(),
                                 [&](const LiveStream& s) { return s.stream == stream; });
    if (it == gStreams.end()) {
        return;
    }
    if (std::ferror(stream) != 0 || std::fflush(stream) != 0) {
        it->owner->noteFailure(errno != 0 ? errno : EIO);
    }
    if (closing) {
        gStreams.erase(it);
    }
}

}  // namespace

}  // namespace zk::platform

extern "C" {
void __real_rewind(FILE* stream);
int __real_fclose(FILE* stream);

void __wrap_rewind(FILE* stream) {
    zk::platform::watchStream(stream, false);
    __real_rewind(stream);
}

int __wrap_fclose(FILE* stream) {
    zk::platform::watchStream(stream, true);
    return __real_fclose(stream);
}

// The workbook library opens the workbook by its name with fopen(), which reads a name in the
// system's code page; the program's names are UTF-8, so fopen is wrapped too (--wrap=fopen)
// and opens the file the UTF-8 name stands for.
FILE* __wrap_fopen(const char* name, const char* mode) {
    return ::_wfopen(zk::platform::wide(name).c_str(), zk::platform::wide(mode).c_str());
}
}

namespace zk::platform {

TemporaryStreams::TemporaryStreams(std::string folder) : folder_(std::move(folder)) {}

TemporaryStreams::~TemporaryStreams() {
    closeAll();
}

FILE* TemporaryStreams::open() {
    std::string base = folder_;
    if (!base.empty() && nameStart(base) != base.size()) {
        base += '\\';
    }
    FILE* stream = nullptr;
    for (int attempt = 0; attempt < 16 && stream == nullptr; ++attempt) {
        // "T": kept in memory where it can be, "D": removed when closed, however the program
        // ends.
        stream = ::_wfopen(wide(base + ".zk-workbook-" + randomSuffix()).c_str(), L"w+bTD");
    }
    if (stream == nullptr) {
        fail(errno, true);
        return nullptr;
    }
    std::setvbuf(stream, nullptr, _IOFBF, 64 * 1024);
    const std::lock_guard lock(gStreamsLock);
    gStreams.push_back(LiveStream{stream, this});
    return stream;
}

void TemporaryStreams::closeAll() noexcept {
    std::vector<FILE*> open;
    {
        const std::lock_guard lock(gStreamsLock);
        for (auto it = gStreams.begin(); it != gStreams.end();) {
            if (it->owner == this) {
                open.push_back(it->stream);
                it = gStreams.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (FILE* stream : open) {
        std::fclose(stream);
    }
}

bool TemporaryStreams::holds(const FILE* stream) const noexcept {
    const std::lock_guard lock(gStreamsLock);
    return std::any_of(gStreams.begin(), gStreams.end(),
                       [&](const LiveStream& s) { return s.stream == stream && s.owner == this; });
}

void TemporaryStreams::noteFailure(int err) noexcept {
    fail(err, false);
}

void TemporaryStreams::fail(int err, bool creating) noexcept {
    if (failure_ == 0) {
        failure_ = err != 0 ? err : EIO;
        failedToCreate_ = creating;
    }
}

}  // namespace zk::platform
