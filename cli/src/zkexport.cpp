#include "zk/cli/zkexport.hpp"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
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
#include "zk/engine/export/notes.hpp"
#include "zk/engine/export/validate.hpp"
#include "zk/engine/formats/formats.hpp"
#include "zk/engine/output/paths.hpp"
#include "zk/engine/platform.hpp"
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

// "--name=" with nothing after the "=" means the empty value. CLI11 would take the next
// argument instead, a recording perhaps, and write onto it.
std::vector<std::string> withEmptyValues(std::span<const std::string> given) {
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
    return args;
}

// The command line as given: the texts of the options still to be read, and which were given.
struct Given {
    Options o;
    std::string output, outputDir, period, columns, heading, format, start, from, to;
    bool noHeaders = false;
    bool hasOutput = false, hasOutputDir = false, hasPeriod = false, hasColumns = false,
         hasHeading = false, hasFormat = false, hasStart = false, hasFrom = false, hasTo = false,
         hasLabels = false;
};

// CLI11's message for a failed parse, said better where we know more: an option given twice, a
// recording read as options.
std::string parseFailure(const CLI::App& app, const CLI::ParseError& e, const Given& g,
                         std::span<const std::string> args) {
    for (const CLI::Option* opt : app.get_options()) {
        if (opt->count() > 1 && opt->get_type_size() > 0 && !opt->get_lnames().empty()) {
            return "--" + opt->get_lnames().front() + " was given " +
                   (opt->count() == 2 ? std::string("twice")
                                      : std::to_string(opt->count()) + " times") +
                   "; give it once";
        }
    }
    std::string message = e.what();
    if (g.o.recordings.empty() && message.find("RECORDING") != std::string::npos) {
        for (const std::string& arg : args) {
            if (arg.size() > 2 && arg[0] == '-' && arg[1] != '-') {
                return message + " (\"" + arg +
                       "\" was read as options; a recording whose name starts with \"-\" goes "
                       "after \"--\": zkexport -- " +
                       arg + ")";
            }
        }
    }
    return message;
}

// Splits the arguments into `g` with CLI11. An exit status when parsing ends the program: help,
// the version, a usage error.
std::optional<int> splitArguments(const std::vector<std::string>& args, Given& g,
                                  Console& console) {
    CLI::App app{"", kProgram};
    // Options start with "-" everywhere: "/data/run1.zkd" is a name, on Windows too.
    app.allow_windows_style_options(false);
    app.set_help_flag("-h,--help");
    app.set_version_flag("--version", std::string(kProgram) + " " + ZK_VERSION);
    FormatChoices& choices = g.o.options.choices;
    auto* outputOpt = app.add_option("-o,--output", g.output);
    auto* dirOpt = app.add_option("-d,--output-dir", g.outputDir);
    auto* periodOpt = app.add_option("-p,--period", g.period);
    auto* columnsOpt = app.add_option("-c,--columns", g.columns);
    app.add_flag("--no-headers", g.noHeaders);
    auto* headingOpt = app.add_option("--heading", g.heading);
    app.add_flag("-f,--force", g.o.force);
    app.add_flag("--check", g.o.check);
    app.add_flag("--info", g.o.info);
    app.add_flag("--json", g.o.json);
    app.add_flag("-q,--quiet", g.o.quiet);
    app.add_flag("--epochs", g.o.options.epochs);
    auto* fromOpt = app.add_option("--from", g.from);
    auto* toOpt = app.add_option("--to", g.to);
    auto* formatOpt = app.add_option("--format", g.format);
    auto* startOpt = app.add_option("--start", g.start);
    auto* subjectOpt = app.add_option("--subject", choices.subject);
    auto* sessionOpt = app.add_option("--session", choices.session);
    auto* taskOpt = app.add_option("--task", choices.task);
    app.add_option("RECORDING", g.o.recordings)->required();

    // CLI11 takes the arguments last one first.
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    try {
        app.parse(reversed);
    } catch (const CLI::CallForHelp&) {
        console.out << helpText() << std::flush;
        return kExitOk;
    } catch (const CLI::CallForVersion& e) {
        console.out << e.what() << "\n" << std::flush;
        return kExitOk;
    } catch (const CLI::ParseError& e) {
        return usageError(console, parseFailure(app, e, g, args));
    }
    g.hasOutput = outputOpt->count() > 0;
    g.hasOutputDir = dirOpt->count() > 0;
    g.hasPeriod = periodOpt->count() > 0;
    g.hasColumns = columnsOpt->count() > 0;
    g.hasHeading = headingOpt->count() > 0;
    g.hasFormat = formatOpt->count() > 0;
    g.hasStart = startOpt->count() > 0;
    g.hasFrom = fromOpt->count() > 0;
    g.hasTo = toOpt->count() > 0;
    g.hasLabels = subjectOpt->count() + sessionOpt->count() + taskOpt->count() > 0;
    // Where no shell has expanded "*.zkd" (Windows), the program does.
    std::vector<std::string> recordings;
    for (const std::string& given : g.o.recordings) {
        for (std::string& name : platform::namesMatching(given)) {
            recordings.push_back(std::move(name));
        }
    }
    g.o.recordings = std::move(recordings);
    return std::nullopt;
}

