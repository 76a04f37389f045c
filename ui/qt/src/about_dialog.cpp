#include "zk/ui_qt/about_dialog.hpp"

#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QShowEvent>
#include <algorithm>

#include "zk/ui/about.hpp"
#include "zk/ui_qt/program_icon.hpp"
#include "zk/ui_qt/twips.hpp"

namespace zk::ui_qt {
namespace {

// Line1: a grey rule one pixel wide over a white one two pixels wide, which together look cut
// into the window. Both lie 1800 twips from the top; the grey one ends at 5684, the white at
// 5669.
class EtchedRule : public QWidget {
  public:
    explicit EtchedRule(QWidget* parent) : QWidget(parent) {
        setObjectName("Line1");
        setAttribute(Qt::WA_TransparentForMouseEvents);
        const double dpi = logicalDpi(parent);
        const int left = twipsToPixels(120, dpi);
        grey_ = twipsToPixels(5684, dpi) - left;
        white_ = twipsToPixels(5669, dpi) - left;
        setGeometry(left, twipsToPixels(1800, dpi), grey_ + 1, 2);
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(0, 0, white_ + 1, 2, QColor(255, 255, 255));
        p.fillRect(0, 0, grey_ + 1, 1, QColor(128, 128, 128));
    }

  private:
    int grey_ = 0;
    int white_ = 0;
};

QLabel* label(QWidget* parent, const char* name, const QString& text, int left, int top, int width,
              int height) {
    auto* l = new QLabel(text, parent);
    l->setObjectName(name);
    l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    placeTwips(l, left, top, width, height);
    return l;
}

QFont sansSerif(const QFont& base, double points, bool bold) {
    QFont f = base;
    f.setFamily("Sans Serif");
    f.setStyleHint(QFont::SansSerif);
    f.setPointSizeF(points);
    f.setBold(bold);
    return f;
}

void setTextColour(QWidget* w, const QColor& colour) {
    QPalette pal = w->palette();
    pal.setColor(QPalette::WindowText, colour);
    w->setPalette(pal);
}

}  // namespace

AboutDialog::AboutDialog(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint) {
    setObjectName("frmAbout");
    setWindowTitle(QString::fromStdString(ui::aboutCaption()));
    setModal(true);
    const double dpi = logicalDpi(this);
    setFixedSize(twipsToPixels(5730, dpi), twipsToPixels(2865, dpi));

    auto* picIcon = label(this, "picIcon", {}, 240, 240, 480, 480);
    picIcon->setPixmap(programPixmap());

    auto* cmdOK = new QPushButton("OK", this);
    cmdOK->setObjectName("cmdOK");
    placeTwips(cmdOK, 4245, 1920, 1260, 345);
    cmdOK->setDefault(true);
    cmdOK->setAutoDefault(true);
    // Escape already rejects a QDialog; OK, Enter and Escape all just close the window.
    connect(cmdOK, &QPushButton::clicked, this, &QDialog::accept);

    auto* Label6 = label(this, "Label6", ui::kAboutWebAddress, 360, 1440, 4935, 255);
    setTextColour(Label6, QColor(0, 0, 255));

    label(this, "lblSoft", QString::fromStdString(ui::programVersion()), 3000, 1080, 1935, 255);

    auto* Label1 = label(this, "Label1", ui::kAboutMaker, 1080, 720, 3855, 255);
    Label1->setFont(sansSerif(font(), 9.75, true));

    new EtchedRule(this);

    auto* lblTitle = label(this, "lblTitle", ui::kAboutProgramName, 1080, 240, 3885, 480);
    lblTitle->setFont(sansSerif(font(), 12, true));
    setTextColour(lblTitle, QColor(0, 0, 0));

    auto* Label5 = label(this, "Label5", ui::kAboutVersionLabel, 1080, 1080, 1845, 225);
    Label5->setFont(sansSerif(font(), 9.75, false));

    auto* lblDisclaimer = label(
        this, "lblDisclaimer", QString::fromStdString(ui::aboutDisclaimer()), 255, 1920, 3870, 825);
    lblDisclaimer->setWordWrap(true);
    setTextColour(lblDisclaimer, QColor(0, 0, 0));

    fitTexts();
    cmdOK->setFocus();
}

void AboutDialog::fitTexts() {
    // The designed boxes are too small for some texts in this toolkit's fonts, more so at a
    // larger scale: each label keeps its place and grows to what its text needs (the wrapped
    // disclaimer downwards, to all its lines; a one-line text to its width as far as the window
    // allows), and the window grows downwards to keep its designed margin under the lowest.
    const int margin = twipsToPixels(120, logicalDpi(this));
    int bottom = height();
    for (QLabel* l : findChildren<QLabel*>()) {
        if (l->wordWrap()) {
            l->resize(l->width(), std::max(l->height(), l->heightForWidth(l->width())));
        } else if (l->pixmap().isNull()) {
            const int room = width() - margin - l->x();
            l->resize(std::max(l->width(), std::min(l->sizeHint().width(), room)),
                      std::max(l->height(), l->sizeHint().height()));
        }
        bottom = std::max(bottom, l->geometry().bottom() + 1 + margin);
    }
    setFixedHeight(bottom);
}

void AboutDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    setAttribute(Qt::WA_KeyboardFocusChange);  // OK's focus is marked from the start
}

}  // namespace zk::ui_qt
