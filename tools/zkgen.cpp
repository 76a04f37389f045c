// zkgen: writes synthetic recordings (.zkd) for the examples, the tests and the benchmarks.
//
// Three profiles:
//   skin   a skin-resistance trace that drifts slowly between about 50 and 500 kilo-ohms, with
//          noise and a short response after most tag marks (1-3 s after the stimulus the
//          resistance falls a few percent over 1-2 s, then recovers over 5-10 s), plus a few
//          spontaneous responses without a tag;
//   sweep  the same kind of trace laid over slow sweeps of the raw sample across its whole
//          range, 0..65535, so that every sample value, and so every table entry of the export,
//          is used; for the benchmarks;
//   flat   a skin conductance held at --level microsiemens, with an optional steady --drift
//          and --noise, and only the responses (--response) and tags (--tag-at) placed by hand:
//          a trace whose responses are known, for testing a response detector.
//
// Records are 20 ms apart from TimeMs 0, tags are numbered 1, 2, 3... Almost every record has
// the type "P"; after the first five records an occasional "S" or "O" appears. The unused bytes
// of every record are zero.
//
// The output depends only on the options: the random numbers come from our own generator and
// the arithmetic uses only +, -, *, / and comparisons (no exp, log or sin, whose last bit may
// differ between C libraries), so a seed gives the same file on every machine.

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "zk/engine/platform.hpp"
#include "zk/engine/recording/record.hpp"

namespace {

constexpr int kRecordMs = 20;
constexpr std::uint64_t kRecordsPerMinute = 60'000 / kRecordMs;
// TimeMs is a signed 32-bit count of milliseconds: the last record must stay within it.
constexpr std::uint64_t kMaxRecords = std::numeric_limits<std::int32_t>::max() / kRecordMs + 1;

enum class Profile { Skin, Sweep, Flat };

/// A response placed by hand (flat profile): the conductance starts to rise at `onsetMs`, gains
/// `amplitude` microsiemens over kRiseMs along a smooth S-curve, then falls back with a time
/// constant of kDecayMs.
struct PlacedResponse {
    static constexpr double kRiseMs = 1000.0;
    static constexpr double kDecayMs = 4000.0;
    double onsetMs = 0;
    double amplitude = 0;
};

struct PlacedTag {
    double atMs = 0;
    std::uint16_t number = 0;
};

struct Options {
    std::uint64_t records = 30'000;  // ten minutes
    std::uint64_t seed = 1;
    std::uint32_t tagEvery = 1500;  // 30 s
    Profile profile = Profile::Skin;
    std::string output;
    // The flat profile's trace, in microsiemens.
    double level = 5.0;
    double driftPerMinute = 0.0;
    double noise = 0.0;
    std::vector<PlacedResponse> responses;
    std::vector<PlacedTag> tags;
};

/// xoshiro256** seeded through splitmix64: small, fast and the same everywhere, unlike the
/// distributions of <random>, whose results differ between standard libraries.
class Rng {
  public:
    explicit Rng(std::uint64_t seed) noexcept {
        for (auto& s : state_) {
            seed += 0x9E3779B97F4A7C15ULL;
            std::uint64_t z = seed;
            z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
            z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
            s = z ^ (z >> 31);
        }
    }

    std::uint64_t next() noexcept {
        const std::uint64_t result = rotl(state_[1] * 5, 7) * 9;
        const std::uint64_t t = state_[1] << 17;
        state_[2] ^= state_[0];
        state_[3] ^= state_[1];
        state_[1] ^= state_[2];
        state_[0] ^= state_[3];
        state_[2] ^= t;
        state_[3] = rotl(state_[3], 45);
        return result;
    }

    /// Uniform in [0, 1).
    double uniform() noexcept { return static_cast<double>(next() >> 11) * 0x1.0p-53; }

