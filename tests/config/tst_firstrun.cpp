// The first-run window: a refused entry keeps the window open with one message and the focus in the field to
// mend, and makes nothing; closing the window in any way but OK makes nothing either. What OK makes is read
// back through the program itself (tests/browser/tst_startup.cpp).
#include "config/firstrun.h"
#include "tests/support/guitest.h"
#include "widgets/dialogs.h"

#include <QApplication>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

using namespace Qt::StringLiterals;

class TestFirstRun : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir;

    // The register's folder does not exist yet: the window makes it together with the register.
    QString folder() const { return dir->filePath(u"data/vantrel"_s); }
    QString registerPath() const { return folder() + u"/vnrdata.mdb"_s; }

    // Fills every field with an entry the window accepts.
    static void typeGoodEntries(FirstRunWindow& d) {
        typeInto(d.companyEdit, u"Kelton Trust"_s);
        typeInto(d.abbreviationEdit, u"KLT"_s);
        typeInto(d.passwordEdit, u"secret"_s);
        typeInto(d.passwordAgainEdit, u"secret"_s);
        typeInto(d.groupEdit(1), u"Computers"_s);
    }

private slots:
    void initTestCase() { DialogScript::enable(); }
    void init() {
        DialogScript::reset();
        dir = std::make_unique<QTemporaryDir>();
    }
    void cleanup() {
        QVERIFY(DialogScript::unexpectedModals().empty());
        QCOMPARE(DialogScript::pendingScript(), 0);
    }

    // Each row changes one field of good entries; the window's own rules and the register's (shared with
    // vnrdb create) both refuse through the same message box.
    void refusedEntryMakesNothing_data() {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("focus");
        QTest::newRow("passwords differ")
            << u"passwordAgainEdit"_s << u"Secret"_s << u"The two passwords differ"_s << u"passwordAgainEdit"_s;
        QTest::newRow("no company") << u"companyEdit"_s << u"   "_s << u"company's name"_s << u"companyEdit"_s;
        QTest::newRow("no abbreviation") << u"abbreviationEdit"_s << QString() << u"abbreviation"_s
                                         << u"abbreviationEdit"_s;
        QTest::newRow("no group") << u"group1Edit"_s << QString() << u"at least one asset group"_s << u"group1Edit"_s;
        QTest::newRow("abbreviation too long for an identifier")
            << u"abbreviationEdit"_s << QString(252, u'K')
            << u"The abbreviation has 252 characters; it holds at most 251"_s << u"abbreviationEdit"_s;
        QTest::newRow("group name too long")
            << u"group9Edit"_s << QString(256, u'g') << u"The group name has 256 characters"_s << u"group9Edit"_s;
    }
    void refusedEntryMakesNothing() {
        QFETCH(QString, field);
        QFETCH(QString, entry);
        QFETCH(QString, message);
        QFETCH(QString, focus);
        FirstRunWindow w(nullptr, registerPath());
        QString focused;
        drive<FirstRunWindow>([&](FirstRunWindow& d) {
            typeGoodEntries(d);
            typeInto(d.findChild<QLineEdit*>(field), entry);
            d.okButton->click();
            QVERIFY(d.isVisible());
            focused = QApplication::focusWidget() ? QApplication::focusWidget()->objectName() : QString();
            d.cancelButton->click();
        });
        QVERIFY(Dialogs::showModal(w) != mrOk);
        QCOMPARE(messageTexts().size(), 1);
        QVERIFY2(messageTexts()[0].contains(message), qPrintable(messageTexts()[0]));
        QCOMPARE(focused, focus);
        QVERIFY(!QFileInfo::exists(folder()));
    }

    void closingWithoutOkMakesNothing_data() { addClosingRows(); }
    void closingWithoutOkMakesNothing() {
        QFETCH(int, how);
        FirstRunWindow w(nullptr, registerPath());
        drive<FirstRunWindow>([how](FirstRunWindow& d) {
            typeGoodEntries(d);
            closeWithoutOk(d, d.cancelButton, how);
        });
        QVERIFY(Dialogs::showModal(w) != mrOk);
        QVERIFY(!w.isVisible());
        QVERIFY(DialogScript::messages().empty());
        QVERIFY(!QFileInfo::exists(folder()));
    }
};

QTEST_MAIN(TestFirstRun)
#include "tst_firstrun.moc"
