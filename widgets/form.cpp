// Dialog windows share their look and the guarded FormShow/FormClose events here.
#include "widgets/form.h"

#include "widgets/guard.h"
#include "widgets/look.h"

#include <QPainter>
#include <QScreen>
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
    if (!event->spontaneous()) {
        placeCentred();
    }
    QDialog::showEvent(event);
    if (!event->spontaneous()) {
        runGuarded([this] { FormShow(); });
    }
}

void Form::placeCentred() {
    // The client area is placed, not the frame: the frame's size is known only once the window manager has
    // framed the window, and a window placed by its frame opens lower from its second showing on.
    QRect area;
    const QWidget* owner = parentWidget() ? parentWidget()->window() : nullptr;
    if (owner && owner->isVisible()) {
        area = owner->geometry();
    } else if (const QScreen* s = screen()) {
        area = s->availableGeometry();
    }
    if (area.isEmpty()) {
        return;
    }
    QRect placed(QPoint(0, 0), size());
    placed.moveCenter(area.center());
    setGeometry(placed);
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
