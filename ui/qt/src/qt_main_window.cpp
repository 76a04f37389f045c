#include "zk/ui_qt/qt_main_window.hpp"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QMoveEvent>
#include <QPainter>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QShowEvent>
#include <QStatusBar>
#include <QTextLayout>
#include <QTimer>
#include <QUrl>
#include <QVariant>
#include <QWindow>
#include <algorithm>
#include <cmath>

#include "zk/ui/window_design.hpp"
#include "zk/ui_qt/about_dialog.hpp"
#include "zk/ui_qt/export_options_dialog.hpp"
#include "zk/ui_qt/preview_window.hpp"
#include "zk/ui_qt/program_icon.hpp"
#include "zk/ui_qt/report_window.hpp"
#include "zk/ui_qt/twips.hpp"

namespace zk::ui_qt {

using ui::Control;

namespace {

using ui::designOf;
using Design = ui::ControlDesign;
constexpr const auto& kDesign = ui::kWindowDesign;
constexpr int kClientWidth = ui::kClientWidthTwips;
constexpr int kClientHeight = ui::kClientHeightTwips;

QFont dialogFont(const QFont& base, bool bold) {
    QFont f = base;
    f.setFamily("Sans Serif");
    f.setStyleHint(QFont::SansSerif);
    f.setPointSizeF(9.75);
    f.setBold(bold);
    return f;
}

std::size_t index(Control c) {
    return static_cast<std::size_t>(c);
}

QWidget* createControl(Control c, const QString& caption, QWidget* parent) {
    switch (c) {
        case Control::cmdLoad:
        case Control::cmdExport:
            return new QPushButton(caption, parent);
        case Control::lblSource:
        case Control::lblHeading:
        case Control::lblColumns:
            return new QLabel(caption, parent);
        case Control::Frame1:
        case Control::Frame2:
            return new QGroupBox(caption, parent);
        case Control::Option1:
        case Control::Option2:
        case Control::Option3:
        case Control::Option4:
            return new QRadioButton(caption, parent);
        case Control::txtHeading:
            return new QLineEdit(parent);
        default:
            return new QCheckBox(caption, parent);
    }
}

QString qt(const std::string& text) {
    return QString::fromStdString(text);
}

// Paths go between the logic and Qt as the file system's own bytes: QFile's encoding of file
// names, not plain UTF-8, so that a name that is not valid UTF-8 comes back as it went.
QString displayPath(const std::string& path) {
    return QFile::decodeName(QByteArray::fromStdString(path));
}

std::string nativePath(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

// lblSource and the status line show texts with a path, which may be wider than the label: the
// text is elided in the middle so that the file name stays in view, and the whole text is the
// tooltip. The text as it was set, byte for byte, stays in this property, so that caption()
// gives it back unchanged.
constexpr const char* kFullText = "fullText";

// `text` elided to `room` pixels. Only what comes before the last file name gives way, in its
// middle ("/home/…/recordings/run1.zkd"), so that the name and anything after it show whole;
// when even those don't fit, the whole text is elided in its middle.
QString elidePath(const QString& text, const QFontMetrics& fm, int room) {
    if (fm.horizontalAdvance(text) <= room) {
        return text;
    }
    const qsizetype slash = text.lastIndexOf('/');
    if (slash >= 0) {
        const QString tail = text.mid(slash + 1);
        // The two parts measured apart can come to a pixel or two less than measured together
        // (kerning, rounding): a little less room for the folders then keeps the name whole.
        for (int headRoom = room - fm.horizontalAdvance(tail);
             headRoom > fm.horizontalAdvance(QStringLiteral("/\u2026/")); headRoom -= 2) {
            const QString shown =
                fm.elidedText(text.left(slash + 1), Qt::ElideMiddle, headRoom) + tail;
            if (fm.horizontalAdvance(shown) <= room) {
                return shown;
            }
        }
    }
    return fm.elidedText(text, Qt::ElideMiddle, room);
}

void showElided(QLabel* label) {
    const QString full = displayPath(label->property(kFullText).toByteArray().toStdString());
    const int room = std::max(0, label->contentsRect().width() - 2 * label->margin());
    label->setText(elidePath(full, label->fontMetrics(), room));
    label->setToolTip(full);
}

void setElided(QLabel* label, const std::string& text) {
    label->setProperty(kFullText, QByteArray::fromStdString(text));
    showElided(label);
}

// Elides again whenever a label's width or font changes.
class Elider : public QObject {
  public:
    using QObject::QObject;

    void watch(QLabel* label) {
        label->setTextFormat(Qt::PlainText);  // a path is never markup
        label->setProperty(kFullText, QByteArray());
        label->installEventFilter(this);
    }

  protected:
    bool eventFilter(QObject* target, QEvent* event) override {
        switch (event->type()) {
            case QEvent::Resize:
            case QEvent::FontChange:
            case QEvent::StyleChange:
                showElided(static_cast<QLabel*>(target));
                break;
            default:
                break;
        }
        return false;
    }
};

// "description|pattern" in Qt's form: the description without its own pattern in brackets,
// then the pattern and its upper-case form, so that RUN1.ZKD is offered beside run1.zkd.
QString qtNameFilter(const std::string& filter) {
    const QString f = qt(filter);
    const qsizetype bar = f.indexOf('|');
    QString description = f.left(bar).trimmed();
    const QString pattern = f.mid(bar + 1).trimmed();
    if (description.endsWith(')') && description.contains('(')) {
        description = description.left(description.lastIndexOf('(')).trimmed();
    }
    QString patterns = pattern;
    if (pattern.toUpper() != pattern) {
        patterns += ' ' + pattern.toUpper();
    }
    return description + " (" + patterns + ")";
}

// The one local file of a drop, as the file system's bytes, or nothing.
std::string droppedFile(const QMimeData* data) {
    if (data == nullptr || !data->hasUrls() || data->urls().size() != 1 ||
        !data->urls().first().isLocalFile()) {
        return {};
    }
    const QUrl url = data->urls().first();
    if (!url.host().isEmpty() && url.host() != QLatin1String("localhost")) {
        return nativePath(url.toLocalFile());  // a share's name, "//host/path"
    }
    // A name that is not valid UTF-8 stays percent-encoded in the URL: decoding the encoded
    // path gives back its bytes, where toLocalFile() would replace them.
    return QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()).toStdString();
}

// The status line: its whole text, wrapped to as many lines as it needs, breaking between
// words or, in a word too long for a line (a path), anywhere; nothing is cut off or left to a
// tooltip. text() is the text as set.
class StatusLine : public QLabel {
  public:
    explicit StatusLine(QWidget* parent) : QLabel(parent) {
        setTextFormat(Qt::PlainText);
        setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    }

