// The shared GUI test helpers.
#include "tests/support/guitest.h"

#include <QAbstractButton>
#include <QImage>
#include <QWidget>

void typeInto(QWidget* w, const QString& text) {
    w->setFocus(Qt::TabFocusReason);
    QTest::keyClick(w, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(w, Qt::Key_Delete);
    for (const QChar c : text) {
        if (c.unicode() < 0x80) {
            QTest::keyClick(w, c.toLatin1());
        } else {
            // A letter no key of the test's keyboard has (ë): typed as the text its key event carries.
            QTest::sendKeyEvent(QTest::Click, w, Qt::Key_unknown, QString(c), Qt::NoModifier);
        }
    }
}

QStringList messageTexts() {
    QStringList texts;
    for (const ShownMessage& m : DialogScript::messages()) {
        texts << m.text;
    }
    return texts;
}

void addClosingRows() {
    QTest::addColumn<int>("how");
    QTest::newRow("Cancel") << 0;
    QTest::newRow("Escape") << 1;
    QTest::newRow("close box") << 2;
}

void closeWithoutOk(QDialog& d, QAbstractButton* button, int how) {
    if (how == 0) {
        button->click();
    } else if (how == 1) {
        QTest::keyClick(&d, Qt::Key_Escape);
    } else {
        d.close();
    }
}

bool showsPicture(const QAbstractButton* button, const QString& picture) {
    const QImage expected = QImage(QStringLiteral(":/pictures/") + picture).convertToFormat(QImage::Format_ARGB32);
    const QImage shown = button->icon().pixmap(button->iconSize()).toImage().convertToFormat(QImage::Format_ARGB32);
    return !expected.isNull() && shown == expected;
}
