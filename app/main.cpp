#include <QApplication>
#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include "zk/ui/about.hpp"
#include "zk/ui_qt/program_icon.hpp"
#include "zk/ui_qt/qt_main_window.hpp"

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
        const QString path = QFileInfo(parser.positionalArguments().first()).absoluteFilePath();
        QTimer::singleShot(0, &window, [&window, path] { window.loadRecording(path); });
    }
    return QApplication::exec();
}
