#include "zk/cli/zkexport.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <map>
#include <optional>
#include <set>
#include <tuple>
#include <utility>
#include <vector>

#include "zk/cli/options.hpp"
#include "zk/engine/analyses/report.hpp"
#include "zk/engine/export/export_file.hpp"
#include "zk/engine/formats/formats.hpp"
#include "zk/engine/output/paths.hpp"
#include "zk/engine/recording/range.hpp"
#include "zk/engine/recording/recording.hpp"

namespace zk::cli {

namespace {

constexpr const char* kProgram = "zkexport";

struct Options {
    std::vector<std::string> recordings;
    std::optional<std::string> output;     // -o; "-" is standard output
    std::optional<std::string> outputDir;  // -d
    ExportOptions options;
    std::optional<RangeBound> from, to;  // --from, --to: resolved for each recording
    bool force = false;
    bool check = false;
    bool info = false;
    bool json = false;
    bool quiet = false;
};

// What parsing came to: options to run with, or an exit status to return at once.
struct Parsed {
    std::optional<Options> options;
    int exitStatus = kExitOk;
};

int usageError(Console& console, const std::string& message) {
    console.err << kProgram << ": " << message << "\n"
                << "Run '" << kProgram << " --help' to see the options.\n";
    return kExitUsage;
}

// The options that take a value, as "--name" (CLI11's own names for them).
constexpr std::string_view kValueOptions[] = {"--output",  "--output-dir", "--period", "--columns",
                                              "--heading", "--format",     "--start",  "--subject",
                                              "--session", "--task",       "--from",   "--to"};

Parsed parseArguments(std::span<const std::string> given, Console& console) {
    // "--name=" with nothing after the "=" means the empty value. CLI11 would take the next
    // argument instead, a recording perhaps, and write onto it.
    std::vector<std::string> args;
    bool optionsEnded = false;
    for (const std::string& arg : given) {
        optionsEnded = optionsEnded || arg == "--";
        const std::string_view name = std::string_view(arg).substr(0, arg.size() - 1);
        const bool emptyValue = !optionsEnded && arg.ends_with("=") &&
                                std::ranges::find(kValueOptions, name) != std::end(kValueOptions);
        if (!emptyValue) {
            args.push_back(arg);
        } else {
            // The same as the empty value given as an argument of its own: --session "".
            args.emplace_back(name);
            args.emplace_back();
        }
    }

    CLI::App app{"", kProgram};
    app.set_help_flag("-h,--help");
    app.set_version_flag("--version", std::string(kProgram) + " " + ZK_VERSION);
    Options o;
    std::string output, outputDir, period, columns, heading, format, start, from, to;
    FormatChoices& choices = o.options.choices;
    bool noHeaders = false;
    auto* outputOpt = app.add_option("-o,--output", output);
    auto* dirOpt = app.add_option("-d,--output-dir", outputDir);
    auto* periodOpt = app.add_option("-p,--period", period);
    auto* columnsOpt = app.add_option("-c,--columns", columns);
    app.add_flag("--no-headers", noHeaders);
    auto* headingOpt = app.add_option("--heading", heading);
    app.add_flag("-f,--force", o.force);
    app.add_flag("--check", o.check);
    app.add_flag("--info", o.info);
    app.add_flag("--json", o.json);
    app.add_flag("-q,--quiet", o.quiet);
    app.add_flag("--epochs", o.options.epochs);
    auto* fromOpt = app.add_option("--from", from);
    auto* toOpt = app.add_option("--to", to);
    auto* formatOpt = app.add_option("--format", format);
    auto* startOpt = app.add_option("--start", start);
    auto* subjectOpt = app.add_option("--subject", choices.subject);
    auto* sessionOpt = app.add_option("--session", choices.session);
    auto* taskOpt = app.add_option("--task", choices.task);
    app.add_option("RECORDING", o.recordings)->required();

    // CLI11 takes the arguments last one first.
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    try {
        app.parse(reversed);
    } catch (const CLI::CallForHelp&) {
        console.out << helpText() << std::flush;
        return {std::nullopt, kExitOk};
    } catch (const CLI::CallForVersion& e) {
        console.out << e.what() << "\n" << std::flush;
        return {std::nullopt, kExitOk};
    } catch (const CLI::ParseError& e) {
        std::string message = e.what();
        for (const CLI::Option* opt : app.get_options()) {
            if (opt->count() > 1 && opt->get_type_size() > 0 && !opt->get_lnames().empty()) {
                message = "--" + opt->get_lnames().front() + " was given " +
                          (opt->count() == 2 ? std::string("twice")
                                             : std::to_string(opt->count()) + " times") +
                          "; give it once";
                break;
            }
        }
        if (o.recordings.empty() && message.find("RECORDING") != std::string::npos) {
            for (const std::string& arg : args) {
                if (arg.size() > 2 && arg[0] == '-' && arg[1] != '-') {
                    message += " (\"" + arg +
                               "\" was read as options; a recording whose name starts with \"-\" "
                               "goes after \"--\": zkexport -- " +
                               arg + ")";
                    break;
                }
            }
        }
        return {std::nullopt, usageError(console, message)};
    }

    if (periodOpt->count() > 0) {
        const auto value = parsePeriod(period);
        if (!value) {
            return {std::nullopt, usageError(console, "--period: \"" + period +
                                                          "\" is not a whole number from 1 to " +
                                                          std::to_string(kMaxUpdatePeriod))};
        }
        o.options.UpdatePeriod = static_cast<std::int16_t>(*value);
    }
    if (columnsOpt->count() > 0) {
        if (auto problem = parseColumns(columns, o.options)) {
            return {std::nullopt, usageError(console, "--columns: " + *problem)};
        }
    }
    o.options.IncludeHeaders = !noHeaders;
    if (headingOpt->count() > 0) {
        if (!isUtf8(heading)) {
            return {std::nullopt, usageError(console, "--heading: the text is not valid UTF-8")};
        }
        o.options.heading = heading;
    }
    for (const auto& [opt, name, text, bound] :
         {std::tuple{fromOpt, "--from", &from, &o.from}, std::tuple{toOpt, "--to", &to, &o.to}}) {
        if (opt->count() > 0) {
            *bound = parseRangeBound(*text);
            if (!*bound) {
                return {std::nullopt,
                        usageError(console, std::string(name) + ": \"" + *text +
                                                "\" is neither a time (h:mm:ss[.sss], mm:ss or "
                                                "milliseconds) nor a tag (tag:N, tag:N#k)")};
            }
        }
    }
    if (o.json && !o.info) {
        return {std::nullopt, usageError(console, "--json goes with --info")};
    }
    if (outputOpt->count() > 0) {
        if (output.empty()) {
            return {std::nullopt, usageError(console, "--output: the path is empty")};
        }
        if (dirOpt->count() > 0) {
            return {std::nullopt,
                    usageError(console, "--output and --output-dir cannot be used together")};
        }
        if (o.recordings.size() > 1) {
            return {
                std::nullopt,
                usageError(console, "--output names a single file but " +
                                        std::to_string(o.recordings.size()) +
                                        " recordings were given (use --output-dir for several)")};
        }
        o.output = output;
    }
    if (dirOpt->count() > 0) {
        if (outputDir.empty()) {
            return {std::nullopt, usageError(console, "--output-dir: the path is empty")};
        }
        o.outputDir = outputDir;
    }

    // The format: as named, else as the output's extension says, else CSV.
    if (formatOpt->count() > 0) {
        const auto named = formatNamed(format);
        if (!named) {
            return {std::nullopt,
                    usageError(console, "--format: unknown format \"" + format +
                                            "\" (known: " + formatList(", ", ", ") + ")")};
        }
        o.options.format = *named;
        // An output named for another format would be opened by the wrong program.
        const auto byName = o.output ? formatOfPath(*o.output) : std::nullopt;
        if (byName && *byName != *named && *named != OutputFormat::Bids) {
            const std::string ext(extensionOf(*byName));
            return {std::nullopt,
                    usageError(console,
                               "--output " + *o.output + " ends in " + ext + ", the extension of " +
                                   std::string(formatName(*byName)) + " files, but --format is " +
                                   format + ": give it a name ending in " +
                                   std::string(extensionOf(*named)) + ", or leave --format out")};
        }
    } else if (o.output) {
        o.options.format = formatOfPath(*o.output).value_or(OutputFormat::Csv);
    }
    const OutputFormat f = o.options.format;
    const std::string fname(formatName(f));
    if (o.output && (*o.output == "-" || streamDescriptorOf(*o.output)) && !formatInfo(f).streams) {
        return {std::nullopt,
                usageError(console,
                           "--format " + fname + " writes a file: standard output takes only CSV")};
    }
    if (f == OutputFormat::Xlsx && o.options.IncludeHeaders &&
        textLength(heading) > kMaxCellCharacters) {
        return {std::nullopt, usageError(console,
                                         "--heading: a workbook's cell holds at most 32,767 "
                                         "characters; the heading has " +
                                             std::to_string(textLength(heading)))};
    }
    if (isSignalFormat(f) && !hasSignalColumn(o.options)) {
        return {std::nullopt,
                usageError(console, "--format " + fname +
                                        " needs a column of values: data, baseline, resistance "
                                        "or conductance")};
    }
    if (startOpt->count() > 0) {
        choices.start = parseStartTime(start);
        if (!choices.start) {
            return {std::nullopt,
                    usageError(console, "--start: \"" + start +
                                            "\" is not a date and time \"YYYY-MM-DD HH:MM:SS\"")};
        }
        if ((f == OutputFormat::Edf || f == OutputFormat::Bdf) &&
            (choices.start->year < 1985 || choices.start->year > 2084)) {
            return {std::nullopt,
                    usageError(console,
                               "--start: an EDF+ or BDF+ file starts between the years "
                               "1985 and 2084")};
        }
    }
    if (o.options.epochs && !formatInfo(f).epochs) {
        return {std::nullopt, usageError(console,
                                         "--epochs writes CSV or a workbook (--format "
                                         "csv or xlsx), not " +
                                             fname)};
    }
    const bool labels = subjectOpt->count() + sessionOpt->count() + taskOpt->count() > 0;
    if (f != OutputFormat::Bids) {
        if (labels) {
            return {std::nullopt, usageError(console,
                                             "--subject, --session and --task go with "
                                             "--format bids")};
        }
        return {std::move(o), kExitOk};
    }
    if (o.output || !o.outputDir) {
        return {std::nullopt, usageError(console,
                                         "--format bids writes into a dataset: give its "
                                         "folder with --output-dir (not --output)")};
    }
    if (o.recordings.size() > 1) {
        return {std::nullopt, usageError(console,
                                         "--format bids writes one recording per run: "
                                         "give one recording")};
    }
    for (const auto& [name, label, required] : {std::tuple{"--subject", &choices.subject, true},
                                                std::tuple{"--task", &choices.task, true},
                                                std::tuple{"--session", &choices.session, false}}) {
        if (label->empty() && required) {
            return {std::nullopt, usageError(console, std::string("--format bids needs ") + name)};
        }
        if (!label->empty() && !isBidsLabel(*label)) {
            return {std::nullopt,
                    usageError(console, std::string(name) + ": \"" + *label +
                                            "\" is not a label of letters and digits only")};
        }
    }
    return {std::move(o), kExitOk};
}

using FileId = std::pair<dev_t, ino_t>;

std::optional<FileId> fileIdOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return std::nullopt;
    }
    return FileId{st.st_dev, st.st_ino};
}

