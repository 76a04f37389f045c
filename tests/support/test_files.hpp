#pragma once

// Files, scratch folders, a disk that is always full, and running the project's programs as
// processes, as a user would, for the tests.

#ifdef _WIN32
#include <windows.h>
#else
#include <grp.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace zk::test {

namespace fs = std::filesystem;

/// The whole content of a file; empty when it can't be read.
inline std::string readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

/// Writes `bytes` as the whole content of a file, making its folder when missing.
inline void writeFile(const fs::path& p, const std::string& bytes) {
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary | std::ios::trunc) << bytes;
}

/// `text` with every `mark` in it replaced by `with`.
inline std::string replaced(std::string text, std::string_view mark, std::string_view with) {
    for (auto at = text.find(mark); at != std::string::npos;
         at = text.find(mark, at + with.size())) {
        text.replace(at, mark.size(), with);
    }
    return text;
}

/// The words of `text`, split at single spaces: a command line, where "~" stands for a space
/// within a word and "@" for `folder`.
inline std::vector<std::string> words(const std::string& text, std::string_view folder = "@") {
    std::vector<std::string> out;
    for (std::size_t at = 0, end = 0; !text.empty() && end != std::string::npos; at = end + 1) {
        end = text.find(' ', at);
        out.push_back(replaced(replaced(text.substr(at, end - at), "~", " "), "@", folder));
    }
    return out;
}