// What is wrong with the rows' options: the period, the columns, the heading, the range.
std::optional<std::string> readRows(Given& g) {
    ExportOptions& options = g.o.options;
    if (g.hasPeriod) {
        const auto value = parsePeriod(g.period);
        if (!value) {
            return "--period: \"" + g.period + "\" is not a whole number from 1 to " +
                   std::to_string(kMaxUpdatePeriod);
        }
        options.UpdatePeriod = static_cast<std::int16_t>(*value);
    }
    if (g.hasColumns) {
        if (auto problem = parseColumns(g.columns, options)) {
            return "--columns: " + *problem;
        }
    }
    options.IncludeHeaders = !g.noHeaders;
    if (g.hasHeading) {
        if (!isUtf8(g.heading)) {
            return "--heading: the text is not valid UTF-8";
        }
        options.heading = g.heading;
    }
    for (const auto& [given, name, text, bound] :
         {std::tuple{g.hasFrom, "--from", &g.from, &g.o.from},
          std::tuple{g.hasTo, "--to", &g.to, &g.o.to}}) {
        if (given) {
            *bound = parseRangeBound(*text);
            if (!*bound) {
                return std::string(name) + ": \"" + *text +
                       "\" is neither a time (h:mm:ss[.sss], mm:ss or milliseconds) nor a tag "
                       "(tag:N, tag:N#k)";
            }
        }
    }
    return std::nullopt;
}

// What is wrong with where the outputs go.
std::optional<std::string> readOutputs(Given& g) {
    if (g.o.json && !g.o.info) {
        return "--json goes with --info";
    }
    if (g.hasOutput) {
        if (g.output.empty()) {
            return "--output: the path is empty";
        }
        if (g.hasOutputDir) {
            return "--output and --output-dir cannot be used together";
        }
        if (g.o.recordings.size() > 1) {
            return "--output names a single file but " + std::to_string(g.o.recordings.size()) +
                   " recordings were given (use --output-dir for several)";
        }
        g.o.output = g.output;
    }
    if (g.hasOutputDir) {
        if (g.outputDir.empty()) {
            return "--output-dir: the path is empty";
        }
        g.o.outputDir = g.outputDir;
    }
    return std::nullopt;
}

// The format: as named, else as the output's extension says, else CSV.
std::optional<std::string> readFormat(Given& g) {
    OutputFormat& f = g.o.options.format;
    const std::optional<std::string>& output = g.o.output;
    if (g.hasFormat) {
        const auto named = formatNamed(g.format);
        if (!named) {
            return "--format: unknown format \"" + g.format +
                   "\" (known: " + formatList(", ", ", ") + ")";
        }
        f = *named;
        // An output named for another format would be opened by the wrong program.
        const auto byName = output ? formatOfPath(*output) : std::nullopt;
        if (byName && *byName != *named && *named != OutputFormat::Bids) {
            return "--output " + *output + " ends in " + std::string(extensionOf(*byName)) +
                   ", the extension of " + std::string(formatName(*byName)) +
                   " files, but --format is " + g.format + ": give it a name ending in " +
                   std::string(extensionOf(*named)) + ", or leave --format out";
        }
    } else if (output) {
        f = formatOfPath(*output).value_or(OutputFormat::Csv);
    }
    if (output && (*output == "-" || streamDescriptorOf(*output)) && !formatInfo(f).streams) {
        return "--format " + std::string(formatName(f)) +
               " writes a file: standard output takes only CSV";
    }
    return std::nullopt;
}

std::optional<std::string> readStart(Given& g) {
    if (!g.hasStart) {
        return std::nullopt;
    }
    g.o.options.choices.start = parseStartTime(g.start);
    if (!g.o.options.choices.start) {
        return "--start: \"" + g.start + "\" is not a date and time \"YYYY-MM-DD HH:MM:SS\"";
    }
    return std::nullopt;
}

