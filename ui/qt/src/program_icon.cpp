#include "zk/ui_qt/program_icon.hpp"

#include <QPainter>
#include <QPolygon>

namespace zk::ui_qt {

QPixmap programPixmap() {
    // Drawn without anti-aliasing so that only the 16 basic colours appear.
    const QColor black(0, 0, 0), grey(128, 128, 128), silver(192, 192, 192), white(255, 255, 255),
        navy(0, 0, 128), blue(0, 0, 255), green(0, 128, 0), red(255, 0, 0);

    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing, false);

    // The sheet, with its top right corner folded.
    const QPolygon sheet({{4, 1}, {22, 1}, {28, 7}, {28, 30}, {4, 30}});
    p.setPen(grey);
    p.setBrush(grey);
    p.drawPolygon(sheet.translated(1, 1));  // shadow
    p.setPen(black);
    p.setBrush(white);
    p.drawPolygon(sheet);
    p.setBrush(silver);
    p.drawPolygon(QPolygon({{22, 1}, {22, 7}, {28, 7}}));

    // The trace: a resting level that falls and climbs back, as the skin's resistance does.
    p.setPen(QPen(blue, 2));
    p.drawPolyline(QPolygon(
        {{7, 8}, {10, 8}, {12, 9}, {13, 14}, {15, 15}, {17, 12}, {19, 10}, {22, 10}, {25, 11}}));
    p.setPen(red);
    p.drawLine(13, 4, 13, 5);  // a tag mark above the fall
    p.setPen(black);
    p.drawPoint(13, 6);

    // The table the trace becomes: three rows of cells.
    p.setPen(navy);
    p.setBrush(Qt::NoBrush);
    for (int row = 0; row < 3; ++row) {
        const int y = 19 + row * 3;
        p.drawLine(7, y, 25, y);
    }
    p.drawLine(7, 19, 7, 28);
    p.drawLine(13, 19, 13, 28);
    p.drawLine(19, 19, 19, 28);
    p.drawLine(25, 19, 25, 28);
    p.drawLine(7, 28, 25, 28);
    p.setPen(green);
    for (int row = 0; row < 3; ++row) {
        const int y = 20 + row * 3;
        p.drawLine(9, y, 11, y);
        p.drawLine(15, y, 17, y);
        p.drawLine(21, y, 23, y);
    }
    p.end();
    return pixmap;
}

QIcon programIcon() {
    return QIcon(programPixmap());
}

}  // namespace zk::ui_qt