    /// Uniform whole number in [lo, hi].
    int between(int lo, int hi) noexcept {
        const auto span = static_cast<std::uint64_t>(hi - lo + 1);
        return lo + static_cast<int>(((next() >> 32) * span) >> 32);
    }

    /// Roughly normal with mean 0 and standard deviation 1: the sum of four 16-bit uniforms
    /// (Irwin-Hall), which needs no transcendental function and is plenty for noise.
    double gauss() noexcept {
        const std::uint64_t r = next();
        const auto sum = static_cast<double>((r & 0xFFFF) + ((r >> 16) & 0xFFFF) +
                                             ((r >> 32) & 0xFFFF) + (r >> 48));
        constexpr double kMean = 2.0 * 65535.0;
        constexpr double kInvSd = 1.0 / 37837.0;  // 65536 × sqrt(4 / 12)
        return (sum - kMean) * kInvSd;
    }

  private:
    static std::uint64_t rotl(std::uint64_t x, int k) noexcept {
        return (x << k) | (x >> (64 - k));
    }
    std::array<std::uint64_t, 4> state_{};
};

/// One skin-conductance response: after a latency the resistance falls by `depth` (a fraction)
/// along a smooth S-curve, then recovers exponentially.
struct Response {
    int wait = 0;           // records until the fall starts
    int fall = 1;           // records the fall takes
    int step = 0;           // records since the fall started
    double depth = 0;       // deepest fraction of the resistance lost
    double level = 0;       // current fraction lost, during recovery
    double recovery = 1.0;  // per-record factor of the recovery

    /// The fraction lost at this record; advances by one record.
    double advance() noexcept {
        if (wait > 0) {
            --wait;
            return 0.0;
        }
        if (step < fall) {
            ++step;
            const double x = static_cast<double>(step) / fall;
            level = depth * x * x * (3.0 - 2.0 * x);
            return level;
        }
        level *= recovery;
        return level;
    }
    bool finished() const noexcept { return wait == 0 && step >= fall && level < 1e-5; }
};

/// The overlapping responses in progress; a few at most, since a response is over in about
/// ten seconds.
class Responses {
  public:
    /// Starts a response `latency` records from now: a fall of 2-8 % over 1-2 s and a recovery
    /// with a time constant of 1.5-3 s, so it is gone after 5-10 s.
    void start(Rng& rng, int latency) noexcept {
        if (count_ == active_.size()) {
            return;
        }
        Response& r = active_[count_++];
        r = Response{};
        r.wait = latency;
        r.fall = rng.between(50, 100);
        r.depth = 0.02 + 0.06 * rng.uniform();
        const int tau = rng.between(75, 150);
        r.recovery = 1.0 - 1.0 / tau;
    }

    /// The total fraction of the resistance lost at this record.
    double advance() noexcept {
        double drop = 0.0;
        for (std::size_t i = 0; i < count_;) {
            drop += active_[i].advance();
            if (active_[i].finished()) {
                active_[i] = active_[--count_];
            } else {
                ++i;
            }
        }
        return std::min(drop, 0.5);
    }

  private:
    std::array<Response, 8> active_{};
    std::size_t count_ = 0;
};

/// 10^(k / 256) for k = 0..256, built by repeated multiplication so that it is the same on
/// every machine; the resting levels 50 × 10^(k / 256) run from 50 to 500 kilo-ohms.
const std::array<double, 257>& decadeTable() {
    static const std::array<double, 257> table = [] {
        std::array<double, 257> t{};
        constexpr double kRatio = 1.0090350448414474;  // 10^(1/256)
        t[0] = 1.0;
        for (std::size_t k = 1; k < t.size(); ++k) {
            t[k] = t[k - 1] * kRatio;
        }
        return t;
    }();
    return table;
}

/// The raw sample that the instrument reports for a resistance in kilo-ohms, the inverse of the
/// export's resistance column: 65536 × (R + 1.58) / (R + 21.18), rounded and kept in 0..65535.
std::uint16_t rawFromResistance(double kOhm) noexcept {
    const double v = 65536.0 * (kOhm + 1.58) / (kOhm + 21.18);
    return static_cast<std::uint16_t>(std::clamp(v + 0.5, 0.0, 65535.0));
}

/// Produces the records one after the other.
class Generator {
  public:
    Generator(const Options& options) : options_(options), rng_(options.seed) {
        // Start somewhere in the middle of the range and settle there.
        targetStep_ = rng_.between(40, 216);
        tonic_ = mid_ = target_ = 50.0 * decadeTable()[static_cast<std::size_t>(targetStep_)];
        nextTarget_ = rng_.between(3000, 15000);
        nextTag_ = nextTagGap();
        sweepFrom_ = sweepPos_ = 32768.0;
        sweepTo_ = pickSweepEnd(true);
        sweepLength_ = rng_.between(500, 2000);
    }

