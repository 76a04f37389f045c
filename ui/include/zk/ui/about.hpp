#pragma once

#include <string>

namespace zk::ui {

/// The application title, as the About window names the program.
inline constexpr const char* kApplicationTitle = "zk File Converter";
/// lblTitle: the program's name.
inline constexpr const char* kAboutProgramName = "zk File Export";
/// Label1: who makes the program.
inline constexpr const char* kAboutMaker = "zk File Export contributors";
/// Label5.
inline constexpr const char* kAboutVersionLabel = "Software Version:";
/// Label6: the address of the program's licence.
inline constexpr const char* kAboutWebAddress = "https://www.gnu.org/licenses/gpl-3.0.html";

/// The About window's caption: "About " and the application title.
std::string aboutCaption();

/// A version as major.minor.revision in plain decimal: 2, 1, 12 gives "2.1.12".
std::string versionText(int major, int minor, int revision);

/// This build's version, as lblSoft shows it (from the project's version in CMake).
std::string programVersion();

/// The disclaimer under the rule: "Warning: " and what the program does not promise.
std::string aboutDisclaimer();

}  // namespace zk::ui
