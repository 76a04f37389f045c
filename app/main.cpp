#include <QApplication>
#include <QFile>

#include "zk/ui/about.hpp"
#include "zk/ui_qt/program_icon.hpp"
#include "zk/ui_qt/qt_main_window.hpp"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(zk::ui::kApplicationTitle);
    QApplication::setApplicationVersion(QString::fromStdString(zk::ui::programVersion()));
    QApplication::setWindowIcon(zk::ui_qt::programIcon());

    // The program's own directory, from the running executable (not from argv[0]).
    const QByteArray programDir = QFile::encodeName(QCoreApplication::applicationDirPath());
    zk::ui_qt::QtMainWindow window(programDir.toStdString());
    window.show();
    return QApplication::exec();
}
