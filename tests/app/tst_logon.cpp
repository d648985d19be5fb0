// The password window: what counts as the right password, the prompt, and what a refusal leaves behind.
#include "app/logon.h"
#include "app/session.h"
#include "data/datamodule.h"
#include "data/schema.h"
#include "tests/support/guitest.h"
#include "tests/support/testregister.h"
#include "widgets/dialogs.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

class TestLogon : public QObject {
    Q_OBJECT

    std::unique_ptr<TestRegister> reg;
    std::unique_ptr<DataModule> dm;
    Session session;
    std::unique_ptr<Tlogonfrm> win;
    QString caption;

    // Shows the window, types entry and presses OK, then Cancel if it is still open; returns the result.
    int tryPassword(const QString& entry) {
        DialogScript::setNextModal([entry](QDialog& d) {
            auto* edit = d.findChild<QLineEdit*>(QStringLiteral("Password"));
            edit->clear();
            edit->insert(entry); // typed as a user would; keyClicks knows no accented letters
            d.findChild<QPushButton*>(QStringLiteral("BitBtn1"))->click();
            if (d.isVisible()) {
                d.findChild<QPushButton*>(QStringLiteral("BitBtn2"))->click();
            }
        });
        return Dialogs::showModal(*win);
    }

    void setStored(const QString& sqlValue) {
        reg->exec(QStringLiteral("UPDATE System SET DataBasePassword = %1").arg(sqlValue));
    }

private slots:
    void initTestCase() { DialogScript::enable(); }

    void init() {
        DialogScript::reset();
        session.LoggedOn = false;
        caption = QStringLiteral("Vantrel (Read Only Mode) ");
        reg = std::make_unique<TestRegister>();
        dm = openDataModule(*reg);
        win = std::make_unique<Tlogonfrm>(nullptr, *dm, session, [this](const QString& c) { caption = c; });
    }

    void cleanup() {
        QVERIFY(DialogScript::unexpectedModals().empty());
        win.reset();
        dm.reset();
        reg.reset();
    }

    // OK carries the 12 by 12 check mark, not the green disc of the other windows' confirming buttons.
    void okCarriesTheCheckMark() {
        QCOMPARE(win->BitBtn1->iconSize(), QSize(12, 12));
        QVERIFY(showsPicture(win->BitBtn1, QStringLiteral("okglyph.png")));
        QVERIFY(!showsPicture(win->BitBtn1, QStringLiteral("ok.png")));
    }

    void asciiCaseIsIgnoredOtherLettersAreNot_data() {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("entry");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("lower entry") << QStringLiteral("SECRET") << QStringLiteral("secret") << true;
        QTest::newRow("mixed") << QStringLiteral("s3Cret") << QStringLiteral("S3cRET") << true;
        QTest::newRow("accented case differs") << QStringLiteral("café") << QStringLiteral("CAFÉ") << false;
        QTest::newRow("accented same") << QStringLiteral("café") << QStringLiteral("CAFé") << true;
        QTest::newRow("trailing blank") << QStringLiteral("secret") << QStringLiteral("secret ") << false;
        QTest::newRow("leading blank") << QStringLiteral("secret") << QStringLiteral(" secret") << false;
        QTest::newRow("empty stored, empty entry") << QString() << QString() << true;
        QTest::newRow("empty stored, any entry") << QString() << QStringLiteral("x") << false;
    }
    void asciiCaseIsIgnoredOtherLettersAreNot() {
        QFETCH(QString, stored);
        QFETCH(QString, entry);
        QFETCH(bool, accepted);
        setStored(QLatin1Char('\'') + stored + QLatin1Char('\''));
        QCOMPARE(tryPassword(entry) == mrOk, accepted);
        QCOMPARE(session.LoggedOn, accepted);
        QCOMPARE(caption, accepted ? QStringLiteral("Vantrel") : QStringLiteral("Vantrel (Read Only Mode) "));
        if (!accepted) {
            QCOMPARE(DialogScript::messages().size(), size_t(1));
            QCOMPARE(DialogScript::messages()[0].text, QStringLiteral("This password is incorrect"));
            QCOMPARE(DialogScript::messages()[0].title, QStringLiteral("Vantrel"));
        }
    }

    // The stored password is read again at every OK; a NULL one, or no settings record at all, reads as empty.
    void thePasswordIsReadAgainAtEveryOk() {
        setStored(QStringLiteral("'old'"));
        QVERIFY(tryPassword(QStringLiteral("new")) != mrOk);
        setStored(QStringLiteral("'new'"));
        QCOMPARE(tryPassword(QStringLiteral("new")), mrOk);
        session.LoggedOn = false;
        setStored(QStringLiteral("NULL"));
        QCOMPARE(tryPassword(QString()), mrOk);
        session.LoggedOn = false;
        reg->exec(QStringLiteral("DELETE FROM System"));
        QVERIFY(tryPassword(QStringLiteral("anything")) != mrOk);
        QCOMPARE(tryPassword(QString()), mrOk);
    }

    void promptFollowsTheSetting() {
        QString prompt;
        auto readPrompt = [&prompt](QDialog& d) {
            prompt = d.findChild<QLabel*>(QStringLiteral("promptlabel"))->text();
            d.reject();
        };
        DialogScript::setNextModal(readPrompt);
        Dialogs::showModal(*win);
        QCOMPARE(prompt, QStringLiteral("You must enter a password to make changes. Otherwise click cancel"));
        reg->exec(QStringLiteral("UPDATE System SET PromptPasswordToStart = 1"));
        dm->SystemTable.close();
        dm->SystemTable.open();
        DialogScript::setNextModal(readPrompt);
        Dialogs::showModal(*win);
        QCOMPARE(prompt, QStringLiteral("You must enter a password to get into this system"));
    }

    void entryIsKeptAfterCancelAndEscapeIsNotOk() {
        setStored(QStringLiteral("'right'"));
        QVERIFY(tryPassword(QStringLiteral("wrong")) != mrOk);
        QString shown;
        DialogScript::setNextModal([&shown](QDialog& d) {
            auto* edit = d.findChild<QLineEdit*>(QStringLiteral("Password"));
            shown = edit->text();
            QCOMPARE(edit->echoMode(), QLineEdit::Password);
            QTest::keyClick(&d, Qt::Key_Escape);
        });
        QVERIFY(Dialogs::showModal(*win) != mrOk);
        QCOMPARE(shown, QStringLiteral("wrong"));
        QVERIFY(!session.LoggedOn);
    }

    void guardAsksOnlyUntilThePasswordIsGiven() {
        setStored(QStringLiteral("'pw'"));
        DialogScript::setNextModal([](QDialog& d) { d.reject(); });
        QVERIFY(!win->PasswordGiven());
        DialogScript::setNextModal([](QDialog& d) {
            QTest::keyClicks(d.findChild<QLineEdit*>(QStringLiteral("Password")), QStringLiteral("PW"));
            QTest::keyClick(d.findChild<QLineEdit*>(QStringLiteral("Password")), Qt::Key_Return);
        });
        QVERIFY(win->PasswordGiven());
        setStored(QStringLiteral("'changed'"));
        QVERIFY(win->PasswordGiven()); // no window queued: none may be shown
        QCOMPARE(DialogScript::pendingScript(), 0);
    }
};

QTEST_MAIN(TestLogon)
#include "tst_logon.moc"
