// zkexport: the command-line converter. The work is done in zk_cli; this only connects it to
// the process's streams and its interruption.
#include <atomic>
#include <iostream>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "zk/cli/zkexport.hpp"
#include "zk/engine/output/byte_sink.hpp"
#include "zk/engine/platform.hpp"

int main(int argc, char** argv) {
    static std::atomic<int> stopSignal{0};
    zk::platform::installStopHandlers(stopSignal);

    // A closed standard output takes no CSV, though it is given the null device.
    const zk::SystemHandle stdOut = zk::platform::standardOutput();
    const bool stdoutOpen = zk::platform::isOpen(stdOut);
    zk::platform::fillClosedStandardStreams();
    try {
        const std::vector<std::string> args = zk::platform::commandLineArguments(argc, argv);
        std::optional<zk::FdSink> csvOut;
        if (stdoutOpen) {
            csvOut.emplace(stdOut, "standard output", &stopSignal);
        }
        zk::cli::Console console{
            .out = std::cout,
            .err = std::cerr,
            .csvOut = csvOut ? &*csvOut : nullptr,
            .csvOutHandle = stdoutOpen ? stdOut : zk::SystemHandle(),
            .errIsTerminal = zk::platform::isTerminal(zk::platform::standardError()),
            .stopSignal = &stopSignal,
            .now = {}};
        return zk::cli::runZkExport(args, console);
    } catch (const std::bad_alloc&) {
        // An output under way has been discarded as the error unwound.
        std::cerr << "zkexport: out of memory\n";
        return zk::cli::kExitFailure;
    }
}
