// The start-up sequence as a user meets it: the report files' message, the start-up password, read-only
// mode, a register that cannot be opened, and the report catalogue's preset dates.
#include "app/logon.h"
#include "app/serverlogin.h"
#include "app/session.h"
#include "app/status.h"
#include "browser/main.h"
#include "config/cfg.h"
#include "config/firstrun.h"
#include "data/datamodule.h"
#include "program/startup.h"
#include "records/assdet.h"
#include "records/writeoff.h"
#include "reporting/assetreports.h"
#include "reporting/print.h"
#include "reporting/reporter.h"
#include "tests/support/appfixture.h"
#include "tests/support/guitest.h"
#include "widgets/dbcontrols.h"
#include "widgets/dialogs.h"

#include <QApplication>
#include <QDateEdit>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QStyle>
#include <QTemporaryDir>
#include <QToolButton>
#include <QUrl>
#include <QUrlQuery>
#include <QtTest>

class TestStartup : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { DialogScript::enable(); }
    void init() { DialogScript::reset(); }
    void cleanup() { QVERIFY(DialogScript::unexpectedModals().empty()); }

    // --help and --version are answered wherever they stand after options that are understood.
    void commandLineVerdicts_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("verdict");
        QTest::newRow("--version") << QStringList{QStringLiteral("--version")} << int(CommandLine::Verdict::Version);
        QTest::newRow("--version after an option")
            << QStringList{QStringLiteral("--desktop"), QStringLiteral("--version")}
            << int(CommandLine::Verdict::Version);
        QTest::newRow("--help") << QStringList{QStringLiteral("--help")} << int(CommandLine::Verdict::Help);
        QTest::newRow("a near miss") << QStringList{QStringLiteral("--versions")} << int(CommandLine::Verdict::Refused);
    }
    void commandLineVerdicts() {
        QFETCH(QStringList, arguments);
        QFETCH(int, verdict);
        QCOMPARE(int(parseCommandLine(arguments).verdict), verdict);
    }

    void readOnlyModeWithoutStartPassword() {
        AppFixture f;
        QCOMPARE(f.start(), std::nullopt);
        QCOMPARE(f.app().mainfrm->windowTitle(), QStringLiteral("Vantrel (Read Only Mode) "));
        QVERIFY(!f.app().session.LoggedOn);
        QVERIFY(f.app().session.ReportsEnabled);
        QVERIFY(DialogScript::messages().empty());
        QCOMPARE(f.app().session.ProgramFolder, f.programFile().chopped(QStringLiteral("vantrel").size()));
        QCOMPARE(f.app().mainfrm->data.mainquery.sqlLines(), DataModule::startupListStatement());
        QVERIFY(f.app().mainfrm->data.GroupsTable.active());
        QVERIFY(f.app().mainfrm->data.SystemTable.active());
        const QLineEdit* password = f.app().logonfrm->Password;
        QCOMPARE(QChar(password->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr, password)),
                 QLatin1Char('*'));
    }

    void missingTemplateIsToldOnceBeforeThePasswordPrompt() {
        AppFixture f;
        f.reg().exec(QStringLiteral("UPDATE System SET PromptPasswordToStart = 1, DataBasePassword = 'Secret'"));
        QVERIFY(QFile::remove(f.programFile().chopped(7) + QStringLiteral("reports/footer.htm")));
        size_t messagesWhenPrompted = 99;
        DialogScript::setNextModal([&messagesWhenPrompted](QDialog& d) {
            messagesWhenPrompted = DialogScript::messages().size();
            QTest::keyClicks(d.findChild<QLineEdit*>(QStringLiteral("Password")), QStringLiteral("secret"));
            d.findChild<QPushButton*>(QStringLiteral("BitBtn1"))->click();
        });
        QCOMPARE(f.start(), std::nullopt);
        QCOMPARE(messagesWhenPrompted, size_t(1));
        QCOMPARE(DialogScript::messages().size(), size_t(1));
        QCOMPARE(DialogScript::messages()[0].text,
                 QStringLiteral("Report Files are not correctly installed. Reports will be disabled"));
        QVERIFY(!f.app().session.ReportsEnabled);
        QCOMPARE(f.app().mainfrm->windowTitle(), QStringLiteral("Vantrel"));
        QVERIFY(f.app().session.LoggedOn);
    }

    void cancelledStartPasswordEndsWithCodeZero() {
        AppFixture f;
        f.reg().exec(QStringLiteral("UPDATE System SET PromptPasswordToStart = 1, DataBasePassword = 'pw'"));
        DialogScript::setNextModal([](QDialog& d) { d.findChild<QPushButton*>(QStringLiteral("BitBtn2"))->click(); });
        QCOMPARE(f.start(), std::optional<int>(0));
        QVERIFY(!f.app().mainfrm->isVisible());
        QVERIFY(!f.app().session.LoggedOn);
    }

    void wrongStartPasswordKeepsTheWindowOpen() {
        AppFixture f;
        f.reg().exec(QStringLiteral("UPDATE System SET PromptPasswordToStart = 1, DataBasePassword = 'pw'"));
        DialogScript::setNextModal([](QDialog& d) {
            auto* edit = d.findChild<QLineEdit*>(QStringLiteral("Password"));
            QTest::keyClicks(edit, QStringLiteral("nope"));
            d.findChild<QPushButton*>(QStringLiteral("BitBtn1"))->click();
            QVERIFY(d.isVisible());
            edit->clear();
            QTest::keyClicks(edit, QStringLiteral("PW"));
            d.findChild<QPushButton*>(QStringLiteral("BitBtn1"))->click();
        });
        QCOMPARE(f.start(), std::nullopt);
        QCOMPARE(DialogScript::messages().size(), size_t(1));
        QCOMPARE(DialogScript::messages()[0].text, QStringLiteral("This password is incorrect"));
        QCOMPARE(f.app().mainfrm->windowTitle(), QStringLiteral("Vantrel"));
    }

    // Without any register the message also says how to make one; a file that is not a register is not
    // something to make anew, so there it does not.
    void registerThatCannotBeOpenedEndsWithCodeOne_data() {
        QTest::addColumn<QByteArray>("contents");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<bool>("toldHowToMakeOne");
        QTest::newRow("missing") << QByteArray() << QStringLiteral("does not exist") << true;
        QTest::newRow("foreign") << QByteArray("Standard Jet DB, not ours")
                                 << (testingOnServer() ? QStringLiteral("does not name a server")
                                                       : QStringLiteral("not a Vantrel register"))
                                 << false;
    }
    void registerThatCannotBeOpenedEndsWithCodeOne() {
        QFETCH(QByteArray, contents);
        QFETCH(QString, expected);
        QFETCH(bool, toldHowToMakeOne);
        AppFixture f;
        QVERIFY(QFile::remove(f.reg().path()));
        if (!contents.isEmpty()) {
            QVERIFY(writeFile(f.reg().path(), contents));
        }
        QCOMPARE(f.start(), std::optional<int>(1));
        QCOMPARE(DialogScript::messages().size(), size_t(1));
        QCOMPARE(DialogScript::messages()[0].title, QStringLiteral("Application Error"));
        QCOMPARE(DialogScript::messages()[0].icon, MessageIcon::Error);
        QVERIFY2(DialogScript::messages()[0].text.contains(expected), qPrintable(DialogScript::messages()[0].text));
        QCOMPARE(DialogScript::messages()[0].text.contains(QStringLiteral("vnrdb create vnrdata.mdb --company NAME")) &&
                     DialogScript::messages()[0].text.contains(QStringLiteral("--desktop")),
                 toldHowToMakeOne);
        QVERIFY(!f.app().mainfrm->isVisible());
    }

    // A server login that needs a password ~/.pgpass does not hold: the login window asks for it, and a
    // cancelled or wrong one ends the start with the server's refusal.
    void serverLoginAsksForThePassword_data() {
        QTest::addColumn<QString>("typed"); // empty: Cancel
        QTest::addColumn<QString>("refusal");
        QTest::newRow("right password") << "vantrel-test-login" << QString();
        QTest::newRow("wrong password") << "guess"
                                        << "refused the login 'vantrel_login'";
        QTest::newRow("cancelled") << QString() << "asks for the password of the login 'vantrel_login'";
    }
    void serverLoginAsksForThePassword() {
        if (!testingOnServer()) {
            QSKIP("a server login: on the test cluster only");
        }
        QFETCH(QString, typed);
        QFETCH(QString, refusal);
        AppFixture f;
        f.reg().exec(QStringLiteral("GRANT ALL ON ALL TABLES IN SCHEMA public TO vantrel_login"));
        QFile server(f.reg().path());
        QVERIFY(server.open(QIODevice::ReadWrite));
        QUrl url(QString::fromUtf8(server.readAll()).trimmed());
        QUrlQuery query(url);
        query.removeQueryItem(QStringLiteral("user"));
        query.addQueryItem(QStringLiteral("user"), QStringLiteral("vantrel_login"));
        url.setQuery(query);
        server.resize(0);
        server.write(url.toString().toUtf8());
        server.close();
        QString prompt;
        DialogScript::setNextModal([&](QDialog& d) {
            auto& login = dynamic_cast<ServerLoginWindow&>(d);
            prompt = login.promptLabel->text();
            login.passwordEdit->setText(typed);
            (typed.isEmpty() ? login.cancelButton : login.okButton)->click();
        });
        QCOMPARE(f.start(), refusal.isEmpty() ? std::nullopt : std::optional<int>(1));
        QVERIFY2(prompt.contains(QStringLiteral("asks for the password of the login 'vantrel_login'")),
                 qPrintable(prompt));
        if (refusal.isEmpty()) {
            QVERIFY(DialogScript::messages().empty());
            QCOMPARE(f.app().mainfrm->data.mainquery.recordCount(), 0);
        } else {
            QCOMPARE(DialogScript::messages().size(), size_t(1));
            QVERIFY2(DialogScript::messages()[0].text.contains(refusal), qPrintable(DialogScript::messages()[0].text));
        }
    }

    // The desktop start in a data folder without a register: the first-run window makes one there, with the
    // folder, and the program opens it logged on: the password just given there twice is asked for from the
    // next start on, and the configuration shows the company and the groups as they were typed.
    void desktopStartMakesTheRegisterItOpens() {
        AppFixture f;
        QTemporaryDir dataHome;
        qputenv("XDG_DATA_HOME", QFile::encodeName(dataHome.path()));
        const QString folder = dataHome.path() + QStringLiteral("/vantrel");
        drive<FirstRunWindow>([](FirstRunWindow& d) {
            typeInto(d.companyEdit, QStringLiteral("Kelton Trust"));
            typeInto(d.abbreviationEdit, QStringLiteral(" KLT "));
            typeInto(d.passwordEdit, QStringLiteral("s3cret"));
            typeInto(d.passwordAgainEdit, QStringLiteral("s3cret"));
            typeInto(d.groupEdit(1), QStringLiteral("Computers"));
            typeInto(d.groupEdit(7), QStringLiteral("Furniture"));
            d.okButton->click();
        });
        StartOptions desktop;
        desktop.desktop = true;
        const std::optional<int> code = f.start(desktop);
        QCOMPARE(code, std::nullopt);
        QCOMPARE(QDir::currentPath(), folder);
        QVERIFY(QFileInfo::exists(folder + QStringLiteral("/vnrdata.mdb")));
        QVERIFY(DialogScript::messages().empty());
        QVERIFY(f.app().session.LoggedOn);
        QCOMPARE(f.app().mainfrm->windowTitle(), QStringLiteral("Vantrel"));
        f.stop();
        drive<Tlogonfrm>([](Tlogonfrm& d) {
            typeInto(d.Password, QStringLiteral("S3CRET"));
            d.BitBtn1->click();
        });
        QCOMPARE(f.start(desktop), std::nullopt);
        qunsetenv("XDG_DATA_HOME");
        QVERIFY(f.app().session.LoggedOn);

        QStringList shown;
        drive<TcfgFrm>([&shown](TcfgFrm& d) {
            shown << d.DBEdit1->text() << d.DBEdit2->text() << d.DBEdit3->text();
            for (int g = 0; g < 10; ++g) {
                shown << d.groupEdit(g)->text();
            }
            d.BitBtn2->click();
        });
        f.app().mainfrm->ToolButton5->click();
        const QStringList expected{QStringLiteral("Kelton Trust"),
                                   QStringLiteral("KLT"),
                                   QStringLiteral("s3cret"),
                                   QString(),
                                   QStringLiteral("Computers"),
                                   QString(),
                                   QString(),
                                   QString(),
                                   QString(),
                                   QString(),
                                   QStringLiteral("Furniture"),
                                   QString(),
                                   QString()};
        QCOMPARE(shown, expected);
    }

    void catalogueDatesArePresetAYearBack() {
        AppFixture f;
        QCOMPARE(f.start(), std::nullopt);
        const QDate expected = QDate::currentDate().addDays(-365);
        for (const QDateEdit* picker : {f.app().assetreportsfrm->itemssince, f.app().assetreportsfrm->purchasedsince,
                                        f.app().assetreportsfrm->disposedsince}) {
            QCOMPARE(picker->date(), expected);
        }
    }

    // Every window has exactly one owner: the six dialogs the main window, as their Qt parent; the main,
    // password and status windows the start-up sequence. Ending the program destroys all nine and leaves no
    // window behind.
    void everyWindowHasOneOwner() {
        const qsizetype before = QApplication::topLevelWidgets().size();
        AppFixture f;
        QCOMPARE(f.start(), std::nullopt);
        Startup& s = f.app();
        const QList<QPointer<QWidget>> dialogs{s.assdetfrm, s.cfgFrm,      s.writeofffrm,
                                               s.printfrm,  s.reporterfrm, s.assetreportsfrm};
        for (const QPointer<QWidget>& d : dialogs) {
            QVERIFY(d);
            QCOMPARE(d->parentWidget(), s.mainfrm.get());
        }
        QVERIFY(!s.mainfrm->parentWidget() && !s.logonfrm->parentWidget() && !s.StatusFrm->parentWidget());
        QList<QPointer<QWidget>> all = dialogs;
        all << s.mainfrm.get() << s.logonfrm.get() << s.StatusFrm.get();
        f.stop();
        for (const QPointer<QWidget>& w : all) {
            QVERIFY(w.isNull());
        }
        QCOMPARE(QApplication::topLevelWidgets().size(), before);
    }
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
