#pragma once

#include <optional>
#include <string>

#include "zk/engine/error.hpp"
#include "zk/engine/recording/byte_source.hpp"
#include "zk/settings/export_settings.hpp"

namespace zk::ui {

/// The main window's working state, from the window's load to its close: the remembered
/// settings, the heading, the names of the loaded recording and of the output, and the loaded
/// recording itself.
struct ConverterSession {
    /// The nine remembered settings; the controls change them in place.
    ExportSettings Settings;
    /// The heading box's text; none until the box is first edited. Never saved.
    std::optional<std::string> HeadingText;
    /// The loaded recording's file name without its last four characters.
    std::string SourceBaseName;
    /// The path chosen for the last export.
    std::string OutputPath;
    /// The loaded recording, open for reading; empty while none is open.
    std::optional<FileSource> Source;

    /// Closes any open recording, then opens the recording at `path` and checks it
    /// (openRecording()). On success it is the session's recording; otherwise none is open and
    /// the error says why (NotARecording for a file that fails the check).
    std::optional<Error> Open_Source(const std::string& path);

    /// Closes the recording; does nothing when none is open.
    void Close_Source() noexcept { Source.reset(); }
};

}  // namespace zk::ui