    // The height of the text's lines at `width` pixels, margins included.
    int heightForWidth(int width) const override {
        QTextLayout layout;
        const int lines =
            wrap(layout, width - contentsMargins().left() - contentsMargins().right());
        return std::max(lines, 1) * fontMetrics().height() + contentsMargins().top() +
               contentsMargins().bottom();
    }
    bool hasHeightForWidth() const override { return true; }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled,
                                 QPalette::WindowText));
        QTextLayout layout;
        wrap(layout, contentsRect().width());
        layout.draw(&p, contentsRect().topLeft());
    }

  private:
    int wrap(QTextLayout& layout, int width) const {
        layout.setText(text());
        layout.setFont(font());
        QTextOption option(Qt::AlignLeft);
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        layout.setTextOption(option);
        int lines = 0;
        layout.beginLayout();
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(std::max(width, 1));
            line.setPosition(QPointF(0, lines * fontMetrics().height()));
            ++lines;
        }
        layout.endLayout();
        return text().isEmpty() ? 0 : lines;
    }
};

// While an export runs, input of the mouse and the keyboard reaches the progress dialog only.
class InputBlocker : public QObject {
  public:
    explicit InputBlocker(QWidget* allowed) : allowed_(allowed) { qApp->installEventFilter(this); }
    ~InputBlocker() override { qApp->removeEventFilter(this); }
    InputBlocker(const InputBlocker&) = delete;
    InputBlocker& operator=(const InputBlocker&) = delete;

  protected:
    bool eventFilter(QObject* target, QEvent* event) override {
        switch (event->type()) {
            case QEvent::MouseButtonPress:
            case QEvent::MouseButtonRelease:
            case QEvent::MouseButtonDblClick:
            case QEvent::Wheel:
            case QEvent::KeyPress:
            case QEvent::KeyRelease:
            case QEvent::ShortcutOverride:
            case QEvent::Shortcut:
            case QEvent::ContextMenu:
            case QEvent::DragEnter:
            case QEvent::DragMove:
            case QEvent::Drop:
            case QEvent::TouchBegin:
            case QEvent::TouchUpdate:
            case QEvent::TouchEnd:
                break;
            default:
                return false;
        }
        if (auto* w = qobject_cast<QWidget*>(target)) {
            return w != allowed_ && !allowed_->isAncestorOf(w);
        }
        if (auto* window = qobject_cast<QWindow*>(target)) {
            return window != allowed_->windowHandle();
        }
        return false;
    }

  private:
    QWidget* allowed_;
};