    /// Fills `count` records at `out` (20 bytes each). Bytes the records don't use are left as
    /// they are: the caller zeroes the buffer once.
    void fill(unsigned char* out, std::size_t count) noexcept {
        for (std::size_t i = 0; i < count; ++i, out += zk::kRecordSize) {
            next().encodeInto(out);
        }
    }

  private:
    zk::SampleRecord next() noexcept {
        zk::SampleRecord r;
        r.TimeMs = static_cast<std::int32_t>(index_ * kRecordMs);
        r.RecordType = recordType();
        if (options_.profile == Profile::Flat) {
            placed(r);
            ++index_;
            return r;
        }

        if (options_.tagEvery != 0 && --nextTag_ == 0) {
            ++tagNumber_;
            r.TagMarker = 'T';
            r.TagLow = static_cast<std::uint8_t>(tagNumber_ & 0xFF);
            r.TagHigh = static_cast<std::uint8_t>(tagNumber_ >> 8);
            nextTag_ = nextTagGap();
            // Most stimuli draw a response, 1-3 s later.
            if (rng_.uniform() < 0.85) {
                responses_.start(rng_, rng_.between(50, 150));
            }
        }
        // The odd spontaneous response, about one a minute and a half.
        if ((rng_.next() >> 52) == 0) {
            responses_.start(rng_, 0);
        }

        const double drop = responses_.advance();
        // Slow physiological wobble of about 1 %, and measurement noise of about 0.1 %.
        wobble_ = wobble_ * 0.999 + 0.0005 * rng_.gauss();
        const double noise = rng_.gauss();

        if (options_.profile == Profile::Skin) {
            driftTonic();
            r.RawValue = rawFromResistance(tonic_ * (1.0 - drop) * (1.0 + wobble_ + 0.001 * noise));
        } else {
            sweep();
            // In raw units: a 5 % response is about 1000, the wobble a few hundred, the noise 40.
            const double v = sweepPos_ - 20000.0 * drop + 20000.0 * wobble_ + 40.0 * noise;
            r.RawValue = static_cast<std::uint16_t>(std::clamp(v + 0.5, 0.0, 65535.0));
        }
        ++index_;
        return r;
    }

    // The flat profile: the level, the drift, the placed responses and tags, and the noise.
    void placed(zk::SampleRecord& r) noexcept {
        const double t = static_cast<double>(index_ * kRecordMs);
        double g = options_.level + options_.driftPerMinute * t / 60'000.0;
        for (std::size_t k = 0; k < options_.responses.size(); ++k) {
            const PlacedResponse& p = options_.responses[k];
            if (t < p.onsetMs) {
                continue;
            }
            if (t < p.onsetMs + PlacedResponse::kRiseMs) {
                const double x = (t - p.onsetMs) / PlacedResponse::kRiseMs;
                decay_[k] = p.amplitude * x * x * (3.0 - 2.0 * x);
            } else {
                decay_[k] *= 1.0 - kRecordMs / PlacedResponse::kDecayMs;
            }
            g += decay_[k];
        }
        g += options_.noise * rng_.gauss();
        r.RawValue = rawFromResistance(1000.0 / std::max(g, 1e-3));
        for (const PlacedTag& tag : options_.tags) {
            if (t <= tag.atMs && tag.atMs < t + kRecordMs) {
                r.TagMarker = 'T';
                r.TagLow = static_cast<std::uint8_t>(tag.number & 0xFF);
                r.TagHigh = static_cast<std::uint8_t>(tag.number >> 8);
            }
        }
    }

