// The base of the program's dialog windows: fixed client size, the common look and background picture,
// and the two window events every window may handle, FormShow and FormClose, both run through the error
// boundary. A window is created once and shown modally any number of times through Dialogs::showModal.
#pragma once

#include <QDialog>
#include <QSize>

// Modal results: the confirming buttons close with OK, Cancel and Close with -1.
constexpr int mrOk = 1;
constexpr int mrCancel = -1;

class Form : public QDialog {
    Q_OBJECT
public:
    // clientSize fixes the window's size when fixedSize is true; otherwise it is the first size.
    Form(QWidget* parent, const QString& objectName, const QString& caption, QSize clientSize, bool fixedSize = true);

    // Closes the window with a modal result (as setting ModalResult does).
    void setModalResult(int result) { done(result); }
    void done(int result) override;

protected:
    virtual void FormShow() {}
    virtual void FormClose() {}
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    // Whether to draw the background picture (the viewer draws a plain colour instead).
    void setBackgroundPicture(bool on) { backgroundPicture_ = on; }

private:
    // Centres the window over the window it belongs to, or on the screen when it has none showing; done at
    // every showing, so the window opens in the same place each time.
    void placeCentred();

    bool backgroundPicture_ = true;
    bool closing_ = false;
};