// "M:SS", or "H:MM:SS" from an hour on.
std::string formatDuration(std::uint64_t seconds) {
    char text[48];
    if (seconds >= 3600) {
        std::snprintf(
            text, sizeof text, "%llu:%02u:%02u", static_cast<unsigned long long>(seconds / 3600),
            static_cast<unsigned>(seconds / 60 % 60), static_cast<unsigned>(seconds % 60));
    } else {
        std::snprintf(text, sizeof text, "%u:%02u", static_cast<unsigned>(seconds / 60),
                      static_cast<unsigned>(seconds % 60));
    }
    return text;
}

const char* signalName(int signal) {
    switch (signal) {
        case SIGINT:
            return "an interrupt (SIGINT)";
        case SIGTERM:
            return "a termination request (SIGTERM)";
        default:
            return "a signal";
    }
}

enum class Outcome { Done, Invalid, Failed, Stopped, Usage };

class Run {
  public:
    Run(const Options& options, Console& console) : o_(options), console_(console) {}

    int run() {
        if (!o_.check && o_.outputDir) {
            if (auto target = danglingLink(*o_.outputDir)) {
                fail(*o_.outputDir, "is a link to nowhere: " + *target + " does not exist");
                return kExitFailure;
            }
        }
        if (!o_.check && o_.outputDir && o_.options.format != OutputFormat::Bids) {
            // Checked once, before any recording is read: no folder, no point in starting.
            struct stat st {};
            if (::stat(o_.outputDir->c_str(), &st) != 0) {
                fail(*o_.outputDir,
                     errno == ENOENT
                         ? std::string("the output folder does not exist")
                         : std::string("cannot use the output folder: ") + std::strerror(errno));
                return kExitFailure;
            }
            if (!S_ISDIR(st.st_mode)) {
                fail(*o_.outputDir, "is not a folder");
                return kExitFailure;
            }
        }
        bool failed = false, invalid = false, usage = false;
        for (const auto& recording : o_.recordings) {
            switch (convert(recording)) {
                case Outcome::Done:
                    break;
                case Outcome::Invalid:
                    invalid = true;
                    break;
                case Outcome::Failed:
                    failed = true;
                    break;
                case Outcome::Usage:
                    usage = true;
                    break;
                case Outcome::Stopped:
                    return kExitSignalBase + stopSignal();
            }
        }
        return usage ? kExitUsage : failed ? kExitFailure : invalid ? kExitInvalid : kExitOk;
    }