    std::uint8_t recordType() noexcept {
        // The first five records decide whether a recording is valid: always "P" there.
        if (index_ < 5) {
            return 'P';
        }
        const std::uint64_t r = rng_.next() >> 48;  // 0..65535
        if (r < 6) {
            return 'S';  // about one in 11,000
        }
        if (r < 8) {
            return 'O';  // about one in 33,000
        }
        return 'P';
    }

    std::uint32_t nextTagGap() noexcept {
        // Evenly spread around the average, from half of it to one and a half times it.
        const auto n = static_cast<int>(options_.tagEvery);
        return static_cast<std::uint32_t>(std::max(1, rng_.between(n - n / 2, n + n / 2)));
    }

    // The resting level follows a target that takes a step of up to 40 % up or down every
    // 1-5 minutes, a random walk on a log scale kept within 50-500 kilo-ohms, through two lags
    // of about a minute each, so it bends slowly and smoothly instead of jumping.
    void driftTonic() noexcept {
        if (--nextTarget_ == 0) {
            targetStep_ = std::clamp(targetStep_ + rng_.between(-37, 37), 0, 256);
            target_ = 50.0 * decadeTable()[static_cast<std::size_t>(targetStep_)];
            nextTarget_ = rng_.between(3000, 15000);
        }
        mid_ += (target_ - mid_) * 0.0003;
        tonic_ += (mid_ - tonic_) * 0.0003;
    }

    // Smooth legs from one end of the raw range to the other, 10-40 s each; the ends lie a
    // little beyond the range so that the trace also sits at 0 and 65535 for a moment.
    void sweep() noexcept {
        if (++sweepStep_ > sweepLength_) {
            sweepFrom_ = sweepTo_;
            sweepTo_ = pickSweepEnd(sweepTo_ < 32768.0);
            sweepLength_ = rng_.between(500, 2000);
            sweepStep_ = 1;
        }
        const double x = static_cast<double>(sweepStep_) / sweepLength_;
        sweepPos_ = sweepFrom_ + (sweepTo_ - sweepFrom_) * x * x * (3.0 - 2.0 * x);
    }

    double pickSweepEnd(bool high) noexcept {
        const double overshoot = 1500.0 * rng_.uniform() - 500.0;
        return high ? 65535.0 + overshoot : -overshoot;
    }

    Options options_;
    Rng rng_;
    std::vector<double> decay_ = std::vector<double>(options_.responses.size(), 0.0);
    Responses responses_;
    std::uint64_t index_ = 0;
    std::uint32_t nextTag_ = 0;
    std::uint32_t tagNumber_ = 0;
    double tonic_ = 0, mid_ = 0, target_ = 0;
    int nextTarget_ = 0;
    int targetStep_ = 0;  // target = 50 × 10^(targetStep_ / 256) kilo-ohms
    double wobble_ = 0;
    double sweepFrom_ = 0, sweepTo_ = 0, sweepPos_ = 0;
    int sweepLength_ = 1, sweepStep_ = 0;
};

constexpr std::string_view kUsage =
    R"(Usage: zkgen [OPTIONS] -o OUTPUT.zkd
Writes a synthetic skin-resistance recording: one 20-byte record every 20 ms.

