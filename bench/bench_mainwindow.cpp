// The main window on registers of 10,000 and 100,000 assets: one character typed into the search text,
// from the key event until the list shows the first rows of the new result, beside raw SQLite stepping the
// same statement; and, in a child process, the time from process start until the main window is shown and
// the resident memory then.
#include "bench/benchutil.h"
#include "browser/main.h"
#include "data/connection.h"
#include "data/jetsql.h"
#include "program/startup.h"
#include "widgets/dbgrid.h"
#include "widgets/dialogs.h"

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QProcess>
#include <QRadioButton>
#include <QStandardPaths>
#include <QTest>
#include <sqlite3.h>

namespace {

// Child mode: start the program in the register's folder and report when the main window is on screen.
int childStart(const QString& folder) {
    QDir::setCurrent(folder);
    Startup s;
    if (s.prepare(QApplication::applicationFilePath())) {
        return 1;
    }
    s.mainfrm->show();
    if (!QTest::qWaitForWindowExposed(s.mainfrm.get())) {
        return 1;
    }
    s.mainfrm->DBGrid1->viewport()->repaint();
    std::printf("shown %.1f\n", bench::residentMb());
    std::fflush(stdout);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    DialogScript::enable();
    if (argc == 3 && QByteArray(argv[1]) == "--child") {
        return childStart(QString::fromLocal8Bit(argv[2]));
    }
    const QString base =
        QStandardPaths::writableLocation(QStandardPaths::TempLocation) + QStringLiteral("/vantrel-bench");
    std::printf("%-8s %-22s %8s %10s %10s %7s\n", "assets", "keystroke", "rows", "window ms", "raw ms", "ratio");
    for (int n : {10000, 100000}) {
        const QString path = bench::demoRegister(base, n);
        const QString folder = QFileInfo(path).absolutePath();
        QDir::setCurrent(folder);
        Startup s;
        if (s.prepare(QApplication::applicationFilePath())) {
            return 1;
        }
        Tmainfrm& w = *s.mainfrm;
        w.show();
        if (!QTest::qWaitForWindowExposed(&w)) {
            return 1;
        }
        w.description->click();
        Connection raw;
        raw.openFile(path, QStringLiteral("kivelor"));
        // Each run types one character and takes it back: two keystrokes, each rebuilding the list, timed
        // against raw SQLite stepping the same two statements.
        const double windowMs = bench::medianMs(7, [&] {
            QTest::keyClick(w.details, Qt::Key_L);
            w.DBGrid1->viewport()->repaint();
            QTest::keyClick(w.details, Qt::Key_Backspace);
            w.DBGrid1->viewport()->repaint();
        });
        QTest::keyClick(w.details, Qt::Key_L);
        const int rowsL = w.data.mainquery.recordCount();
        const double rawL = bench::rawStepMs(raw, w.data.mainquery.sqlLines());
        QTest::keyClick(w.details, Qt::Key_Backspace);
        const double rawAll = bench::rawStepMs(raw, w.data.mainquery.sqlLines());
        std::printf("%-8d %-22s %8d %10.2f %10.2f %7.2f\n", n, "'l' + backspace", rowsL, windowMs, rawL + rawAll,
                    windowMs / (rawL + rawAll));
        // A selective search: "lap" typed, then one more character.
        QTest::keyClicks(w.details, QStringLiteral("lap"));
        const double oneMore = bench::medianMs(7, [&] {
            QTest::keyClick(w.details, Qt::Key_T);
            w.DBGrid1->viewport()->repaint();
            QTest::keyClick(w.details, Qt::Key_Backspace);
            w.DBGrid1->viewport()->repaint();
        });
        QTest::keyClick(w.details, Qt::Key_T);
        const int rows = w.data.mainquery.recordCount();
        const double rawT = bench::rawStepMs(raw, w.data.mainquery.sqlLines());
        QTest::keyClick(w.details, Qt::Key_Backspace);
        const double rawBack = bench::rawStepMs(raw, w.data.mainquery.sqlLines());
        std::printf("%-8d %-22s %8d %10.2f %10.2f %7.2f\n", n, "'t' after \"lap\" (+back)", rows, oneMore,
                    rawT + rawBack, oneMore / (rawT + rawBack));
        w.details->clear();
    }
    // Process start to main window shown, in a child process on the largest register.
    QProcess child;
    QElapsedTimer t;
    t.start();
    child.start(QApplication::applicationFilePath(), {QStringLiteral("--child"), base + QStringLiteral("/100000")});
    while (!child.canReadLine() && child.waitForReadyRead(60000)) {
    }
    const qint64 ms = t.elapsed();
    const QByteArray out = child.readLine();
    child.waitForFinished(60000);
    std::printf("process start to main window shown (100,000 assets): %lld ms (%s); resident memory then %s MB\n",
                static_cast<long long>(ms), out.startsWith("shown") ? "ok" : "FAILED",
                out.mid(6).trimmed().constData());
    return 0;
}