// What the command line asks of a BIDS run beyond its options: a dataset's folder, one
// recording; and of the other formats, no labels.
std::optional<std::string> bidsUsage(const Given& g) {
    if (g.o.options.format != OutputFormat::Bids) {
        if (g.hasLabels) {
            return "--subject, --session and --task go with --format bids";
        }
        return std::nullopt;
    }
    if (g.o.output || !g.o.outputDir) {
        return "--format bids writes into a dataset: give its folder with --output-dir (not "
               "--output)";
    }
    if (g.o.recordings.size() > 1) {
        return "--format bids writes one recording per run: give one recording";
    }
    return std::nullopt;
}

// The options' first problem (validateOptions()), with the option it concerns.
std::optional<std::string> optionsProblem(const ExportOptions& options) {
    const std::vector<OptionProblem> problems = optionProblems(options);
    if (problems.empty()) {
        return std::nullopt;
    }
    const OptionProblem& p = problems.front();
    const char* option = "";
    switch (p.field) {
        case OptionField::Period:
            option = "--period: ";
            break;
        case OptionField::Columns:
            option = "--columns: ";
            break;
        case OptionField::Heading:
            option = "--heading: ";
            break;
        case OptionField::Start:
            option = options.range ? "--start with --from: " : "--start: ";
            break;
        case OptionField::Epochs:
            option = "--epochs: ";
            break;
        case OptionField::Subject:
            option = "--subject: ";
            break;
        case OptionField::Session:
            option = "--session: ";
            break;
        case OptionField::Task:
            option = "--task: ";
            break;
    }
    return option + p.message;
}

Parsed parseArguments(std::span<const std::string> given, Console& console) {
    const std::vector<std::string> args = withEmptyValues(given);
    Given g;
    if (const auto status = splitArguments(args, g, console)) {
        return {std::nullopt, *status};
    }
    for (const auto read : {readRows, readOutputs, readFormat, readStart}) {
        if (auto problem = read(g)) {
            return {std::nullopt, usageError(console, *problem)};
        }
    }
    if (auto problem = bidsUsage(g)) {
        return {std::nullopt, usageError(console, *problem)};
    }
    if (auto problem = optionsProblem(g.o.options)) {
        return {std::nullopt, usageError(console, *problem)};
    }
    return {std::move(g.o), kExitOk};
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
    switch (platform::stopRequestOf(signal)) {
        case platform::StopRequest::Interrupt:
            return "an interrupt (SIGINT)";
        case platform::StopRequest::Termination:
            return "a termination request (SIGTERM)";
        case platform::StopRequest::Other:
            break;
    }
    return "a signal";
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
            const platform::InfoResult folder = platform::infoOf(*o_.outputDir);
            if (!folder.info) {
                fail(*o_.outputDir, folder.error == ENOENT
                                        ? std::string("the output folder does not exist")
                                        : std::string("cannot use the output folder: ") +
                                              platform::errorText(folder.error));
                return kExitFailure;
            }
            if (folder.info->kind != platform::FileKind::Folder) {
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
            if (auto problem = optionsProblem(options)) {
                fail(recording, *problem);
                return Outcome::Usage;
            }
        }

        // "/dev/stdout" and its other names are standard output, written as "-o -" does.
        const bool toStdout = o_.output && (*o_.output == "-" || streamDescriptorOf(*o_.output) ==
                                                                     platform::standardOutput());
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
            target.streamHandle = console_.csvOutHandle;
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
            if (auto id = platform::fileIdOf(written); id && written_.contains(*id)) {
                fail(written, "was already written from " + written_[*id] +
                                  " in this run; not overwriting it with " + recording);
                return Outcome::Failed;
            }
        }

        std::optional<ProgressBar> bar;
        // CSV going to the same terminal would be garbled by the display.
        const bool csvOnTerminal = toStdout && platform::isTerminal(console_.csvOutHandle);
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
            if (auto id = platform::fileIdOf(written)) {
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
        for (const std::string& note : exportNotes(result, o_.options.format)) {
            console_.err << kProgram << ": " << path << ": note: " << note << "\n";
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
            console_.out << source.name() << ": OK (" << result.recordsRead << " records, "
                         << formatDuration(recordedSeconds(result.recordsRead))
                         << " of recording)\n";
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

}  // namespace

int runZkExport(std::span<const std::string> args, Console& console) {
    Parsed parsed = parseArguments(args, console);
    if (!parsed.options) {
        return outputWritten(console) ? parsed.exitStatus : kExitFailure;
    }
    const int status = Run(*parsed.options, console).run();
    return outputWritten(console) ? status : kExitFailure;
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
