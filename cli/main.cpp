// zkexport: the command-line converter. The work is done in zk_cli; this only connects it to
// the process's streams and signals.
#include <unistd.h>

#include <atomic>
#include <iostream>
#include <string>
#include <vector>

#include "zk/cli/zkexport.hpp"
#include "zk/engine/byte_sink.hpp"

int main(int argc, char** argv) {
    static std::atomic<int> stopSignal{0};
    zk::cli::installStopHandlers(stopSignal);

    const std::vector<std::string> args(argv + 1, argv + argc);
    zk::FdSink csvOut(STDOUT_FILENO, "standard output");
    zk::cli::Console console{.out = std::cout,
                             .err = std::cerr,
                             .csvOut = &csvOut,
                             .csvOutFd = STDOUT_FILENO,
                             .errIsTerminal = ::isatty(STDERR_FILENO) == 1,
                             .stopSignal = &stopSignal,
                             .now = {}};
    return zk::cli::runZkExport(args, console);
}
