// The main window on registers of 10,000 and 100,000 assets (or the sizes given): one character typed into the
// search text, from the key event until the list shows the first rows of the new result, beside raw SQLite
// stepping the same statement; the same, and another program's save, while the whole-file checks run; and, in
// a child process, the time from process start until the main window is shown and the resident memory then.
#include "bench/benchutil.h"
#include "browser/main.h"
#include "data/connection.h"
#include "data/jetsql.h"
#include "data/registercheck.h"
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
#include <QThread>
#include <atomic>
#include <sqlite3.h>
#include <thread>

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

// Keeps the whole-file checks running on path, one after another, until stopped: the load a large
// register's background check puts on the machine, for as long as a measurement takes.
class ChecksRunning {
public:
    explicit ChecksRunning(const QString& path)
        : thread_([this, path] {
              while (!stop_) {
                  BackgroundCheck check(path);
                  while (!stop_ && !check.awaitDone(20)) {
                  }
              }
          }) {}
    ~ChecksRunning() {
        stop_ = true;
        thread_.join();
    }
    ChecksRunning(const ChecksRunning&) = delete;
    ChecksRunning& operator=(const ChecksRunning&) = delete;

private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// The two keystroke figures of the window at one size: "l" then Backspace, and "t" after "lap" then Backspace;
// each until the list shows its first rows, and until the whole list is read (the rest of a long list's
// rows are read between events, after the first are shown).
struct Keystrokes {
    double l = 0;
    double t = 0;
    double lWhole = 0;
    double tWhole = 0;
};

// Lets the window read the rest of the list, as it does while nobody types.
void readWhole(Tmainfrm& w) {
    while (!w.data.mainquery.allRead()) {
        QCoreApplication::processEvents();
    }
}

// The median time of key typed and taken back with Backspace, each until the list shows its first rows, or
// until the whole list is read.
double typedAndTakenBackMs(Tmainfrm& w, Qt::Key key, bool whole) {
    return bench::medianMs(7, [&] {
        for (const Qt::Key typed : {key, Qt::Key_Backspace}) {
            QTest::keyClick(w.details, typed);
            w.DBGrid1->viewport()->repaint();
            if (whole) {
                readWhole(w);
            }
        }
    });
}

Keystrokes typeInto(Tmainfrm& w) {
    Keystrokes k;
    w.details->clear();
    k.l = typedAndTakenBackMs(w, Qt::Key_L, false);
    k.lWhole = typedAndTakenBackMs(w, Qt::Key_L, true);
    QTest::keyClicks(w.details, QStringLiteral("lap"));
    k.t = typedAndTakenBackMs(w, Qt::Key_T, false);
    k.tWhole = typedAndTakenBackMs(w, Qt::Key_T, true);
    w.details->clear();
    readWhole(w);
    return k;
}

// Another program's saves, an asset's location changed and committed 60 times, 10 ms apart so that some
// meet the check's reads: the slowest, in milliseconds, since a save held up by a lock shows there.
double slowestSaveMs(Connection& other, int run) {
    double slowest = 0;
    for (int i = 0; i < 60; ++i) {
        QElapsedTimer t;
        t.start();
        Connection::Transaction save(other);
        other.exec("UPDATE assets SET Location = 'checked " + std::to_string(run * 100 + i) + "' WHERE rowid = 1");
        save.commit();
        slowest = std::max(slowest, static_cast<double>(t.nsecsElapsed()) / 1e6);
        QThread::msleep(10);
    }
    return slowest;
}

} // namespace