// Where a window of outer size `size` goes beside the window `owner` (its outer rectangle): to
// its right where the screen `area` has room, else to its left, else centred on it; level with
// its top, and always within the screen.
QPoint besideWindow(const QRect& owner, const QSize& size, const QRect& area) {
    constexpr int kGap = 8;
    QRect place(QPoint(0, 0), size);
    if (owner.right() + kGap + size.width() <= area.right()) {
        place.moveTopLeft({owner.right() + 1 + kGap, owner.top()});
    } else if (owner.left() - kGap - size.width() >= area.left()) {
        place.moveTopLeft({owner.left() - kGap - size.width(), owner.top()});
    } else {
        place.moveCenter(owner.center());
    }
    const int left = std::clamp(place.left(), area.left(),
                                std::max(area.left(), area.right() + 1 - size.width()));
    const int top = std::clamp(place.top(), area.top(),
                               std::max(area.top(), area.bottom() + 1 - size.height()));
    return {left, top};
}

// Sizes a window that is about to open (a dialog) to fit the screen area `area`, `frame` being
// what the window manager adds around it: no larger than the area, its minimum size too.
void fitToScreen(QWidget* window, const QRect& area, const QSize& frame) {
    window->ensurePolished();
    if (window->layout() != nullptr) {
        window->layout()->activate();
    }
    const QSize room = (area.size() - frame).expandedTo(QSize(1, 1));
    window->setMinimumSize(window->minimumSize().boundedTo(room));
    const QSize wanted =
        window->testAttribute(Qt::WA_Resized) ? window->size() : window->sizeHint();
    window->resize(wanted.expandedTo(window->minimumSize()).boundedTo(room));
}

// Steps of the progress bar: a thousand, so a bar of any width moves smoothly.
constexpr int kProgressSteps = 1000;

}  // namespace

