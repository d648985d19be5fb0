// The program file as a terminal or the desktop menu starts it: its command line, the folder it opens the
// register in, and what it says when it cannot start. Each row runs the real program on this test's X display,
// waits for the window it should show, answers it with a key as a person would, and reads the exit code and
// what the program wrote for the terminal.
#include "tests/support/testregister.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <optional>

using namespace Qt::StringLiterals;

namespace {

// Runs xdotool; its standard output, trimmed, or nothing when it fails.
std::optional<QString> xdotool(const QStringList& arguments) {
    QProcess p;
    p.start(u"xdotool"_s, arguments);
    if (!p.waitForFinished(10000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        return std::nullopt;
    }
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

// The X window id of the first shown window whose name matches namePattern, waited for while program runs;
// empty when none appears within 20 seconds.
QString waitForWindow(const QString& namePattern, const QProcess& program) {
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 20000 && program.state() != QProcess::NotRunning) {
        const QString found = xdotool({u"search"_s, u"--onlyvisible"_s, u"--name"_s, namePattern}).value_or(QString());
        if (!found.isEmpty()) {
            return found.section(u'\n', 0, 0);
        }
        QTest::qWait(100);
    }
    return QString();
}

} // namespace

class TestCommandLine : public QObject {
    Q_OBJECT
private slots:
    // Arguments name the register's folder as @register and a folder of nothing as @empty; the program starts in
    // @empty with $XDG_DATA_HOME at @empty/data.
    // A display that does not answer (a session that ended, a remote display gone) is said in one line, with
    // exit code 1, as no display at all is.
    void aDisplayThatDoesNotAnswerIsSaidInOneLine() {
        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"DISPLAY"_s, u":987"_s);
        env.remove(u"QT_QPA_PLATFORM"_s);
        program.setProcessEnvironment(env);
        program.start(QStringLiteral(VANTREL_PATH), {});
        QVERIFY(program.waitForFinished(20000));
        const QString said = QString::fromLocal8Bit(program.readAllStandardError());
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 1);
        QCOMPARE(said, u"vantrel: the display ':987' does not answer, so there is nowhere to show its windows; start "
                       "it in a desktop session, or under a virtual display with: xvfb-run -a vantrel\n"_s);
    }

    // A register whose index no longer matches its table opens (the opening reads no index), and the check
    // made after the window shows says so in the caption and in a message, before anyone changes anything.
    void aDamagedRegisterIsSaidOnceTheWindowShows() {
        TestRegister reg;
        reg.exec(u"WITH RECURSIVE n(i) AS (SELECT 1000 UNION ALL SELECT i + 1 FROM n WHERE i < 1200) "
                 "INSERT INTO assets (ASSETID, ItemGroup) SELECT 'KLT' || i, '1' FROM n"_s);
        reg.side().close();
        changeIndexEntry(reg.path(), u"assets_by_assetid"_s, "KLT1200", "KLT1201");
        QProcess program;
        program.start(QStringLiteral(VANTREL_PATH), {u"--register-folder"_s, reg.folder()});
        QVERIFY2(program.waitForStarted(10000), qPrintable(program.errorString()));
        const QString main = waitForWindow(u"^Vantrel \\(Read Only Mode\\) - the register is damaged$"_s, program);
        const QString message = waitForWindow(u"^Vantrel$"_s, program);
        QVERIFY(!main.isEmpty() && !message.isEmpty());
        QVERIFY(xdotool({u"windowactivate"_s, u"--sync"_s, message, u"key"_s, u"Return"_s}));
        QVERIFY(xdotool({u"windowactivate"_s, u"--sync"_s, main, u"key"_s, u"alt+F4"_s}));
        QVERIFY(program.waitForFinished(20000));
        QCOMPARE(program.exitCode(), 0);
    }

    void startsAsItsCommandLineSays_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("window");
        QTest::addColumn<QString>("key");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("says");
        QTest::newRow("register folder") << QStringList{u"--register-folder"_s, u"@register"_s}
                                         << u"^Vantrel \\(Read Only Mode\\) $"_s << u"alt+F4"_s << 0 << QString();
        QTest::newRow("register folder given with =")
            << QStringList{u"--register-folder=@register"_s} << u"^Vantrel \\(Read Only Mode\\) $"_s << u"alt+F4"_s << 0
            << QString();
        QTest::newRow("register folder that does not exist")
            << QStringList{u"--register-folder"_s, u"@empty/nowhere"_s} << u"^Application Error$"_s << u"Return"_s << 1
            << u"The register folder '@empty/nowhere' cannot be used: No such file or directory"_s;
        QTest::newRow("register folder that is a file")
            << QStringList{u"--register-folder"_s, u"@register/vnrdata.mdb"_s} << u"^Application Error$"_s
            << u"Return"_s << 1 << u"cannot be used: Not a directory"_s;
        QTest::newRow("no register in the working folder")
            << QStringList{} << u"^Application Error$"_s << u"Return"_s << 1
            << u"There is no register in @empty. Make one there with the register tool:\n"
               "    vnrdb create vnrdata.mdb --company NAME --abbreviation ABBR\n"
               "or start Vantrel with --desktop"_s;
        QTest::newRow("register folder without a register")
            << QStringList{u"--register-folder"_s, u"@empty"_s} << u"^Application Error$"_s << u"Return"_s << 1
            << u"There is no register in @empty."_s;
        QTest::newRow("desktop start without a register, cancelled")
            << QStringList{u"--desktop"_s} << u"^New Register$"_s << u"Escape"_s << 0 << QString();
        QTest::newRow("desktop start with a register folder, cancelled")
            << QStringList{u"--desktop"_s, u"--register-folder"_s, u"@empty"_s} << u"^New Register$"_s << u"Escape"_s
            << 0 << QString();
        QTest::newRow("unknown option") << QStringList{u"--frobnicate"_s} << QString() << QString() << 2
                                        << u"vantrel: unknown option '--frobnicate'\nusage: vantrel"_s;
        QTest::newRow("register folder without its folder") << QStringList{u"--register-folder"_s} << QString()
                                                            << QString() << 2 << u"--register-folder needs a folder"_s;
        QTest::newRow("stray argument") << QStringList{u"vnrdata.mdb"_s} << QString() << QString() << 2
                                        << u"unexpected argument 'vnrdata.mdb'"_s;
    }
    void startsAsItsCommandLineSays() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, window);
        QFETCH(QString, key);
        QFETCH(int, exitCode);
        QFETCH(QString, says);
        TestRegister reg;
        QTemporaryDir empty;
        const QString emptyPath = QFileInfo(empty.path()).canonicalFilePath();
        auto fill = [&](QString text) {
            return text.replace(u"@register"_s, reg.folder()).replace(u"@empty"_s, emptyPath);
        };
        for (QString& a : arguments) {
            a = fill(a);
        }
        says = fill(says);

        QProcess program;
        program.setWorkingDirectory(emptyPath);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"XDG_DATA_HOME"_s, emptyPath + u"/data"_s);
        program.setProcessEnvironment(env);
        program.start(QStringLiteral(VANTREL_PATH), arguments);
        QVERIFY2(program.waitForStarted(10000), qPrintable(program.errorString()));
        if (!window.isEmpty()) {
            const QString id = waitForWindow(window, program);
            QVERIFY2(!id.isEmpty(), qPrintable(u"no window named "_s + window));
            QVERIFY(xdotool({u"windowactivate"_s, u"--sync"_s, id, u"key"_s, key}));
        }
        if (!program.waitForFinished(20000)) {
            program.kill();
            program.waitForFinished();
            QFAIL("the program did not end");
        }
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), exitCode);
        const QString written =
            QString::fromLocal8Bit(program.readAllStandardError() + program.readAllStandardOutput());
        QVERIFY2(written.contains(says), qPrintable(u"wrote: "_s + written + u"\nexpected: "_s + says));
        // No start makes a register or the data folder unless the first-run window's OK does.
        QVERIFY(!QFileInfo::exists(emptyPath + u"/data"_s));
        QVERIFY(!QFileInfo::exists(emptyPath + u"/vnrdata.mdb"_s));
    }
};

QTEST_MAIN(TestCommandLine)
#include "x11_commandline.moc"