// bench_mainwindow [N ...]: the registers' sizes, 10,000 and 100,000 assets when none is given; the start-up
// is timed on the largest.
int main(int argc, char** argv) {
    bench::prepareApplication();
    QApplication app(argc, argv);
    DialogScript::enable();
    if (argc == 3 && QByteArray(argv[1]) == "--child") {
        return childStart(QString::fromLocal8Bit(argv[2]));
    }
    std::vector<int> sizes;
    for (int i = 1; i < argc; ++i) {
        sizes.push_back(std::atoi(argv[i]));
    }
    if (sizes.empty()) {
        sizes = {10000, 100000};
    }
    const QString base =
        QStandardPaths::writableLocation(QStandardPaths::TempLocation) + QStringLiteral("/vantrel-bench");
    std::printf("%-8s %-34s %8s %10s %10s %7s\n", "assets", "keystroke", "rows", "window ms", "raw ms", "ratio");
    for (int n : sizes) {
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
        const Keystrokes quiet = typeInto(w);
        QTest::keyClick(w.details, Qt::Key_L);
        const int rowsL = w.data.mainquery.recordCount();
        const double rawL = bench::rawStepMs(raw, w.data.mainquery.sqlLines());
        QTest::keyClick(w.details, Qt::Key_Backspace);
        const double rawAll = bench::rawStepMs(raw, w.data.mainquery.sqlLines());
        std::printf("%-8d %-34s %8d %10.2f %10.2f %7.2f\n", n, "'l' + backspace", rowsL, quiet.l, rawL + rawAll,
                    quiet.l / (rawL + rawAll));
        QTest::keyClicks(w.details, QStringLiteral("lapt"));
        const int rows = w.data.mainquery.recordCount();
        const double rawT = bench::rawStepMs(raw, w.data.mainquery.sqlLines());
        QTest::keyClick(w.details, Qt::Key_Backspace);
        const double rawBack = bench::rawStepMs(raw, w.data.mainquery.sqlLines());
        std::printf("%-8d %-34s %8d %10.2f %10.2f %7.2f\n", n, "'t' after \"lap\" (+back)", rows, quiet.t,
                    rawT + rawBack, quiet.t / (rawT + rawBack));
        std::printf("%-8d %-34s %8s %10.2f %10.2f %7.2f\n", n, "'l' + backspace, whole list read", "", quiet.lWhole,
                    rawL + rawAll, quiet.lWhole / (rawL + rawAll));
        std::printf("%-8d %-34s %8s %10.2f %10.2f %7.2f\n", n, "'t' after \"lap\", whole list read", "", quiet.tWhole,
                    rawT + rawBack, quiet.tWhole / (rawT + rawBack));
        readWhole(w);

        // The same keystrokes, and another program's save, while the whole-file checks run without pause;
        // each beside the same without them.
        const double quietSave = slowestSaveMs(raw, 0);
        double checkSeconds = 0;
        double quickSeconds = 0;
        {
            BackgroundCheck once(path);
            once.awaitDone(3600 * 1000);
            checkSeconds = once.seconds();
            quickSeconds = once.quickPassSeconds();
        }
        Keystrokes busy;
        double busySave = 0;
        {
            const ChecksRunning checks(path);
            busy = typeInto(w);
            busySave = slowestSaveMs(raw, 1);
        }
        std::printf("%-8d %-34s %8s %10.2f %10.2f %7.2f\n", n, "'l' + backspace, check running", "", busy.l, quiet.l,
                    busy.l / quiet.l);
        std::printf("%-8d %-34s %8s %10.2f %10.2f %7.2f\n", n, "'t' after \"lap\", check running", "", busy.t, quiet.t,
                    busy.t / quiet.t);
        std::printf("%-8d %-34s %8s %10.2f %10.2f %7.2f\n", n, "slowest of 60 saves, check running", "", busySave,
                    quietSave, busySave / quietSave);
        std::printf("%-8d whole-file background check: %.2f s, its quick pass (copy, pages, values) %.2f s\n", n,
                    checkSeconds, quickSeconds);
    }

    // Process start to main window shown, in a child process on the largest register: the median of five,
    // beside the same plus the whole-file checks the opening used to make (timed on the same file).
    const QString largest = bench::demoRegister(base, sizes.back());
    const double openingChecks =
        bench::medianMs(3,
                        [&] {
                            Connection c;
                            c.openFile(largest, QStringLiteral("kivelor"), false);
                        }) -
        bench::medianMs(3, [&] {
            Connection c;
            c.openFile(largest, QStringLiteral("kivelor"), false, Connection::WholeFileChecks::Later);
        });
    double resident = 0;
    bool shown = true;
    const double startMs = bench::medianMs(5, [&] {
        QProcess child;
        child.start(QApplication::applicationFilePath(),
                    {QStringLiteral("--child"), QFileInfo(largest).absolutePath()});
        while (!child.canReadLine() && child.waitForReadyRead(60000)) {
        }
        const QByteArray out = child.readLine();
        child.waitForFinished(60000);
        shown = shown && out.startsWith("shown");
        resident = out.mid(6).trimmed().toDouble();
    });
    std::printf("process start to main window shown (%d assets, median of 5): %.0f ms (%s); with the former opening "
                "checks %.0f ms (%.2f); resident memory then %.1f MB\n",
                sizes.back(), startMs, shown ? "ok" : "FAILED", startMs + openingChecks,
                startMs / (startMs + openingChecks), resident);
    return 0;
}