QtMainWindow::QtMainWindow(std::filesystem::path programDir, QWidget* parent)
    : QMainWindow(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                              Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      programDir_(std::move(programDir)),
      logic_(*this) {
    setObjectName("frmMain");
    setWindowTitle(ui::MainWindow::kCaption);
    setWindowIcon(programIcon());
    setAcceptDrops(true);
    buildMenus();
    buildControls();
    connectHandlers();
    logic_.Form_Load();
}

QtMainWindow::~QtMainWindow() {
    // As children they would go only in QWidget's destructor, after logic_, which the
    // preview's last signal reaches.
    delete preview_;
    delete report_;
}

void QtMainWindow::buildMenus() {
    // Every menu and item has an access key: Alt and the underlined letter open a menu, the
    // letter alone picks an item of an open menu, and F10 opens the first menu.
    QMenu* mnuFile = menuBar()->addMenu("&File");
    mnuFile->setObjectName("mnuFile");
    QAction* mnuFileExit = mnuFile->addAction("E&xit");
    mnuFileExit->setObjectName("mnuFileExit");
    connect(mnuFileExit, &QAction::triggered, this, [this] { logic_.mnuFileExit_Click(); });

    QMenu* mnuView = menuBar()->addMenu("&View");
    mnuView->setObjectName("mnuView");
    mnuViewPreview_ = mnuView->addAction("Recording &Preview");
    mnuViewPreview_->setObjectName("mnuViewPreview");
    mnuViewPreview_->setEnabled(false);
    connect(mnuViewPreview_, &QAction::triggered, this, [this] { logic_.mnuViewPreview_Click(); });
    mnuViewReport_ = mnuView->addAction("Recording &Report");
    mnuViewReport_->setObjectName("mnuViewReport");
    mnuViewReport_->setEnabled(false);
    connect(mnuViewReport_, &QAction::triggered, this, [this] { logic_.mnuViewReport_Click(); });

    QMenu* mnuOptions = menuBar()->addMenu("&Options");
    mnuOptions->setObjectName("mnuOptions");
    const std::pair<ui::MenuItem, const char*> columns[] = {
        {ui::MenuItem::mnuOptionsSeconds, "&Time(sec) Column"},
        {ui::MenuItem::mnuOptionsConductance, "&Conductance(uS) Column"}};
    for (const auto& [item, text] : columns) {
        QAction* action = mnuOptions->addAction(text);
        action->setObjectName(ui::menuItemName(item));
        action->setCheckable(true);
        checkItems_[static_cast<std::size_t>(item)] = action;
    }
    connect(checkItems_[0], &QAction::triggered, this,
            [this](bool checked) { logic_.mnuOptionsSeconds_Click(checked); });
    connect(checkItems_[1], &QAction::triggered, this,
            [this](bool checked) { logic_.mnuOptionsConductance_Click(checked); });
    mnuOptions->addSeparator();
    QAction* mnuOptionsExport = mnuOptions->addAction("&Export Options...");
    mnuOptionsExport->setObjectName("mnuOptionsExport");
    connect(mnuOptionsExport, &QAction::triggered, this,
            [this] { logic_.mnuOptionsExport_Click(); });

    QMenu* mnuHelp = menuBar()->addMenu("&Help");
    mnuHelp->setObjectName("mnuHelp");
    QAction* mnuHelpAbout = mnuHelp->addAction("&About");
    mnuHelpAbout->setObjectName("mnuHelpAbout");
    connect(mnuHelpAbout, &QAction::triggered, this, [this] { logic_.mnuHelpAbout_Click(); });

    // F10 opens the first menu, as on other desktops; Qt leaves F10 alone here.
    auto* menuKey = new QAction(this);
    menuKey->setObjectName("actMenuKey");
    menuKey->setShortcut(Qt::Key_F10);
    addAction(menuKey);
    connect(menuKey, &QAction::triggered, this,
            [this, mnuFile] { menuBar()->setActiveAction(mnuFile->menuAction()); });
}

void QtMainWindow::buildControls() {
    auto* client = new QWidget(this);
    client->setObjectName("frmMainClient");
    setCentralWidget(client);
    const double dpi = logicalDpi(this);
    client->setFixedSize(twipsToPixels(kClientWidth, dpi), twipsToPixels(kClientHeight, dpi));
    // The status line under the controls: a label, as a status bar's own message would be
    // cleared by every menu item the mouse passes over.
    statusBar()->setSizeGripEnabled(false);
    lblStatus_ = new StatusLine(statusBar());
    lblStatus_->setObjectName("lblStatus");
    // As wide as the status bar whatever its text (a long text must not widen the fixed-size
    // window), and as high as its lines: a long text makes the window taller.
    lblStatus_->setContentsMargins(6, 0, 6, 0);  // off the window's edge
    lblStatus_->setFixedHeight(lblStatus_->heightForWidth(width()));
    statusBar()->addWidget(lblStatus_, 1);
    // The window takes the size of its client area, menu bar and status line, and keeps it.
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    layout()->activate();

    for (const Design& d : kDesign) {
        QWidget* parent = d.container == Control::cmdLoad ? client : widgets_[index(d.container)];
        const char* caption = d.caption;
        for (const ui::RateOption& rate : ui::kRateOptions) {
            caption = rate.option == d.control ? rate.caption : caption;
        }
        QWidget* w = createControl(d.control, caption, parent);
        w->setObjectName(ui::controlName(d.control));
        placeTwips(w, d.left, d.top, d.width, d.height);
        widgets_[index(d.control)] = w;
    }
    // A caption wider than its designed box would be cut off in this toolkit's fonts: such an
    // option or check box grows to the right, as far as its frame allows.
    for (const Design& d : kDesign) {
        auto* button = qobject_cast<QAbstractButton*>(widget(d.control));
        if (button && d.container != Control::cmdLoad) {
            const int room = button->parentWidget()->width() - button->x() - 4;
            const int wanted = std::min(button->sizeHint().width(), room);
            button->resize(std::max(button->width(), wanted), button->height());
        }
    }

    widget(Control::cmdLoad)->setFont(dialogFont(font(), false));
    widget(Control::cmdExport)->setFont(dialogFont(font(), false));
    widget(Control::lblSource)->setFont(dialogFont(font(), true));
    static_cast<QLabel*>(widget(Control::lblHeading))->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    static_cast<QLabel*>(widget(Control::lblSource))->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // The columns that the Options menu adds, in words, under the boxes of the others.
    auto* columns = static_cast<QLabel*>(widget(Control::lblColumns));
    columns->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    columns->setWordWrap(true);
    auto* elider = new Elider(this);
    elider->watch(static_cast<QLabel*>(widget(Control::lblSource)));
    // A label lower than its text, as "Main Heading" is in this toolkit's fonts, would cut off
    // the text's descenders: it keeps its place and grows to the size the text needs.
    auto* heading = widget(Control::lblHeading);
    heading->resize(heading->size().expandedTo(heading->sizeHint()));

    // Enter, like Space, presses the push button that has the focus.
    static_cast<QPushButton*>(widget(Control::cmdLoad))->setAutoDefault(true);
    static_cast<QPushButton*>(widget(Control::cmdExport))->setAutoDefault(true);

    // The state as designed; Restore_Settings then checks and shows what the settings ask.
    static_cast<QRadioButton*>(widget(Control::Option1))->setChecked(true);
    widget(Control::txtHeading)->hide();
    widget(Control::lblHeading)->hide();
    widget(Control::cmdExport)->setEnabled(false);

    QWidget* previous = nullptr;
    for (const Design& d : kDesign) {
        QWidget* w = widget(d.control);
        if (w->focusPolicy() == Qt::NoFocus) {
            continue;  // labels and frames take no focus
        }
        if (previous) {
            QWidget::setTabOrder(previous, w);
        }
        previous = w;
    }
    followRateSelection();
    widget(Control::cmdLoad)->setFocus();
}

void QtMainWindow::followRateSelection() {
    // The rate options are one stop of the tab order, at the selected option: only the checked
    // option takes Tab, and the arrow keys move between them. Qt arranges this itself once an
    // option has had the focus; kept here as the selection changes, so that Tab lands on the
    // selected rate also after the settings chose it.
    for (const ui::RateOption& rate : ui::kRateOptions) {
        auto* option = static_cast<QRadioButton*>(widget(rate.option));
        const Qt::FocusPolicy policy = option->focusPolicy();
        option->setFocusPolicy(option->isChecked() ? Qt::FocusPolicy(policy | Qt::TabFocus)
                                                   : Qt::FocusPolicy(policy & ~Qt::TabFocus));
    }
}

void QtMainWindow::connectHandlers() {
    for (const ui::RateOption& rate : ui::kRateOptions) {
        connect(static_cast<QRadioButton*>(widget(rate.option)), &QRadioButton::toggled, this,
                [this, handler = ui::handlerOf(rate.option)](bool on) {
                    followRateSelection();
                    on ? (logic_.*handler)() : void();
                });
    }
    for (const Control box : {Control::chkHeader, Control::chkTime, Control::chkData,
                              Control::chkBase, Control::chkRes, Control::chkTags}) {
        connect(static_cast<QCheckBox*>(widget(box)), &QCheckBox::stateChanged, this,
                [this, handler = ui::handlerOf(box)] { (logic_.*handler)(); });
    }
    connect(static_cast<QLineEdit*>(widget(Control::txtHeading)), &QLineEdit::textChanged, this,
            [this] { logic_.txtHeading_Change(); });
    for (const Control button : {Control::cmdLoad, Control::cmdExport}) {
        connect(static_cast<QPushButton*>(widget(button)), &QPushButton::clicked, this,
                [this, handler = ui::handlerOf(button)] { (logic_.*handler)(); });
    }
}

void QtMainWindow::loadRecording(const QString& path) {
    logic_.loadRecording(nativePath(path));
}

void QtMainWindow::loadRecordingPath(const std::filesystem::path& path) {
    logic_.loadRecording(path.native());
}

QWidget* QtMainWindow::widget(Control control) const {
    return widgets_[index(control)];
}

ui::SizeTwips QtMainWindow::screenSize() const {
    const QScreen* s = screen();
    const QSize size = s ? s->geometry().size() : QSize(0, 0);
    const double perPixel = kTwipsPerInch / logicalDpi(this);
    return {static_cast<float>(size.width() * perPixel),
            static_cast<float>(size.height() * perPixel)};
}

ui::SizeTwips QtMainWindow::windowSize() const {
    // Before the first show the frame isn't known yet; the window's own size, menu bar
    // included, is the best there is then.
    const QSize size = frameGeometry().size().expandedTo(sizeHint());
    const double perPixel = kTwipsPerInch / logicalDpi(this);
    return {static_cast<float>(size.width() * perPixel),
            static_cast<float>(size.height() * perPixel)};
}

void QtMainWindow::moveWindow(float left, float top) {
    const double dpi = logicalDpi(this);
    const QPoint origin = screen() ? screen()->geometry().topLeft() : QPoint();
    move(origin + QPoint(static_cast<int>(std::lround(left * dpi / kTwipsPerInch)),
                         static_cast<int>(std::lround(top * dpi / kTwipsPerInch))));
}

ui::CheckValue QtMainWindow::checkValue(Control box) const {
    switch (static_cast<QCheckBox*>(widget(box))->checkState()) {
        case Qt::Unchecked:
            return ui::CheckValue::Unchecked;
        case Qt::PartiallyChecked:
            return ui::CheckValue::Grayed;
        default:
            return ui::CheckValue::Checked;
    }
}

void QtMainWindow::setChecked(Control box) {
    static_cast<QCheckBox*>(widget(box))->setChecked(true);
}

void QtMainWindow::selectOption(Control option) {
    static_cast<QRadioButton*>(widget(option))->setChecked(true);
}

std::string QtMainWindow::text(Control box) const {
    return static_cast<QLineEdit*>(widget(box))->text().toStdString();
}

void QtMainWindow::setVisible(Control control, bool visible) {
    widget(control)->setVisible(visible);
}

std::string QtMainWindow::caption(Control control) const {
    QWidget* w = widget(control);
    if (const QVariant full = w->property(kFullText); full.isValid()) {
        return full.toByteArray().toStdString();  // the caption as set, not as elided
    }
    if (auto* button = qobject_cast<QAbstractButton*>(w)) {
        return button->text().toStdString();
    }
    if (auto* label = qobject_cast<QLabel*>(w)) {
        return label->text().toStdString();
    }
    if (auto* frame = qobject_cast<QGroupBox*>(w)) {
        return frame->title().toStdString();
    }
    return {};
}

void QtMainWindow::setCaption(Control control, const std::string& caption) {
    QWidget* w = widget(control);
    const QString text = QString::fromStdString(caption);
    if (w->property(kFullText).isValid()) {
        setElided(static_cast<QLabel*>(w), caption);  // a path
    } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
        button->setText(text);
    } else if (auto* label = qobject_cast<QLabel*>(w)) {
        label->setText(text);
    } else if (auto* frame = qobject_cast<QGroupBox*>(w)) {
        frame->setTitle(text);
    }
}