  -o, --output PATH      the recording to write ("-" = standard output)
  -n, --records N        number of records (default 30000, ten minutes)
      --seconds S, --minutes M, --hours H
                         length as a duration instead (decimals allowed)
  -s, --seed N           random seed (default 1); the same seed gives the same file
      --tag-every N      average records between tags (default 1500 = 30 s; 0 = no tags)
      --profile NAME     skin (default): 50-500 kilo-ohms with responses after tags;
                         sweep: slow sweeps over the whole raw range 0..65535, for benchmarks;
                         flat: a conductance held at --level, with only the responses and
                         tags placed below (every record of type "P")
      --level US         flat: the conductance in microsiemens (default 5)
      --drift US         flat: a steady change of the level per minute (default 0)
      --noise US         flat: the standard deviation of noise added to each sample (default 0)
      --response S:A     flat: a response rising from S seconds by A microsiemens over 1 s,
                         falling back with a time constant of 4 s (repeatable)
      --tag-at S[:N]     flat: tag number N (default: 1, 2, 3...) at S seconds (repeatable)
  -h, --help             this text

Examples:
  zkgen --minutes 10 --seed 19 -o examples/sample.zkd
  zkgen --records 10000000 --profile sweep --tag-every 500 -o big.zkd
  zkgen --profile flat --seconds 60 --tag-at 5 --response 7:0.2 -o one-response.zkd
)";

