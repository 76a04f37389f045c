#pragma once

#include <grp.h>
#include <poll.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace zk::test {

/// A program started with its standard output and error going to pipes.
struct Process {
    pid_t pid = -1;
    int out = -1;  // read ends of its standard output and error
    int err = -1;
};

/// How a program ended, and what it wrote.
struct Finished {
    int status = -1;  // exit status, or -signal when killed; 126: could not become `uid`,
                      // 127: could not be started
    std::string out;
    std::string err;
};

/// Starts `program` with `args`, as the user `uid` when one is given (the caller is root).
inline Process startProcess(const std::string& program, const std::vector<std::string>& args,
                            std::optional<uid_t> uid = std::nullopt) {
    int out[2], err[2];
    if (::pipe(out) != 0 || ::pipe(err) != 0) {
        std::abort();
    }
    const pid_t pid = ::fork();
    if (pid < 0) {
        std::abort();
    }
    if (pid == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ::dup2(err[1], STDERR_FILENO);
        ::close(out[0]);
        ::close(err[0]);
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
    ::close(out[1]);
    ::close(err[1]);
    return {pid, out[0], err[0]};
}

/// Reads both pipes to their end and waits for the program; `onOutput` is told each time
/// standard output brings data, with all of it so far.
inline Finished finishProcess(Process p,
                              const std::function<void(const std::string&)>& onOutput = {}) {
    Finished f;
    pollfd fds[2] = {{p.out, POLLIN, 0}, {p.err, POLLIN, 0}};
    int open = 2;
    char buffer[65536];
    while (open > 0) {
        ::poll(fds, 2, -1);
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) {
                continue;
            }
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n <= 0) {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open;
                continue;
            }
            (i == 0 ? f.out : f.err).append(buffer, static_cast<std::size_t>(n));
            if (i == 0 && onOutput) {
                onOutput(f.out);
            }
        }
    }
    int status = 0;
    ::waitpid(p.pid, &status, 0);
    f.status = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    return f;
}

/// Runs `program` to its end.
inline Finished runProcess(const std::string& program, const std::vector<std::string>& args,
                           std::optional<uid_t> uid = std::nullopt) {
    return finishProcess(startProcess(program, args, uid));
}

}  // namespace zk::test