void QtMainWindow::setEnabled(Control control, bool enabled) {
    widget(control)->setEnabled(enabled);
    // Export is enabled exactly while a recording is loaded: so is its preview.
    if (control == Control::cmdExport) {
        mnuViewPreview_->setEnabled(enabled);
        mnuViewReport_->setEnabled(enabled);
    }
}

void QtMainWindow::showMessage(const std::string& text, const std::string& title,
                               ui::MessageIcon icon) {
    QMessageBox box(
        icon == ui::MessageIcon::Critical ? QMessageBox::Critical : QMessageBox::Warning,
        QString::fromStdString(title), displayPath(text), QMessageBox::Ok, this);
    box.exec();
}

std::optional<ui::ChosenFile> QtMainWindow::openFileDialog(const std::string& title,
                                                           const std::string& filter,
                                                           const std::string& initialName,
                                                           const std::string& initialDir) {
    // Qt's own dialog, the same on every desktop.
    QFileDialog dialog(this, qt(title), displayPath(initialDir));
    dialog.setObjectName("cdlFile");
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilter(qtNameFilter(filter));
    if (!initialName.empty()) {
        dialog.selectFile(displayPath(initialName));
    }
    dialogDir_ = displayPath(initialDir);
    fitDialog(&dialog);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    const QString path = dialog.selectedFiles().first();
    return ui::ChosenFile{nativePath(path), nativePath(QFileInfo(path).fileName())};
}