template <typename T>
std::optional<T> parseNumber(std::string_view text) {
    T value{};
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc{} || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

[[noreturn]] void usageError(const std::string& message) {
    std::fprintf(stderr, "zkgen: %s\nTry 'zkgen --help'.\n", message.c_str());
    std::exit(2);
}

Options parseOptions(int argc, char** argv) {
    Options options;
    bool haveOutput = false;
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        std::string_view value;
        bool inlineValue = false;
        if (arg.starts_with("--")) {
            if (const auto eq = arg.find('='); eq != std::string_view::npos) {
                value = arg.substr(eq + 1);
                arg = arg.substr(0, eq);
                inlineValue = true;
            }
        }
        if (arg == "-h" || arg == "--help") {
            std::fputs(kUsage.data(), stdout);
            std::exit(0);
        }
        auto takeValue = [&]() -> std::string_view {
            if (inlineValue) {
                return value;
            }
            if (i + 1 >= argc) {
                usageError(std::string(arg) + " needs a value");
            }
            return argv[++i];
        };
        auto wholeNumber = [&](std::uint64_t max) {
            const std::string_view text = takeValue();
            const auto n = parseNumber<std::uint64_t>(text);
            if (!n || *n > max) {
                usageError(std::string(arg) + ": expected a whole number from 0 to " +
                           std::to_string(max) + ", got '" + std::string(text) + "'");
            }
            return *n;
        };
        auto duration = [&](double msPerUnit) {
            const std::string_view text = takeValue();
            const auto d = parseNumber<double>(text);
            if (!d || !(*d >= 0) || *d * msPerUnit / kRecordMs > static_cast<double>(kMaxRecords)) {
                usageError(std::string(arg) + ": expected a length from 0 to " +
                           std::to_string(kMaxRecords / kRecordsPerMinute) + " minutes, got '" +
                           std::string(text) + "'");
            }
            return static_cast<std::uint64_t>(*d * msPerUnit / kRecordMs + 0.5);
        };

        if (arg == "-o" || arg == "--output") {
            options.output = std::string(takeValue());
            haveOutput = true;
        } else if (arg == "-n" || arg == "--records") {
            options.records = wholeNumber(kMaxRecords);
        } else if (arg == "--seconds") {
            options.records = duration(1000.0);
        } else if (arg == "--minutes") {
            options.records = duration(60'000.0);
        } else if (arg == "--hours") {
            options.records = duration(3'600'000.0);
        } else if (arg == "-s" || arg == "--seed") {
            options.seed = wholeNumber(std::numeric_limits<std::uint64_t>::max());
        } else if (arg == "--tag-every") {
            options.tagEvery = static_cast<std::uint32_t>(wholeNumber(1'000'000'000));
        } else if (arg == "--profile") {
            const std::string_view name = takeValue();
            if (name == "skin") {
                options.profile = Profile::Skin;
            } else if (name == "sweep") {
                options.profile = Profile::Sweep;
            } else if (name == "flat") {
                options.profile = Profile::Flat;
            } else {
                usageError("--profile: expected skin, sweep or flat, got '" + std::string(name) +
                           "'");
            }
        } else if (arg == "--level" || arg == "--drift" || arg == "--noise") {
            const std::string_view text = takeValue();
            const auto v = parseNumber<double>(text);
            if (!v || !(*v > -1e6 && *v < 1e6) || (arg != "--drift" && *v < 0)) {
                usageError(std::string(arg) + ": expected a number of microsiemens, got '" +
                           std::string(text) + "'");
            }
            (arg == "--level"   ? options.level
             : arg == "--drift" ? options.driftPerMinute
                                : options.noise) = *v;
        } else if (arg == "--response" || arg == "--tag-at") {
            const std::string_view text = takeValue();
            const auto colon = text.find(':');
            const auto at = parseNumber<double>(text.substr(0, colon));
            const std::string_view second =
                colon == std::string_view::npos ? std::string_view() : text.substr(colon + 1);
            if (arg == "--response") {
                const auto amplitude = parseNumber<double>(second);
                if (!at || !amplitude || !(*at >= 0) || !(*amplitude >= 0)) {
                    usageError("--response: expected SECONDS:MICROSIEMENS, got '" +
                               std::string(text) + "'");
                }
                options.responses.push_back({*at * 1000.0, *amplitude});
            } else {
                const auto number = colon == std::string_view::npos
                                        ? std::optional<std::uint64_t>(options.tags.size() + 1)
                                        : parseNumber<std::uint64_t>(second);
                if (!at || !(*at >= 0) || !number || *number > 65535) {
                    usageError("--tag-at: expected SECONDS or SECONDS:NUMBER, got '" +
                               std::string(text) + "'");
                }
                options.tags.push_back({*at * 1000.0, static_cast<std::uint16_t>(*number)});
            }
        } else {
            usageError("unknown option '" + std::string(argv[i]) + "'");
        }
    }
    if (!haveOutput || options.output.empty()) {
        usageError("no output given (-o PATH, or -o - for standard output)");
    }
    return options;
}

}  // namespace

int main(int argc, char** argv) {
    // "-o -" writes the recording's bytes as they are, also where streams are text by default.
    zk::platform::fillClosedStandardStreams();
    const Options options = parseOptions(argc, argv);

    const bool toStdout = options.output == "-";
    std::FILE* out = toStdout ? stdout : std::fopen(options.output.c_str(), "wb");
    if (out == nullptr) {
        std::fprintf(stderr, "zkgen: %s: %s\n", options.output.c_str(), std::strerror(errno));
        return 1;
    }
    // Our own 1.3 MB blocks go straight to the file.
    std::setvbuf(out, nullptr, _IONBF, 0);

    constexpr std::size_t kBlockRecords = 65'536;
    std::vector<unsigned char> block(kBlockRecords * zk::kRecordSize, 0);
    Generator generator(options);
    bool ok = true;
    for (std::uint64_t left = options.records; left > 0 && ok;) {
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(left, kBlockRecords));
        generator.fill(block.data(), n);
        ok = std::fwrite(block.data(), zk::kRecordSize, n, out) == n;
        left -= n;
    }
    const int savedErrno = errno;
    if (!toStdout && std::fclose(out) != 0) {
        ok = false;
    } else if (toStdout && std::fflush(out) != 0) {
        ok = false;
    }
    if (!ok) {
        std::fprintf(stderr, "zkgen: %s: write failed: %s\n", options.output.c_str(),
                     std::strerror(savedErrno != 0 ? savedErrno : errno));
        if (!toStdout) {
            std::remove(options.output.c_str());
        }
        return 1;
    }
    return 0;
}
