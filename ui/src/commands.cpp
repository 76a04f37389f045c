// The two commands of the main window, Load File/Cancel and Export, and loading a recording
// by path (a dropped file, the program's argument).

#include <sys/stat.h>

#include "zk/engine/output_file.hpp"
#include "zk/engine/recording.hpp"
#include "zk/ui/main_window.hpp"

namespace zk::ui {

std::optional<std::string> baseNameOf(const std::string& name) {
    // Four characters, not four bytes: a name may end in letters beyond ASCII.
    std::size_t end = name.size();
    for (int n = 0; n < 4; ++n) {
        if (end == 0) {
            return std::nullopt;
        }
        do {
            --end;
        } while (end > 0 && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80);
    }
    return name.substr(0, end);
}

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

bool MainWindow::Accepts_Load() const {
    return !exporting_ && !closed_;
}

void MainWindow::cmdLoad_Click() {
    if (exporting_) {
        return;  // the export reads the recording; the window takes no input meanwhile
    }
    const std::string caption = toolkit_.caption(Control::cmdLoad);
    if (caption == kLoadCaption) {
        const auto chosen =
            toolkit_.openFileDialog(kOpenTitle, kOpenFilter, "", settings_.SourceDir);
        if (!chosen) {
            loadFailed();  // a cancel is the user's choice: no message
            return;
        }
        loadChosen(chosen->path, chosen->name);
    } else if (caption == kCancelCaption) {
        toolkit_.setCaption(Control::lblSource, "");
        toolkit_.setEnabled(Control::cmdExport, false);
        source_.reset();
        toolkit_.setCaption(Control::cmdLoad, kLoadCaption);
    }
}

void MainWindow::Load_Recording(const std::string& path) {
    if (!Accepts_Load()) {
        return;
    }
    loadChosen(path, path.substr(path.rfind('/') + 1));
}

void MainWindow::loadChosen(const std::string& path, const std::string& name) {
    if (closed_) {
        return;  // the window closed while the dialog was up
    }
    toolkit_.setStatus("");
    try {
        const auto base = baseNameOf(name);
        if (!base) {
            throw Error(ErrorCode::OpenFailed, "the file name has fewer than four characters",
                        path);
        }
        SourceBaseName_ = *base;
        settings_.SourceDir = folderOf(path);
        // Any recording loaded before goes first, also when this one can't be opened.
        source_.reset();
        source_.emplace(path);
        toolkit_.setCaption(Control::lblSource, path);
        if (Verify_zkd_Format(*source_)) {
            toolkit_.setCaption(Control::cmdLoad, kCancelCaption);
            toolkit_.setEnabled(Control::cmdExport, true);
            return;
        }
    } catch (const Error& e) {
        toolkit_.showMessage("The recording could not be loaded.\n\n" + e.describe(),
                             kLoadFailedTitle, MessageIcon::Warning);
        loadFailed();
        return;
    }
    // The file was read but is not a recording of this format; lblSource names it while the
    // message is up.
    toolkit_.showMessage(kIncompatibleFileMessage, kIncompatibleTitle, MessageIcon::Warning);
    source_.reset();
    toolkit_.setCaption(Control::lblSource, "");
    becomeIdle();
}

void MainWindow::loadFailed() {
    toolkit_.setCaption(Control::lblSource, "");
    toolkit_.setCaption(Control::cmdLoad, kLoadCaption);
    toolkit_.setEnabled(Control::cmdExport, false);
    source_.reset();
}

void MainWindow::becomeIdle() {
    toolkit_.setCaption(Control::cmdLoad, kLoadCaption);
    toolkit_.setEnabled(Control::cmdExport, false);
}

void MainWindow::cmdExport_Click() {
    if (!source_ || exporting_ || closed_) {
        return;  // the button is disabled then; nothing to export
    }
    exporting_ = true;
    toolkit_.setEnabled(Control::Frame1, false);
    toolkit_.setEnabled(Control::Frame2, false);

    const auto chosen =
        toolkit_.saveFileDialog(kSaveFilter, settings_.DestDir + SourceBaseName_ + ".csv", true);
    if (!chosen || closed_) {
        exportFailed(std::nullopt);
        return;
    }
    settings_.DestDir = folderOf(*chosen);
    OutputPath_ = *chosen;
    if (isTheRecording(OutputPath_)) {
        exportFailed(Error(ErrorCode::OpenFailed,
                           "this is the loaded recording itself; exporting into it would "
                           "destroy it. Choose another name.",
                           OutputPath_));
        return;
    }

    std::optional<OutputFile> file;
    try {
        file.emplace(OutputPath_, OutputFile::Existing::Replace);
    } catch (const Error& e) {
        exportFailed(e);
        return;
    }
    // The window takes no input while the export runs, but a copy keeps the settings of this
    // export fixed whatever happens meanwhile.
    const ExportSettings settings = settings_;
    const ExportJob job = [&](const ProgressFn& progress) {
        return Export(*source_, file->sink(), settings, headingText_,
                      [&](std::uint64_t done, std::uint64_t known) {
                          return !closed_ && progress(done, known);
                      });
    };
    const ExportResult result =
        toolkit_.runWithProgress("Exporting " + source_->name() + "\nto " + OutputPath_, job);
    if (!result.ok()) {
        file->discard();
        if (closed_) {
            source_.reset();
            exporting_ = false;
            return;
        }
        if (result.error->code() == ErrorCode::Cancelled) {
            toolkit_.setStatus("Export cancelled; " + OutputPath_ + " was not written.");
            exportFailed(std::nullopt);
        } else {
            exportFailed(result.error);
        }
        return;
    }
    try {
        file->commit();
    } catch (const Error& e) {
        exportFailed(e);
        return;
    }
    source_.reset();
    exporting_ = false;
    toolkit_.setCaption(Control::cmdLoad, kLoadCaption);
    toolkit_.setEnabled(Control::cmdExport, false);
    toolkit_.setEnabled(Control::Frame1, true);
    toolkit_.setEnabled(Control::Frame2, true);
    toolkit_.setCaption(Control::lblSource, "");
    toolkit_.setStatus(std::to_string(result.rowsWritten) +
                       (result.rowsWritten == 1 ? " row" : " rows") + " written to " + OutputPath_);
}

void MainWindow::exportFailed(const std::optional<Error>& error) {
    exporting_ = false;
    if (closed_) {
        source_.reset();
        return;
    }
    if (error) {
        toolkit_.showMessage("The export failed.\n\n" + error->describe(), kExportFailedTitle,
                             MessageIcon::Warning);
        toolkit_.setStatus("Export failed; " + OutputPath_ + " was not written.");
    }
    toolkit_.setEnabled(Control::Frame1, true);
    toolkit_.setEnabled(Control::Frame2, true);
}

bool MainWindow::isTheRecording(const std::string& path) const {
    struct stat out {};
    struct stat in {};
    return ::stat(path.c_str(), &out) == 0 && ::fstat(source_->fd(), &in) == 0 &&
           out.st_dev == in.st_dev && out.st_ino == in.st_ino;
}

}  // namespace zk::ui