namespace {

// Qt's save dialog. The name typed follows the file type: switching the type gives it the
// type's extension, once, and a name accepted without one gets it (the default suffix). While
// a type standing for a folder is selected the dialog only says where it points: the folder
// then is chosen in the folder chooser.
class SaveDialog : public QFileDialog {
  public:
    SaveDialog(QWidget* parent, const std::vector<std::string>& fileTypes) : QFileDialog(parent) {
        for (const std::string& type : fileTypes) {
            folderType_.push_back(type.ends_with('|'));
            filters_ << (folderType_.back() ? qt(type.substr(0, type.size() - 1))
                                            : qtNameFilter(type));
            // "*.csv" gives "csv"
            suffixes_ << (folderType_.back() ? QString()
                                             : qt(type.substr(type.rfind('|') + 1)).mid(2));
        }
        setNameFilters(filters_);
        setDefaultSuffix(suffixes_.value(0));
        connect(this, &QFileDialog::filterSelected, this, &SaveDialog::typeSelected);
    }

    std::size_t type() const {
        const qsizetype i = filters_.indexOf(selectedNameFilter());
        return i < 0 ? 0 : static_cast<std::size_t>(i);
    }
    QString chosen() const { return pointedAt_.isEmpty() ? selectedFiles().value(0) : pointedAt_; }

    // For the folder type: the folder selected in the list or typed, when it exists, else the
    // folder shown, ending in "/".
    void accept() override {
        if (!folderType_[type()]) {
            QFileDialog::accept();
            return;
        }
        const auto* edit = findChild<QLineEdit*>("fileNameEdit");
        QStringList candidates = selectedFiles();
        if (edit != nullptr && !edit->text().isEmpty()) {
            candidates << QFileInfo(directory(), edit->text()).absoluteFilePath();
        }
        pointedAt_ = directory().absolutePath() + '/';
        for (const QString& candidate : candidates) {
            if (QFileInfo(candidate).isDir() &&
                QFileInfo(candidate).absoluteFilePath() != directory().absolutePath()) {
                pointedAt_ = QFileInfo(candidate).absoluteFilePath();
                break;
            }
        }
        QDialog::accept();
    }

  private:
    void typeSelected(const QString& filter) {
        const qsizetype i = filters_.indexOf(filter);
        if (i < 0) {
            return;
        }
        const bool folder = folderType_[static_cast<std::size_t>(i)];
        setDefaultSuffix(suffixes_[i]);
        setLabelText(QFileDialog::Accept, folder ? "Choose Folder..." : "&Save");
        auto* edit = findChild<QLineEdit*>("fileNameEdit");
        if (edit == nullptr || edit->text().isEmpty()) {
            return;
        }
        // Whatever file type's extension the name has goes, then the new type's comes.
        QString name = edit->text();
        for (const QString& suffix : suffixes_) {
            if (!suffix.isEmpty() && name.endsWith('.' + suffix, Qt::CaseInsensitive) &&
                name.size() > suffix.size() + 1) {
                name.chop(suffix.size() + 1);
                break;
            }
        }
        edit->setText(folder ? name : name + '.' + suffixes_[i]);
    }

    QStringList filters_;
    QStringList suffixes_;  // without the dot: "csv"
    std::vector<bool> folderType_;
    QString pointedAt_;
};

}  // namespace