/// The names in a folder, sorted: compared with what must be there, they show a temporary file
/// left behind.
inline std::vector<std::string> listing(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

/// A fresh folder in the temporary folder, open to every user (so that a test can run a
/// program as another user in it), removed with everything in it at the end.
class TempDir {
  public:
    TempDir() {
#ifdef _WIN32
        std::random_device random;
        for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
            const fs::path p = fs::temp_directory_path() / ("zk_test." + std::to_string(random()));
            if (fs::create_directory(p)) {
                path_ = p;
            }
        }
        if (path_.empty()) {
            throw std::runtime_error("cannot make a scratch folder");
        }
#else
        std::string pattern = (fs::temp_directory_path() / "zk_test.XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("cannot make a scratch folder");
        }
        path_ = pattern;
        fs::permissions(path_, fs::perms::all);
#endif
    }
    ~TempDir() {
        std::error_code ec;
        // Folders that a test made read-only must be writable again before their files can go.
        for (auto it = fs::recursive_directory_iterator(path_, ec);
             !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
        }
        fs::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const fs::path& path() const {
        return path_;
    }
    std::string operator/(const std::string& name) const {
        return (path_ / name).string();
    }

  private:
    fs::path path_;
};

#ifndef _WIN32
/// A device on which every write fails with "No space left on device": /dev/full, or, where a
/// container lacks it and the tests run as root, the same device made in the temporary folder.
inline std::string fullDevice() {
    const std::string made = "/tmp/zk_test_full_device";
    if (!fs::is_character_file("/dev/full") && !fs::is_character_file(made)) {
        ::mknod(made.c_str(), S_IFCHR | 0666, makedev(1, 7));
    }
    return fs::is_character_file("/dev/full") ? "/dev/full" : made;
}

#endif

/// How a program ended, and what it wrote.
struct Finished {
    int status;  // exit status, or -signal when killed; 126: could not become the user asked
                 // for, 127: could not be started
    std::string out, err;
};

/// Seconds after which a program or body that a test started is killed (SIGALRM, which stays
/// armed across exec): a program that waits for something that never comes then ends, its
/// pipes close and the test fails with status -14 instead of waiting for it forever.
inline constexpr unsigned kChildSeconds = 90;

#ifdef _WIN32
/// Runs `program` with `args` to its end: reads its standard output and standard error, and
/// ends it after kChildSeconds (status -14) if it hasn't ended by then.
inline Finished runProcess(const std::string& program, const std::vector<std::string>& args) {
    // One argument as the program's C runtime splits its command line again.
    const auto quoted = [](const std::wstring& a) {
        std::wstring q = L"\"";
        std::size_t slashes = 0;
        for (const wchar_t c : a) {
            if (c == L'\\') {
                ++slashes;
                continue;
            }
            q.append(c == L'"' ? 2 * slashes + 1 : slashes, L'\\');
            slashes = 0;
            q += c;
        }
        q.append(2 * slashes, L'\\');
        return q + L"\"";
    };
    std::wstring line = quoted(fs::path(program).wstring());
    for (const auto& a : args) {
        line += L" " + quoted(fs::path(std::u8string(a.begin(), a.end())).wstring());
    }
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE outRead, outWrite, errRead, errWrite;
    if (!CreatePipe(&outRead, &outWrite, &inherit, 0) ||
        !CreatePipe(&errRead, &errWrite, &inherit, 0)) {
        std::abort();
    }
    SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW start{};
    start.cb = sizeof start;
    start.dwFlags = STARTF_USESTDHANDLES;
    start.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    start.hStdOutput = outWrite;
    start.hStdError = errWrite;
    PROCESS_INFORMATION process{};
    const bool started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                        nullptr, &start, &process);
    CloseHandle(outWrite);
    CloseHandle(errWrite);
    Finished f{127, {}, {}};
    const auto drain = [](HANDLE from, std::string& to) {
        char buffer[65536];
        for (DWORD n; ReadFile(from, buffer, sizeof buffer, &n, nullptr) && n > 0;) {
            to.append(buffer, n);
        }
        CloseHandle(from);
    };
    // Both streams are read while the program runs, so that neither fills up and holds it.
    std::thread outReader(drain, outRead, std::ref(f.out));
    std::thread errReader(drain, errRead, std::ref(f.err));
    if (started) {
        DWORD code = 0;
        if (WaitForSingleObject(process.hProcess, kChildSeconds * 1000) != WAIT_OBJECT_0) {
            TerminateProcess(process.hProcess, 1);
            f.status = -14;
        } else {
            GetExitCodeProcess(process.hProcess, &code);
            f.status = static_cast<int>(code);
        }
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
    outReader.join();
    errReader.join();
    return f;
}
#else
/// Runs `program` with `args` to its end, as the user `uid` when one is given (the caller is
/// root): reads its standard output to its end, then its standard error, which holds a few
/// messages at most, and waits for it.
inline Finished runProcess(const std::string& program, const std::vector<std::string>& args,
                           std::optional<uid_t> uid = std::nullopt) {
    int out[2], err[2];
    if (::pipe(out) != 0 || ::pipe(err) != 0) {
        std::abort();
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::alarm(kChildSeconds);
        ::dup2(out[1], STDOUT_FILENO);
        ::dup2(err[1], STDERR_FILENO);
        if (uid && (::setgroups(0, nullptr) != 0 || ::setgid(*uid) != 0 || ::setuid(*uid) != 0)) {
            ::_exit(126);
        }
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const auto& a : args) {
            argv.push_back(const_cast<char*>(a.c_str()));
        }
        argv.push_back(nullptr);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    Finished f{-1, {}, {}};
    char buffer[65536];
    for (const auto& [fd, text] : {std::pair{out, &f.out}, std::pair{err, &f.err}}) {
        ::close(fd[1]);
        for (ssize_t n; (n = ::read(fd[0], buffer, sizeof buffer)) > 0;) {
            text->append(buffer, static_cast<std::size_t>(n));
        }
        ::close(fd[0]);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    f.status = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    return f;
}

/// Runs `body` in a child process as the user `uid` (the caller is root) and returns what it
/// returned, or a text saying why it couldn't run: permissions don't stop root, so cases about
/// them run as another user.
inline std::string runAs(uid_t uid, const std::function<std::string()>& body) {
    int pipe[2];
    if (::pipe(pipe) != 0) {
        return "no pipe";
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::alarm(kChildSeconds);
        ::close(pipe[0]);
        const std::string out =
            ::setgroups(0, nullptr) == 0 && ::setgid(uid) == 0 && ::setuid(uid) == 0
                ? body()
                : "could not become the user";
        const ssize_t written = ::write(pipe[1], out.data(), out.size());
        ::_exit(written == static_cast<ssize_t>(out.size()) ? 0 : 1);
    }
    ::close(pipe[1]);
    std::string out;
    char buffer[4096];
    for (ssize_t n; (n = ::read(pipe[0], buffer, sizeof buffer)) > 0;) {
        out.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(pipe[0]);
    ::waitpid(pid, nullptr, 0);
    return out;
}

/// The user that permission cases run as when the tests run as root.
inline constexpr uid_t kNobody = 65534;

#endif

}  // namespace zk::test
