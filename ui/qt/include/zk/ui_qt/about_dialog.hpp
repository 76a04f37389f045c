#pragma once

#include <QDialog>

namespace zk::ui_qt {

/// frmAbout: the program's name, maker, version and disclaimer above an etched rule, and OK.
/// OK is both the default and the cancel button, so Enter and Escape close it too. Each
/// opening builds it afresh. Texts that need more room than designed get it, and the window
/// grows downwards with them.
class AboutDialog : public QDialog {
    Q_OBJECT
  public:
    explicit AboutDialog(QWidget* parent = nullptr);

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void fitTexts();
};

}  // namespace zk::ui_qt
