#pragma once

#include <QIcon>
#include <QPixmap>

namespace zk::ui_qt {

/// The program's 32 x 32 picture in the 16 basic colours: a sheet with a trace of the
/// recording above the rows of a table.
QPixmap programPixmap();

/// programPixmap() as a window icon.
QIcon programIcon();

}  // namespace zk::ui_qt