  private:
    int stopSignal() const { return console_.stopSignal ? console_.stopSignal->load() : 0; }

    void fail(const std::string& path, const std::string& message) {
        console_.err << kProgram << ": " << path << ": " << message << "\n";
    }

    void fail(const Error& error) {
        console_.err << kProgram << ": " << error.describe();
        if (error.code() == ErrorCode::OutputExists) {
            console_.err << " (use --force to replace it)";
        }
        console_.err << "\n";
    }

    bool showProgress() const { return console_.errIsTerminal && !o_.quiet; }

    Outcome convert(const std::string& recording) {
        if (stopSignal() != 0) {
            fail(recording, std::string("not converted: stopped by ") + signalName(stopSignal()));
            return Outcome::Stopped;
        }
        if (o_.info) {
            return info(recording);
        }
        Result<FileSource> source = openRecording(recording);
        if (!source) {
            if (stopSignal() != 0) {
                return Outcome::Stopped;  // a wait that the signal ended: not a failure
            }
            fail(source.error());
            return source.error().code() == ErrorCode::NotARecording ? Outcome::Invalid
                                                                     : Outcome::Failed;
        }
        if (o_.check) {
            return check(*source);
        }
        ExportOptions options = o_.options;
        if (o_.from || o_.to) {
            // The range is found before anything is written: an empty one writes nothing.
            Result<RowRange> range = resolveRange(*source, options, o_.from, o_.to);
            if (!range) {
                fail(range.error());
                return range.error().code() == ErrorCode::InvalidSettings ? Outcome::Usage
                                                                          : Outcome::Failed;
            }
            options.range = *range;
            if (auto problem = startBeyondFile(options)) {
                fail(recording, *problem);
                return Outcome::Usage;
            }
        }

        // "/dev/stdout" and its other names are standard output, written as "-o -" does.
        const bool toStdout =
            o_.output && (*o_.output == "-" || streamDescriptorOf(*o_.output) == STDOUT_FILENO);
        OutputTarget target;
        target.existing = o_.force ? OutputFile::Existing::Replace : OutputFile::Existing::Refuse;
        target.stop = console_.stopSignal;
        if (toStdout) {
            if (console_.csvOut == nullptr) {
                fail("standard output", "is closed");
                return Outcome::Failed;
            }
            target.path = console_.csvOut->name();
            target.stream = console_.csvOut;
            target.streamFd = console_.csvOutFd;
        } else if (o_.output) {
            target.path = *o_.output;
        } else if (o_.options.format == OutputFormat::Bids) {
            target.path = *o_.outputDir;  // the dataset
        } else {
            const bool epochsCsv = o_.options.epochs && o_.options.format == OutputFormat::Csv;
            const auto path = defaultOutputPath(
                recording, epochsCsv ? "-epochs.csv" : extensionOf(o_.options.format),
                o_.outputDir);
            if (!path) {
                fail(recording,
                     "the file name has fewer than four characters, so no output name can be made "
                     "from it; give one with --output");
                return Outcome::Failed;
            }
            target.path = *path;
        }
        // The file that stands for the output: a BIDS run's samples.
        const std::string written = o_.options.format == OutputFormat::Bids
                                        ? bidsRunFiles(target.path, o_.options.choices).physio
                                        : target.path;
        if (!toStdout) {
            if (auto id = fileIdOf(written); id && written_.contains(*id)) {
                fail(written, "was already written from " + written_[*id] +
                                  " in this run; not overwriting it with " + recording);
                return Outcome::Failed;
            }
        }

        std::optional<ProgressBar> bar;
        // CSV going to the same terminal would be garbled by the display.
        const bool csvOnTerminal =
            toStdout && console_.csvOutFd >= 0 && ::isatty(console_.csvOutFd) == 1;
        if (showProgress() && !csvOnTerminal) {
            bar.emplace(console_.err, recording, console_.now);
        }
        const ExportResult result =
            exportToFile(*source, target, options, progressFor(bar), o_.recordings);
        if (bar) {
            bar->finish();
        }
        if (!result.ok()) {
            if (stopSignal() != 0) {
                fail(recording, std::string("export stopped by ") + signalName(stopSignal()) +
                                    (toStdout ? "" : "; " + target.path + " was not written"));
                return Outcome::Stopped;
            }
            fail(*result.error);
            return Outcome::Failed;
        }
        if (!toStdout) {
            if (auto id = fileIdOf(written)) {
                written_.emplace(*id, recording);
            }
        }
        if (showProgress() && !toStdout) {
            console_.err << kProgram << ": " << written << ": " << result.rowsWritten
                         << " rows written from " << recording << "\n";
        }
        if (!o_.quiet) {
            notes(written, result);
        }
        return Outcome::Done;
    }

