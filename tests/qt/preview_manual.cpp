// preview_manual: opens the recording preview of one file, for looking at it by hand, for the
// screenshot in docs/ and for timing the opening of a long recording. Not part of the program.
//
//   preview_manual RECORDING.zkd [UPDATE_PERIOD]          shows the window
//   preview_manual RECORDING.zkd [UPDATE_PERIOD] --time   times reading + first paint, 5 runs

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <QTextStream>
#include <algorithm>
#include <vector>

#include "zk/ui_qt/preview_window.hpp"
#include "zk/ui_qt/program_icon.hpp"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setWindowIcon(zk::ui_qt::programIcon());
    QStringList args = QApplication::arguments().mid(1);
    const bool timing = args.removeAll("--time") > 0;
    QTextStream out(stdout);
    if (args.isEmpty()) {
        QTextStream(stderr) << "usage: preview_manual RECORDING.zkd [UPDATE_PERIOD] [--time]\n";
        return 2;
    }
    const int period = args.size() > 1 ? args[1].toInt() : 10;

    if (timing) {
        std::vector<double> openMs, paintMs;
        for (int run = 0; run < 5; ++run) {
            zk::ui_qt::RecordingPreview preview;
            QElapsedTimer t;
            t.start();
            QString error;
            if (!preview.open(args[0], period, &error)) {
                QTextStream(stderr) << error << "\n";
                return 1;
            }
            openMs.push_back(t.nsecsElapsed() / 1e6);
            t.restart();
            const QImage image = preview.renderImage(QSize(944, 440));
            paintMs.push_back(t.nsecsElapsed() / 1e6);
            if (run == 0) {
                out << preview.data().size() << " samples, " << preview.data().tags().size()
                    << " tags\n";
            }
        }
        const auto median = [](std::vector<double> v) {
            std::sort(v.begin(), v.end());
            return v[v.size() / 2];
        };
        out << "open (read + pyramid): median " << median(openMs) << " ms, min "
            << *std::min_element(openMs.begin(), openMs.end()) << " ms\n"
            << "first paint 944x440: median " << median(paintMs) << " ms, min "
            << *std::min_element(paintMs.begin(), paintMs.end()) << " ms\n";
        return 0;
    }

    auto* preview = zk::ui_qt::RecordingPreview::showPreview(nullptr, args[0], period);
    if (!preview) {
        return 1;
    }
    preview->move(0, 0);
    return QApplication::exec();
}
