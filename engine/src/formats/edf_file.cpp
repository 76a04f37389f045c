#include "formats/edf_file.hpp"

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "zk/engine/error.hpp"

namespace zk::detail {

namespace {

constexpr std::array<const char*, 12> kMonths{"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                              "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};

// Appends `text` as a header field of `width` characters, padded with spaces.
void field(std::string& header, std::string_view text, std::size_t width, const char* what,
           const std::string& name) {
    if (text.size() > width) {
        throw Error(ErrorCode::InvalidSettings,
                    "the " + std::string(what) + " \"" + std::string(text) +
                        "\" is longer than the " + std::to_string(width) +
                        " characters its header field holds",
                    name);
    }
    header.append(text);
    header.append(width - text.size(), ' ');
}

std::string twoDigits(int n) {
    return {static_cast<char>('0' + n / 10 % 10), static_cast<char>('0' + n % 10)};
}

// A physical minimum or maximum as the shortest decimal that reads back as the same number,
// of at most eight characters.
std::string physicalText(double value, const std::string& name) {
    char text[32];
    for (int decimals = 0; decimals <= 7; ++decimals) {
        std::snprintf(text, sizeof text, "%.*f", decimals, value);
        std::string s(text);
        if (s == "-0") {
            s = "0";
        }
        if (std::strtod(s.c_str(), nullptr) == value && s.size() <= 8) {
            return s;
        }
    }
    throw Error(ErrorCode::InvalidSettings,
                "the physical range's end " + std::string(text) +
                    " does not fit the eight characters of its header field",
                name);
}

// "+N" for whole seconds, else "+N.ddd..." with `decimals` digits after the point: the forms
// the annotations of our files have always had (seven decimals for the time-keeping onsets,
// four for the tags').
std::string talOnset(std::int64_t ms, int decimals) {
    std::string s = ms < 0 ? "-" : "+";
    const std::uint64_t magnitude =
        ms < 0 ? static_cast<std::uint64_t>(-(ms + 1)) + 1 : static_cast<std::uint64_t>(ms);
    s += std::to_string(magnitude / 1000);
    if (magnitude % 1000 != 0) {
        std::string fraction = std::to_string(magnitude % 1000);
        fraction.insert(0, 3 - fraction.size(), '0');
        fraction.append(static_cast<std::size_t>(decimals) - 3, '0');
        s += "." + fraction;
    }
    return s;
}

constexpr int kTimeKeepingDecimals = 7;
constexpr int kAnnotationDecimals = 4;

}  // namespace

std::uint64_t EdfLayout::recordBytes() const noexcept {
    return static_cast<std::uint64_t>(sampleBytes()) *
               static_cast<std::uint64_t>(samplesPerRecord) * signals.size() +
           static_cast<std::uint64_t>(annotationBytes);
}

std::string edfSeconds(std::int64_t ms) {
    std::string s = talOnset(ms, 3);
    if (s.find('.') != std::string::npos) {
        while (s.back() == '0') {
            s.pop_back();
        }
    }
    return s[0] == '+' ? s.substr(1) : s;
}

std::string edfHeader(const EdfLayout& layout, const std::string& name) {
    const StartTime& t = layout.start;
    if (t.year < 1985 || t.year > 2084) {
        throw Error(ErrorCode::InvalidSettings,
                    "the start's year " + std::to_string(t.year) +
                        " lies outside the years 1985 to 2084 that " +
                        (layout.bdf ? "a BDF+" : "an EDF+") + " file can hold",
                    name);
    }
    const std::size_t signalCount = layout.signals.size() + 1;
    if (signalCount > 9999) {
        throw Error(ErrorCode::InvalidSettings, "too many signals for one file", name);
    }
    std::string h;
    h.reserve(layout.headerBytes());
    field(h,
          layout.bdf ? std::string_view("\xff"
                                        "BIOSEMI")
                     : "0",
          8, "version", name);
    field(h, "X X X X", 80, "patient", name);
    const std::string date =
        twoDigits(t.day) + "-" + kMonths.at(t.month - 1) + "-" + std::to_string(t.year);
    field(h, "Startdate " + date + " X X X", 80, "recording", name);
    field(h, twoDigits(t.day) + "." + twoDigits(t.month) + "." + twoDigits(t.year % 100), 8,
          "start date", name);
    field(h, twoDigits(t.hour) + "." + twoDigits(t.minute) + "." + twoDigits(t.second), 8,
          "start time", name);
    field(h, std::to_string(layout.headerBytes()), 8, "header size", name);
    field(h, layout.bdf ? "BDF+C" : "EDF+C", 44, "file type", name);
    field(h, std::to_string(layout.records), 8, "number of data records", name);
    field(h, edfSeconds(layout.recordMs), 8, "data-record duration", name);
    field(h, std::to_string(signalCount), 4, "number of signals", name);

    const std::int32_t annotationMin = layout.bdf ? -8388608 : -32768;
    const std::int32_t annotationMax = layout.bdf ? 8388607 : 32767;
    const auto each = [&](std::size_t width, const char* what, auto valueOf,
                          std::string annotation) {
        for (const EdfSignal& s : layout.signals) {
            field(h, valueOf(s), width, what, name);
        }
        field(h, annotation, width, what, name);
    };
    each(
        16, "signal label", [](const EdfSignal& s) { return s.label; },
        layout.bdf ? "BDF Annotations" : "EDF Annotations");
    each(
        80, "transducer", [](const EdfSignal&) { return std::string(); }, "");
    each(
        8, "physical dimension", [](const EdfSignal& s) { return s.unit; }, "");
    each(
        8, "physical minimum",
        [&](const EdfSignal& s) { return physicalText(s.physicalMin, name); }, "-1");
    each(
        8, "physical maximum",
        [&](const EdfSignal& s) { return physicalText(s.physicalMax, name); }, "1");
    each(
        8, "digital minimum", [](const EdfSignal& s) { return std::to_string(s.digitalMin); },
        std::to_string(annotationMin));
    each(
        8, "digital maximum", [](const EdfSignal& s) { return std::to_string(s.digitalMax); },
        std::to_string(annotationMax));
    each(
        80, "prefiltering", [](const EdfSignal&) { return std::string(); }, "");
    each(
        8, "samples per data record",
        [&](const EdfSignal&) { return std::to_string(layout.samplesPerRecord); },
        std::to_string(layout.annotationBytes / layout.sampleBytes()));
    each(
        32, "reserved field", [](const EdfSignal&) { return std::string(); }, "");
    return h;
}

std::size_t edfTimeKeepingBytes(std::int64_t onsetMs) {
    return talOnset(onsetMs, kTimeKeepingDecimals).size() + 3;  // "\x14\x14\x00"
}

std::size_t edfAnnotationBytes(std::int64_t onsetMs, std::string_view text) {
    return talOnset(onsetMs, kAnnotationDecimals).size() + text.size() + 3;
}

EdfRecordAnnotations::EdfRecordAnnotations(std::string& out, std::int64_t recordOnsetMs)
    : out_(out), begin_(out.size()) {
    out_ += talOnset(recordOnsetMs, kTimeKeepingDecimals);
    out_.append("\x14\x14\x00", 3);
}

void EdfRecordAnnotations::add(std::int64_t onsetMs, std::string_view text) {
    out_ += talOnset(onsetMs, kAnnotationDecimals);
    out_ += '\x14';
    out_ += text;
    out_.append("\x14\x00", 2);
}

bool EdfRecordAnnotations::finish(std::size_t bytes) {
    const std::size_t used = out_.size() - begin_;
    if (used > bytes) {
        return false;
    }
    out_.append(bytes - used, '\0');
    return true;
}

}  // namespace zk::detail