    // What the file could not hold as the recording has it.
    void notes(const std::string& path, const ExportResult& result) {
        const OutputFormat f = o_.options.format;
        if (result.valuesClipped > 0) {
            console_.err << kProgram << ": " << path << ": note: " << result.valuesClipped
                         << " values lay outside their signal's range and were clipped to it\n";
        }
        if ((f == OutputFormat::Edf || f == OutputFormat::Bdf) &&
            result.rowsWithoutConductance > 0) {
            console_.err << kProgram << ": " << path << ": note: " << result.rowsWithoutConductance
                         << " rows have no conductance (the resistance is zero or negative); "
                            "their Conductance samples are 0 uS\n";
        }
        if (result.tagsLeftOut > 0) {
            console_.err << kProgram << ": " << path << ": note: " << result.tagsLeftOut
                         << " tags did not fit in the file and were left out\n";
        }
        if (result.headingLeftOut) {
            console_.err << kProgram << ": " << path
                         << ": note: the heading has no place in the file and was left out\n";
        }
    }

    // Stops the export when a signal came; draws the progress bar, if there is one.
    ProgressFn progressFor(std::optional<ProgressBar>& bar) {
        return [this, &bar](std::uint64_t done, std::uint64_t known) {
            if (stopSignal() != 0) {
                return false;
            }
            if (bar) {
                bar->update(done, known);
            }
            return true;
        };
    }

