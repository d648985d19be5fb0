// Driving windows as a user does, shared by the GUI tests: typing into a control, driving the next modal
// window once it is active, and reading the messages shown.
#pragma once

#include "widgets/dialogs.h"

#include <QDialog>
#include <QString>
#include <QStringList>
#include <QTest>
#include <functional>

class QWidget;

// Types text into w as the user would after tabbing into it, replacing what it held; any letter, also one that
// is not ASCII.
void typeInto(QWidget* w, const QString& text);

// The texts of the messages shown so far, in order.
QStringList messageTexts();

class QAbstractButton;
// The ways of closing a window without its OK, each a test row of the int column "how": its Cancel or Close
// button, Escape, and the close box.
void addClosingRows();
// Closes d in the how-th way of addClosingRows; button is its Cancel or Close button.
void closeWithoutOk(QDialog& d, QAbstractButton* button, int how);

// Whether button shows the picture named picture (":/pictures/<picture>") at its icon size, pixel for pixel.
bool showsPicture(const QAbstractButton* button, const QString& picture);

// Queues driver for the next modal window, of type Window, run once that window is active.
template <typename Window> void drive(std::function<void(Window&)> driver) {
    DialogScript::setNextModal([driver](QDialog& d) {
        d.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&d));
        driver(static_cast<Window&>(d));
    });
}
