#pragma once

// The bodies of the fuzz targets, as plain functions: the libFuzzer programs call them on the
// fuzzer's inputs, and fuzz_replay_test calls them on every file of the seed corpora.

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace zk::fuzz {

/// Thrown by a target when a property that must hold for every input does not.
class PropertyBroken : public std::logic_error {
  public:
    using std::logic_error::logic_error;
};

/// The recording reader, validation and export over arbitrary bytes. The first bytes choose the
/// settings and the heading (see export_target.cpp); the rest is the recording. Checks the
/// line structure of the CSV, that rows never outnumber records, and that the export gives
/// exactly the text of the plain model in tests/engine/reference_export.cpp.
void exportTarget(const std::uint8_t* data, std::size_t size);

/// The configuration reader over arbitrary text: a load gives either the nine values that
/// parseConfigText reads or exactly the defaults, and saving what was read reads back the same.
void configTarget(const std::uint8_t* data, std::size_t size);

/// zkexport's argument handling: the input, split at NUL bytes, is the argument list. Runs in a
/// scratch folder holding a few recordings; every "/" in an argument becomes "_", so nothing
/// outside that folder (or the one above it) can be named. The status must be one of the
/// documented ones and a failure must be reported.
void zkexportTarget(const std::uint8_t* data, std::size_t size);

/// Throws PropertyBroken with `what` unless `ok`.
inline void require(bool ok, const std::string& what) {
    if (!ok) {
        throw PropertyBroken(what);
    }
}

}  // namespace zk::fuzz
