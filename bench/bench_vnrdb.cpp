// The register tool on a register of 100,000 demo assets (or the size given): export and import beside the sqlite3
// command-line tool doing the same with its CSV mode (export of select * with a header; import into a fresh table, and
// into a new register with its indexes), and a backup beside a plain copy of the file. Each figure is the
// median of a few runs.
#include "bench/benchutil.h"
#include "data/backup.h"
#include "data/schema.h"
#include "registertool/assetcsv.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <cstdio>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int kDefaultAssets = 100000;
constexpr int kRuns = 3;

// Runs the sqlite3 command-line tool; false when it is missing or fails.
bool sqliteCli(const QStringList& args, const QString& outputFile = QString()) {
    QProcess p;
    if (!outputFile.isEmpty()) {
        p.setStandardOutputFile(outputFile);
    }
    p.start(QStringLiteral("sqlite3"), args);
    return p.waitForFinished(600000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

void ratio(const char* what, double ours, double baseline, const char* baselineName) {
    std::printf("%-8s vnrdb %9.1f ms   %-34s %9.1f ms   ratio %5.2f\n", what, ours, baselineName, baseline,
                ours / baseline);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    // bench_vnrdb [N]: a register of N demo assets (100,000 when none is given).
    const int assets = argc > 1 ? std::atoi(argv[1]) : kDefaultAssets;
    const QString folder =
        QStandardPaths::writableLocation(QStandardPaths::TempLocation) + QStringLiteral("/vantrel-bench");
    const QString path = bench::demoRegister(folder, assets);
    const QString work = folder + QStringLiteral("/vnrdb");
    QDir(work).removeRecursively();
    QDir().mkpath(work);
    if (!sqliteCli({QStringLiteral("-version")})) {
        std::fprintf(stderr, "the sqlite3 command-line tool is missing (Debian package sqlite3)\n");
        return 1;
    }
    std::printf("register of %d demo assets: %.1f MB\n", assets, QFileInfo(path).size() / 1e6);

    const QString ours = work + QStringLiteral("/ours.csv");
    const QString theirs = work + QStringLiteral("/sqlite3.csv");
    const double exportMs = bench::medianMs(kRuns, [&] {
        QFile out(ours);
        if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            qFatal("cannot write %s", qPrintable(ours));
        }
        exportAssets(path, out);
    });
    const double cliExportMs = bench::medianMs(kRuns, [&] {
        if (!sqliteCli(
                {QStringLiteral("-csv"), QStringLiteral("-header"), path, QStringLiteral("select * from assets")},
                theirs)) {
            qFatal("sqlite3 export failed");
        }
    });
    ratio("export", exportMs, cliExportMs, "sqlite3 -csv -header select *");
    std::printf("         CSV sizes: vnrdb %.1f MB, sqlite3 %.1f MB\n", QFileInfo(ours).size() / 1e6,
                QFileInfo(theirs).size() / 1e6);

    QFile in(ours);
    if (!in.open(QIODevice::ReadOnly)) {
        qFatal("cannot read %s", qPrintable(ours));
    }
    int run = 0;
    int imported = 0;
    double importMs = 0;
    {
        std::vector<double> times;
        for (int i = 0; i < kRuns; ++i) {
            const QString target = work + QStringLiteral("/import%1.mdb").arg(run++);
            createRegister(target);
            times.push_back(bench::medianMs(1, [&] {
                const ImportOutcome o = importAssets(target, in, false);
                if (!o.problems.isEmpty()) {
                    qFatal("import refused: %s", qPrintable(o.problems.first()));
                }
                imported = o.rows;
            }));
        }
        std::sort(times.begin(), times.end());
        importMs = times[times.size() / 2];
    }
    std::vector<double> cliTimes;
    for (int i = 0; i < kRuns; ++i) {
        const QString target = work + QStringLiteral("/cli%1.db").arg(i);
        cliTimes.push_back(bench::medianMs(1, [&] {
            if (!sqliteCli({target, QStringLiteral(".mode csv"),
                            QStringLiteral(".import ") + theirs + QStringLiteral(" assets")})) {
                qFatal("sqlite3 import failed");
            }
        }));
    }
    std::sort(cliTimes.begin(), cliTimes.end());
    ratio("import", importMs, cliTimes[cliTimes.size() / 2], "sqlite3 .import into a new table");
    // The same tool importing into a new register, whose nine indexes on assets every row must enter.
    std::vector<double> indexedTimes;
    for (int i = 0; i < kRuns; ++i) {
        const QString target = work + QStringLiteral("/cliregister%1.mdb").arg(i);
        createRegister(target);
        indexedTimes.push_back(bench::medianMs(1, [&] {
            if (!sqliteCli({target, QStringLiteral(".mode csv"),
                            QStringLiteral(".import --skip 1 ") + theirs + QStringLiteral(" assets")})) {
                qFatal("sqlite3 import into a register failed");
            }
        }));
    }
    std::sort(indexedTimes.begin(), indexedTimes.end());
    ratio("import", importMs, indexedTimes[indexedTimes.size() / 2], "sqlite3 .import into a new register");
    std::printf("         %d assets imported, every value checked, identifiers checked against the register\n",
                imported);
    // The tool itself importing the file into a new register: the most memory it held at once, beside the
    // file's size.
    long peakKb = -1;
    {
        const QString target = work + QStringLiteral("/import-tool.mdb");
        createRegister(target);
        const QByteArray tool = QByteArrayLiteral(VNRDB_PATH);
        const QByteArray register_ = target.toLocal8Bit();
        const QByteArray file = ours.toLocal8Bit();
        const pid_t pid = fork();
        if (pid == 0) {
            const int devnull = open("/dev/null", O_WRONLY);
            dup2(devnull, STDOUT_FILENO);
            execl(tool.constData(), "vnrdb", "import", register_.constData(), file.constData(), nullptr);
            _exit(127);
        }
        int status = 0;
        rusage usage{};
        if (pid < 0 || wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            qFatal("vnrdb import failed");
        }
        peakKb = usage.ru_maxrss;
    }
    const double csvMb = QFileInfo(ours).size() / (1024.0 * 1024.0);
    std::printf("%-8s vnrdb %9.1f MB   %-34s %9.1f MB   ratio %5.2f\n", "memory", peakKb / 1024.0,
                "peak resident; the CSV file's size", csvMb, peakKb / 1024.0 / csvMb);

    // import --update of every asset, one column each, on the registers just imported into, beside the
    // import of as many new assets above.
    QByteArray updates = "ASSETID,Make\r\n";
    {
        Connection c;
        c.openFile(work + QStringLiteral("/import0.mdb"), QString::fromLatin1(kDefaultFilePassword));
        Statement ids(c, "SELECT ASSETID FROM assets");
        for (int i = 0; ids.step(); ++i) {
            updates += ids.column(0).toString().toUtf8() + ",changed " + QByteArray::number(i) + "\r\n";
        }
    }
    std::vector<double> updateTimes;
    int updated = 0;
    for (int i = 0; i < kRuns; ++i) {
        updateTimes.push_back(bench::medianMs(1, [&] {
            const ImportOutcome o = importAssets(work + QStringLiteral("/import%1.mdb").arg(i), updates, false, true);
            if (!o.problems.isEmpty()) {
                qFatal("update refused: %s", qPrintable(o.problems.first()));
            }
            updated = o.updated;
        }));
    }
    std::sort(updateTimes.begin(), updateTimes.end());
    const double updateMs = updateTimes[updateTimes.size() / 2];
    ratio("update", updateMs, importMs, "vnrdb import of as many new assets");
    std::printf("         %d assets updated, one column each\n", updated);

    const double backupMs = bench::medianMs(kRuns, [&] {
        const QString dest = work + QStringLiteral("/backup%1.mdb").arg(run++);
        backupRegister(path, dest);
    });
    const double copyMs = bench::medianMs(kRuns, [&] {
        const QString dest = work + QStringLiteral("/copy%1.mdb").arg(run++);
        if (!QFile::copy(path, dest)) {
            qFatal("copy failed");
        }
    });
    ratio("backup", backupMs, copyMs, "plain copy of the file");
    const double indexedImportMs = indexedTimes[indexedTimes.size() / 2];
    const auto met = [](bool yes) { return yes ? "met" : "missed"; };
    std::printf("         goals: export within 2x of sqlite3 %s; import within 2x of sqlite3 into a register %s; "
                "update within 2x of import %s; backup within 2x of a plain copy %s; import under 200 MB %s\n",
                met(exportMs <= 2 * cliExportMs), met(importMs <= 2 * indexedImportMs), met(updateMs <= 2 * importMs),
                met(backupMs <= 2 * copyMs), met(peakKb < 200 * 1024));
    QDir(work).removeRecursively();
    return 0;
}