    // The report on what is in the recording, also for one that the export refuses.
    Outcome info(const std::string& recording) {
        Result<RecordingReport> report =
            reportRecording(recording, o_.options.UpdatePeriod,
                            [this](std::uint64_t, std::uint64_t) { return stopSignal() == 0; });
        if (!report) {
            if (stopSignal() != 0) {
                return Outcome::Stopped;
            }
            fail(report.error());
            return Outcome::Failed;
        }
        console_.out << (o_.json ? reportJson(*report) + "\n" : reportText(*report));
        if (!report->verdict) {
            return Outcome::Done;
        }
        return report->verdict->code() == ErrorCode::NotARecording ? Outcome::Invalid
                                                                   : Outcome::Failed;
    }

    // The export's own verdict, without writing anything: a recording that the export would
    // refuse (a schedule passing its limit, too many records) fails here too.
    Outcome check(FileSource& source) {
        std::optional<ProgressBar> noBar;
        NullSink nowhere;
        const ExportResult result = exportCsv(source, nowhere, o_.options, progressFor(noBar));
        if (!result.ok()) {
            if (stopSignal() != 0) {
                return Outcome::Stopped;
            }
            fail(*result.error);
            return Outcome::Failed;
        }
        if (!o_.quiet) {
            // One record every 20 ms.
            console_.out << source.name() << ": OK (" << result.recordsRead << " records, "
                         << formatDuration(result.recordsRead / 50) << " of recording)\n";
        }
        return Outcome::Done;
    }

