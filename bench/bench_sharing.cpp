// Two programs on one register of 100,000 assets, on a file and on a server: how long after another program
// saves a change the main window's list shows it by itself (100 changes to the rows on screen, made by a
// child process at seeded random moments), beside what showing it took before: a new search, the list opened
// again and its first screen read; and the processor time an idle program spends, watching for changes and
// then not.
//   bench_sharing [IDLE_SECONDS]    60 by default
#include "bench/benchutil.h"
#include "browser/main.h"
#include "data/server.h"
#include "program/startup.h"
#include "registertool/demodata.h"
#include "widgets/dbgrid.h"
#include "widgets/dialogs.h"

#include <QApplication>
#include <QDir>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <ctime>
#include <map>

namespace {

constexpr int kChanges = 100;
constexpr int kRowsShown = 15;
constexpr int kMakeColumn = 1;

const QString kScript = QFileInfo(QStringLiteral(__FILE__)).absolutePath() + QStringLiteral("/../tools/pgcluster.sh");

qint64 monotonicMs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<qint64>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

// Processor time this process has used, in milliseconds.
double cpuMs() {
    QFile f(QStringLiteral("/proc/self/stat"));
    f.open(QIODevice::ReadOnly);
    const QList<QByteArray> fields = f.readAll().split(')').last().trimmed().split(' ');
    // utime and stime are fields 14 and 15 of the line; 12 and 13 after the name.
    return (fields.value(11).toDouble() + fields.value(12).toDouble()) * 1000.0 / double(sysconf(_SC_CLK_TCK));
}

// The writer: another program saving a new make for one of the assets on screen at seeded random moments,
// printing each value and when its save was committed.
int writer(const QString& location) {
    Connection c;
    c.openFile(location, QString::fromLatin1(kDefaultFilePassword));
    QStringList ids;
    Statement shown(c, "SELECT ASSETID FROM assets WHERE WrittenOff = 0 ORDER BY ASSETID LIMIT " +
                           std::to_string(kRowsShown));
    while (shown.step()) {
        ids << shown.column(0).toString();
    }
    shown.reset();
    QRandomGenerator random(20261209);
    for (int i = 1; i <= kChanges; ++i) {
        QThread::msleep(150 + random.bounded(300));
        Statement update(c, "UPDATE assets SET Make = ? WHERE ASSETID = ?");
        update.bindText(1, QStringLiteral("w%1").arg(i));
        // Row after row, so no save overwrites another before the list could show it.
        update.bindText(2, ids[(i - 1) % ids.size()]);
        update.step();
        std::printf("%d %lld\n", i, static_cast<long long>(monotonicMs()));
        std::fflush(stdout);
    }
    return 0;
}

struct Figures {
    double medianMs, p90Ms, maxMs;
    int seen;
    double searchMs;
    double idlePercent;
    double idleUnwatchedPercent;
};

Figures measure(const QString& folder, const QString& location, int idleSeconds) {
    QDir::setCurrent(folder);
    Startup app;
    if (app.prepare(QApplication::applicationFilePath())) {
        std::exit(1);
    }
    Tmainfrm& main = *app.mainfrm;
    main.show();
    if (!QTest::qWaitForWindowExposed(&main)) {
        std::exit(1);
    }
    main.DBGrid1->viewport()->repaint();
    QAbstractItemModel& model = *main.DBGrid1->model();

    Figures f{};
    // Before: a change showed only after a new search.
    f.searchMs = bench::medianMs(7, [&] {
        main.RebuildMainQuery();
        for (int row = 0; row < kRowsShown; ++row) {
            for (int column = 0; column < model.columnCount(); ++column) {
                model.index(row, column).data();
            }
        }
    });

    std::map<int, qint64> saved, seen;
    QProcess child;
    child.setProgram(QApplication::applicationFilePath());
    child.setArguments({QStringLiteral("--writer"), location});
    QObject::connect(&child, &QProcess::readyReadStandardOutput, [&] {
        while (child.canReadLine()) {
            const QList<QByteArray> parts = child.readLine().trimmed().split(' ');
            saved[parts.value(0).toInt()] = parts.value(1).toLongLong();
        }
    });
    QTimer look;
    QObject::connect(&look, &QTimer::timeout, [&] {
        for (int row = 0; row < kRowsShown; ++row) {
            const QString make = model.index(row, kMakeColumn).data().toString();
            if (make.startsWith(QLatin1Char('w'))) {
                seen.try_emplace(make.mid(1).toInt(), monotonicMs());
            }
        }
    });
    look.start(2);
    child.start();
    while (child.state() != QProcess::NotRunning || child.bytesAvailable() > 0) {
        QTest::qWait(50);
    }
    QTest::qWait(2000);
    look.stop();
    std::vector<double> delays;
    for (const auto& [i, at] : saved) {
        if (const auto it = seen.find(i); it != seen.end()) {
            delays.push_back(static_cast<double>(std::max<qint64>(0, it->second - at)));
        }
    }
    std::sort(delays.begin(), delays.end());
    f.seen = static_cast<int>(delays.size());
    if (!delays.empty()) {
        f.medianMs = delays[delays.size() / 2];
        f.p90Ms = delays[delays.size() * 9 / 10];
        f.maxMs = delays.back();
    }

    // The idle program with and without its watch, one after the other.
    const auto idle = [&] {
        const double before = cpuMs();
        QTest::qWait(idleSeconds * 1000);
        return (cpuMs() - before) / (idleSeconds * 10.0);
    };
    f.idlePercent = idle();
    main.stopWatching();
    f.idleUnwatchedPercent = idle();
    return f;
}

void report(const char* engine, const Figures& f, int idleSeconds) {
    std::printf("%-6s change shown after: median %6.0f ms, 90%% %6.0f ms, max %6.0f ms (%d of %d changes seen)\n",
                engine, f.medianMs, f.p90Ms, f.maxMs, f.seen, kChanges);
    std::printf("%-6s   baseline, a new search and its first screen: %6.1f ms; ratio %.1fx\n", engine, f.searchMs,
                f.medianMs / f.searchMs);
    std::printf("%-6s idle program for %d s: watching %.3f%% of one core, baseline not watching %.3f%%: the watch "
                "costs %.3f%% (goal under 1%%)\n",
                engine, idleSeconds, f.idlePercent, f.idleUnwatchedPercent, f.idlePercent - f.idleUnwatchedPercent);
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    if (argc == 3 && QByteArray(argv[1]) == "--writer") {
        QCoreApplication app(argc, argv);
        return writer(QString::fromLocal8Bit(argv[2]));
    }
    QApplication app(argc, argv);
    DialogScript::enable();
    const int idleSeconds = argc > 1 ? std::atoi(argv[1]) : 60;
    const QString base =
        QStandardPaths::writableLocation(QStandardPaths::TempLocation) + QStringLiteral("/vantrel-bench");
    const QString file = bench::demoRegister(base, 100000);
    report("file", measure(QFileInfo(file).absolutePath(), file, idleSeconds), idleSeconds);

    QTemporaryFile uri;
    uri.open();
    uri.close();
    if (QProcess::execute(QStringLiteral("bash"), {kScript, QStringLiteral("start"), uri.fileName()}) != 0) {
        std::fprintf(stderr, "no cluster could be started (tools/pgcluster.sh)\n");
        return 1;
    }
    QFile address(uri.fileName());
    address.open(QIODevice::ReadOnly);
    const QString server = QString::fromUtf8(address.readLine()).trimmed();
    QTemporaryDir folder;
    {
        QProcess copy;
        copy.start(QFileInfo(QApplication::applicationFilePath()).absolutePath() +
                       QStringLiteral("/../registertool/vnrdb"),
                   {QStringLiteral("copy"), file, server});
        copy.waitForFinished(-1);
    }
    QFile serverFile(folder.filePath(QStringLiteral("vnrdata.server")));
    serverFile.open(QIODevice::WriteOnly);
    serverFile.write(server.toUtf8() + '\n');
    serverFile.close();
    report("server", measure(folder.path(), serverFile.fileName(), idleSeconds), idleSeconds);
    QProcess::execute(QStringLiteral("bash"), {kScript, QStringLiteral("stop"), uri.fileName()});
    return 0;
}
