#include <QApplication>
#include <QCommandLineParser>
#include <QFile>
#include <QTimer>
#include <filesystem>
#include <string>
#include <system_error>

#include "zk/ui/about.hpp"
#include "zk/ui_qt/program_icon.hpp"
#include "zk/ui_qt/qt_main_window.hpp"

namespace {

// The recording named on the command line, as the bytes it was given in: the parser's text is
// decoded, and a name that is not valid UTF-8 would not find its file again. QApplication has
// taken its own options out of argv by now, so the argument is the one that decodes to the
// parser's text.
std::filesystem::path recordingArgument(int argc, char** argv, const QCommandLineParser& parser) {
    const QString wanted = parser.positionalArguments().first();
    for (int i = 1; i < argc; ++i) {
        if (QFile::decodeName(argv[i]) == wanted) {
            return std::string(argv[i]);
        }
    }
    return QFile::encodeName(wanted).toStdString();
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(zk::ui::kApplicationTitle);
    QApplication::setApplicationVersion(QString::fromStdString(zk::ui::programVersion()));
    QApplication::setWindowIcon(zk::ui_qt::programIcon());

    QCommandLineParser parser;
    parser.setApplicationDescription("Converts skin-resistance recordings (.zkd) into CSV files.");
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument("recording", "A recording to load at start (.zkd).",
                                 "[recording]");
    parser.process(app);

    // The program's own directory, from the running executable (not from argv[0]).
    const QByteArray programDir = QFile::encodeName(QCoreApplication::applicationDirPath());
    zk::ui_qt::QtMainWindow window(programDir.toStdString());
    window.show();
    if (!parser.positionalArguments().isEmpty()) {
        // Loaded as a dropped file is, once the window is up; a relative name is taken from the
        // directory the program was started in, and shown and remembered as a full path.
        const std::filesystem::path given = recordingArgument(argc, argv, parser);
        std::error_code error;  // no current directory: the name as given
        std::filesystem::path path = std::filesystem::absolute(given, error);
        path = error ? given : path.lexically_normal();
        QTimer::singleShot(0, &window, [&window, path] { window.loadRecordingPath(path); });
    }
    return QApplication::exec();
}