    const Options& o_;
    Console& console_;
    std::map<FileId, std::string> written_;
};

// --help and the reports of --check are the output: a failure to write them is a failure.
bool outputWritten(Console& console) {
    console.out.flush();
    if (console.out) {
        return true;
    }
    console.err << kProgram << ": standard output: cannot write the output\n";
    return false;
}

std::atomic<int>* gStopSignal = nullptr;

extern "C" void onStopSignal(int signal) {
    if (gStopSignal == nullptr || gStopSignal->load() == 0) {
        if (gStopSignal != nullptr) {
            gStopSignal->store(signal);
        }
        return;
    }
    // The second signal ends the program at once, but first removes the hidden file of the
    // output under way, which a file system without unnamed files has.
    removeTemporaryFiles();
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

}  // namespace

int runZkExport(std::span<const std::string> args, Console& console) {
    Parsed parsed = parseArguments(args, console);
    if (!parsed.options) {
        return outputWritten(console) ? parsed.exitStatus : kExitFailure;
    }
    const int status = Run(*parsed.options, console).run();
    return outputWritten(console) ? status : kExitFailure;
}

void installStopHandlers(std::atomic<int>& stopSignal) {
    gStopSignal = &stopSignal;
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    // The first signal asks the export to stop; a second one ends the program at once. No
    // SA_RESTART: a wait for a pipe's reader ends with the signal.
    action.sa_flags = 0;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

namespace {

// An item of the help's lists: its names, each padded to its width (a space at least), then its
// text, whose later lines are indented to the text's start.
std::string helpItem(std::initializer_list<std::pair<std::string_view, std::size_t>> names,
                     std::string_view text) {
    std::string item = "  ";
    for (const auto& [name, width] : names) {
        item.append(name).append(name.size() < width ? width - name.size() : 1, ' ');
    }
    const std::size_t indent = item.size();
    for (std::size_t from = 0;;) {
        const std::size_t end = std::min(text.find('\n', from), text.size());
        item.append(text.substr(from, end - from)).append("\n");
        if (end == text.size()) {
            return item;
        }
        item.append(indent, ' ');
        from = end + 1;
    }
}

std::string columnsHelp() {
    std::string text;
    for (const Column& column : kColumns) {
        text += helpItem({{column.key, 13}, {column.header, 18}}, column.help);
    }
    return text;
}

std::string formatsHelp() {
    std::string text;
    for (const FormatInfo& format : kFormats) {
        text += helpItem({{format.name, 6}}, format.help);
    }
    return text;
}

}  // namespace

std::string helpText() {
    return R"HELP(zkexport: converts skin-resistance recordings (.zkd) into CSV files, Excel workbooks,
EDF+/BDF+ files or BIDS datasets.

Usage: zkexport [OPTIONS] RECORDING.zkd [RECORDING.zkd ...]

Options:
  -o, --output PATH      output file, for a single recording; "-" writes CSV to standard output
  -d, --output-dir DIR   folder for the outputs; default: beside each recording. For
                         --format bids: the dataset's folder (made when missing)
  -p, --period N         samples of 20 ms per row (UpdatePeriod), 1..1638; default 1.
                         1 = 50 rows/s, 10 = 5 rows/s, 50 = 1 row/s, 250 = one row per 5 s
  -c, --columns LIST     comma-separated, any order: time,seconds,data,baseline,resistance,
                         conductance,tags; "none" for no column; default time,data (output order
                         is always fixed)
      --format FORMAT    )HELP" +
           formatList(", ", " or ") +
           R"HELP(; default: as the --output name ends
                         ()HELP" +
           formatList(", ", ", ", true) + R"HELP(), else csv
      --no-headers       write neither the heading line nor the column-header line
      --heading TEXT     heading line text; without it there is no heading line
      --start TIME       when the recording started, "YYYY-MM-DD HH:MM:SS" (EDF+/BDF+ and the
                         workbook); default: the recording file's time less its length, an estimate
      --subject LABEL    BIDS: the subject (letters and digits), required
      --session LABEL    BIDS: the session, optional
      --task LABEL       BIDS: the task, required
  -f, --force            replace an existing output file (without it, an existing file is an error)
      --check            only validate the recordings (the export's verdict); write nothing
      --info             report what is in each recording: length, time stamps, record types,
                         tags and their CSV rows at --period, stretches without skin contact
      --json             with --info: one JSON object per recording, one per line; "path"
                         shows bytes that are not UTF-8 as U+FFFD, "path_bytes" holds the
                         name's bytes in hex (Python: bytes.fromhex(o["path_bytes"]))
      --from WHEN        export only the rows from this time on: h:mm:ss[.sss], mm:ss or
                         milliseconds, or a tag: tag:N (its first mark) or tag:N#k (the k-th)
      --to WHEN          ... and before this one (the row at --to is not written)
      --epochs           one row per epoch between tags (onset, duration, rows, conductance
                         mean/min/max, responses): RUN-epochs.csv, or with --format xlsx the
                         sheet "Epochs" of the workbook
  -q, --quiet            no progress display and no notes
  -h, --help             show this text
      --version          show the program's version

The output of RUN.zkd is RUN.csv (RUN.xlsx, RUN.edf, RUN.bdf): the recording's file name
without its last four characters, then the format's extension, beside the recording or in
--output-dir. An output is written to a temporary file and put in place only when complete;
nothing is left after a failure or Ctrl-C.

Columns (every format holds them in this order, whatever the order given):
)HELP" + columnsHelp() +
           R"HELP(
Formats (every one holds the CSV's rows, values and tags):
)HELP" + formatsHelp() +
           R"HELP(
Examples:
  zkexport -p 10 -c time,data,resistance,tags run1.zkd   run1.csv at 5 rows/s, four columns
  zkexport -c seconds,conductance,tags -o run1.xlsx run1.zkd   a workbook
  zkexport --format bdf -p 10 -c data,conductance,tags --start "2026-03-01 09:30:00" run1.zkd
  zkexport --format bids -d study -c conductance,tags --subject 01 --task rest run1.zkd
  zkexport -d csv/ --force *.zkd                          every recording into csv/, replacing
  zkexport -o - run1.zkd | head                           the first lines on the terminal
  zkexport --check *.zkd                                  validate only
  zkexport --info -p 10 run1.zkd                          what is in run1.zkd; tag rows at 5/s

Exit status:
  0  every recording was converted (or, with --check, is valid)
  1  a recording could not be opened or read, or an output could not be written
     (it exists and --force was not given, its folder is missing, the disk is full...)
  2  usage error: an unknown option, a bad value, no recording, -o with several recordings
  3  a recording failed validation ("This file is corrupt or needs to be converted to
     version 2 format."); nothing was written for it
  130  stopped by Ctrl-C (143 for SIGTERM); the output under way was not written
With several recordings each is converted in turn, even after a failure; the status is 1 when
any failed for a reason other than validation, else 3 when any failed validation.
)HELP";
}

}  // namespace zk::cli
