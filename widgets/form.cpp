// Dialog windows share their look and the guarded FormShow/FormClose events here.
#include "widgets/form.h"

#include "widgets/guard.h"
#include "widgets/look.h"

#include <QPainter>
#include <QShowEvent>

Form::Form(QWidget* parent, const QString& objectName, const QString& caption, QSize clientSize, bool fixedSize)
    : QDialog(parent) {
    setObjectName(objectName);
    setWindowTitle(caption);
    Look::apply(this);
    if (fixedSize) {
        setFixedSize(clientSize);
    } else {
        resize(clientSize);
    }
}

void Form::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous()) {
        runGuarded([this] { FormShow(); });
    }
}

void Form::done(int result) {
    // FormClose runs once for every way of closing: a button's result, Escape, the close box.
    if (!closing_) {
        closing_ = true;
        runGuarded([this] { FormClose(); });
        closing_ = false;
    }
    QDialog::done(result);
}

void Form::paintEvent(QPaintEvent* event) {
    if (backgroundPicture_) {
        QPainter p(this);
        p.drawPixmap(0, 0, Look::background());
    }
    QDialog::paintEvent(event);
}
