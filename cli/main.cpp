// zkexport: the command-line converter. The work is done in zk_cli; this only connects it to
// the process's streams and signals.
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <iostream>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "zk/cli/zkexport.hpp"
#include "zk/engine/output/byte_sink.hpp"

int main(int argc, char** argv) {
    static std::atomic<int> stopSignal{0};
    zk::cli::installStopHandlers(stopSignal);

    // A closed standard stream is given /dev/null, so that no file opened later takes its
    // number and is written as if it were standard output.
    const bool stdoutOpen = ::fcntl(STDOUT_FILENO, F_GETFD) >= 0;
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) < 0) {
            ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        }
    }
    try {
        const std::vector<std::string> args(argv + 1, argv + argc);
        std::optional<zk::FdSink> csvOut;
        if (stdoutOpen) {
            csvOut.emplace(STDOUT_FILENO, "standard output", &stopSignal);
        }
        zk::cli::Console console{.out = std::cout,
                                 .err = std::cerr,
                                 .csvOut = csvOut ? &*csvOut : nullptr,
                                 .csvOutFd = stdoutOpen ? STDOUT_FILENO : -1,
                                 .errIsTerminal = ::isatty(STDERR_FILENO) == 1,
                                 .stopSignal = &stopSignal,
                                 .now = {}};
        return zk::cli::runZkExport(args, console);
    } catch (const std::bad_alloc&) {
        // An output under way has been discarded as the error unwound.
        std::cerr << "zkexport: out of memory\n";
        return zk::cli::kExitFailure;
    }
}
