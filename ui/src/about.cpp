#include "zk/ui/about.hpp"

namespace zk::ui {

std::string aboutCaption() {
    return std::string("About ") + kApplicationTitle;
}

std::string versionText(int major, int minor, int revision) {
    return std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(revision);
}

std::string programVersion() {
    return versionText(ZK_VERSION_MAJOR, ZK_VERSION_MINOR, ZK_VERSION_PATCH);
}

std::string aboutDisclaimer() {
    std::string text = "Warning: ";
    text += "This program is provided as is, without warranty of any kind. ";
    text += "Check exported data against the recording before relying on it.";
    return text;
}

}  // namespace zk::ui
