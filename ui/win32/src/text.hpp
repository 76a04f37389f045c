#pragma once

// Our strings are UTF-8; the system's are UTF-16. These turn one into the other at the edge.

#include <string>
#include <string_view>

namespace zk::ui_win32 {

/// UTF-8 to the system's wide text; invalid bytes become U+FFFD.
std::wstring widen(std::string_view text);
/// The system's wide text to UTF-8; a lone surrogate becomes U+FFFD.
std::string narrow(std::wstring_view text);

}  // namespace zk::ui_win32