std::optional<ui::SavedFile> QtMainWindow::saveFileDialog(const std::vector<std::string>& fileTypes,
                                                          const std::string& initialName,
                                                          bool confirmReplace) {
    SaveDialog dialog(this, fileTypes);
    dialog.setObjectName("cdlFile");
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !confirmReplace);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    const QString name = displayPath(initialName);
    if (!name.contains('/') && !dialogDir_.isEmpty()) {
        dialog.setDirectory(dialogDir_);
    }
    dialog.selectFile(name);
    fitDialog(&dialog);
    if (dialog.exec() != QDialog::Accepted || dialog.chosen().isEmpty()) {
        return std::nullopt;
    }
    return ui::SavedFile{nativePath(dialog.chosen()), dialog.type()};
}

std::optional<std::string> QtMainWindow::folderDialog(const std::string& title,
                                                      const std::string& dir,
                                                      const std::string& selected) {
    // Qt's folder chooser, with its button for a new folder.
    QFileDialog dialog(this, qt(title), displayPath(dir));
    dialog.setObjectName("cdlFolder");
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setLabelText(QFileDialog::Accept, "Choose");
    if (!selected.empty()) {
        dialog.selectFile(displayPath(selected));
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return nativePath(dialog.selectedFiles().first());
}

bool QtMainWindow::askYesNo(const std::string& text, const std::string& title) {
    QMessageBox box(QMessageBox::Question, qt(title), displayPath(text),
                    QMessageBox::Yes | QMessageBox::No, this);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

void QtMainWindow::setMenuChecked(ui::MenuItem item, bool checked) {
    checkItems_[static_cast<std::size_t>(item)]->setChecked(checked);
}

std::optional<ExportChoices> QtMainWindow::exportOptionsDialog(
    const ExportChoices& current, const std::vector<ui::ChoiceProblem>& problems) {
    ExportOptionsDialog dialog(current, problems, this);
    fitDialog(&dialog);
    if (dialog.exec() != QDialog::Accepted) {
        return std::nullopt;
    }
    return dialog.choices();
}

ExportResult QtMainWindow::runWithProgress(const std::string& label, const ui::ExportJob& job) {
    QProgressDialog dialog(displayPath(label), "Cancel", 0, kProgressSteps, this);
    dialog.setObjectName("dlgProgress");
    // A long path is shortened in its middle, so that the dialog stays within the screen; the
    // whole of it is the tooltip.
    const QString whole = displayPath(label);
    const int room = (screen() != nullptr ? screen()->availableGeometry().width() : 1024) * 3 / 4;
    auto* text = new QLabel(fontMetrics().elidedText(whole, Qt::ElideMiddle, room));
    text->setToolTip(whole);
    text->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    dialog.setLabel(text);
    dialog.setWindowTitle(ui::MainWindow::kCaption);
    dialog.setWindowModality(Qt::WindowModal);
    dialog.setMinimumDuration(500);
    dialog.setAutoClose(false);
    dialog.setAutoReset(false);
    dialog.setValue(0);  // starts the clock of the minimum duration
    InputBlocker blocker(&dialog);
    QApplication::setOverrideCursor(Qt::BusyCursor);
    // The export runs here, on the window's thread; between blocks of records the window
    // repaints, the dialog appears when it is due, and a Cancel or a close gets through.
    const ExportResult result = job([&dialog](std::uint64_t done, std::uint64_t known) {
        const auto share = known == 0 ? 0 : done * kProgressSteps / known;
        dialog.setValue(static_cast<int>(std::min<std::uint64_t>(share, kProgressSteps)));
        QCoreApplication::processEvents();
        return !dialog.wasCanceled();
    });
    QApplication::restoreOverrideCursor();
    return result;
}

void QtMainWindow::setStatus(const std::string& text) {
    // The text as set, byte for byte, for whoever reads it back.
    lblStatus_->setProperty(kFullText, QByteArray::fromStdString(text));
    lblStatus_->setText(displayPath(text));
    fitStatus();
}

void QtMainWindow::fitStatus() {
    // Before the first show the label's width isn't settled yet: the client area's is close.
    const int width = lblStatus_->isVisible() ? lblStatus_->width() : centralWidget()->width();
    int height = lblStatus_->heightForWidth(width);
    // The window grows by the lines the text needs, but never beyond its screen: there it
    // moves up as far as it must.
    const QScreen* s = screen();
    if (s != nullptr) {
        const QRect area = s->availableGeometry();
        const int others = frameGeometry().height() - lblStatus_->height();
        height =
            std::min(height, std::max(area.height() - others, lblStatus_->fontMetrics().height()));
    }
    if (height == lblStatus_->height() && lblStatus_->minimumHeight() == height) {
        lblStatus_->update();
        return;
    }
    lblStatus_->setFixedHeight(height);
    // The status bar and then the window take the new height now, not at the next turn of the
    // event loop, so that the move below sees the window's new size.
    QCoreApplication::sendPostedEvents(statusBar(), QEvent::LayoutRequest);
    layout()->activate();
    if (s != nullptr && isVisible()) {
        const QRect area = s->availableGeometry();
        const QRect frame = frameGeometry();
        if (frame.bottom() > area.bottom()) {
            move(pos() -
                 QPoint(0, std::min(frame.bottom() - area.bottom(), frame.top() - area.top())));
        }
    }
}

void QtMainWindow::fitDialog(QWidget* dialog) const {
    const QScreen* s = screen();
    if (s != nullptr) {
        fitToScreen(dialog, s->availableGeometry(), frameGeometry().size() - size());
    }
}

void QtMainWindow::placeBeside(QWidget* window) {
    // A new window opens beside this one; once open it stays where the user puts it.
    const QScreen* s = screen();
    const QRect area = s ? s->availableGeometry() : QRect(QPoint(0, 0), window->size());
    // Its frame isn't known before it is shown: this window's is the best guess.
    const QSize frame = frameGeometry().size() - size();
    window->resize(window->size().boundedTo(area.size() - frame));
    window->move(besideWindow(frameGeometry(), window->size() + frame, area));
}

void QtMainWindow::showPreview(std::shared_ptr<const ui::PreviewData> data,
                               std::shared_ptr<const ui::RowSchedule> rows,
                               const std::string& name) {
    if (!preview_) {
        preview_ = new RecordingPreview(this);
        preview_->setAttribute(Qt::WA_DeleteOnClose);
        connect(preview_, &QObject::destroyed, this, [this] { logic_.previewClosed(); });
        connect(preview_, &RecordingPreview::exportSelectionRequested, this,
                [this](const ui::PreviewData* shown, std::int32_t from, std::int32_t to) {
                    logic_.exportSelection(shown, from, to);
                });
        placeBeside(preview_);
    }
    preview_->show(std::move(data), std::move(rows),
                   QFileInfo(QFile::decodeName(name.c_str())).fileName());
}

void QtMainWindow::setPreviewRows(std::shared_ptr<const ui::RowSchedule> rows) {
    if (preview_) {
        preview_->setRows(std::move(rows));
    }
}

void QtMainWindow::emptyPreview() {
    if (preview_) {
        preview_->showEmpty();
    }
}

void QtMainWindow::showReport(const ui::ReportView& report) {
    if (!report_) {
        report_ = new ReportWindow(this);
        report_->setAttribute(Qt::WA_DeleteOnClose);
        placeBeside(report_);
    }
    report_->showReport(report);
}

void QtMainWindow::showAbout() {
    // No owner, as designed; application-modal, so the main window takes no input meanwhile.
    AboutDialog about;
    about.setWindowModality(Qt::ApplicationModal);
    about.exec();
}

void QtMainWindow::closeWindow() {
    close();
}

void QtMainWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (shown_ || event->spontaneous()) {
        return;
    }
    shown_ = true;
    // The control with the focus is marked from the start, not only after the first key press.
    setAttribute(Qt::WA_KeyboardFocusChange);
    // Form_Load centred the window on its size without the window manager's frame, which is
    // only known once the window is up: then it is centred once more, by the same rule, on its
    // real outer size. Without a window manager there is no frame and nothing to correct.
    centreOnFrame_ = true;
    QTimer::singleShot(2000, this, [this] { centreOnFrame_ = false; });
    centreOnFrame();
}

void QtMainWindow::moveEvent(QMoveEvent* event) {
    QMainWindow::moveEvent(event);
    centreOnFrame();
}

void QtMainWindow::centreOnFrame() {
    if (!centreOnFrame_ || frameGeometry().size() == size()) {
        return;  // done, or the frame isn't known yet
    }
    centreOnFrame_ = false;
    const ui::SizeTwips screen = screenSize();
    const ui::SizeTwips window = windowSize();
    moveWindow((screen.width - window.width) / 2, (screen.height - window.height) / 2);
}

void QtMainWindow::closeEvent(QCloseEvent* event) {
    logic_.Form_QueryUnload();
    event->accept();
}

void QtMainWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (!droppedFile(event->mimeData()).empty() && logic_.acceptsLoad()) {
        event->acceptProposedAction();
    }
}

void QtMainWindow::dropEvent(QDropEvent* event) {
    std::string path = droppedFile(event->mimeData());
    if (path.empty() || !logic_.acceptsLoad()) {
        return;
    }
    event->acceptProposedAction();
    // Loaded once the drop has finished, so a message box doesn't hold up the program that
    // the file came from.
    QTimer::singleShot(0, this, [this, path = std::move(path)] { logic_.loadRecording(path); });
}

}  // namespace zk::ui_qt
