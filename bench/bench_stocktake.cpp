// Stock-taking on a register of 100,000 assets, on a file and on a server cluster that flushes every commit to disk,
// each figure beside a baseline measured in the same run, as a ratio:
//  1. a scan answered: 1,000 scans (most of an asset, some again, some of no asset) typed into the Stock-take
//     window, each timed from Enter to its answer, counters and latest scans painted (median and 99th percentile);
//     and recordScan alone; beside the bare SQL lookup of the asset by its identifier.
//  2. the missing list of a stock-take covering every asset: the Missing button to the page painted in the viewer,
//     beside the engine stepping the list's statement.
//  3. a stock-take of 10,000 scans opened again: Open to the scan page painted with its counters and latest scans,
//     beside the engine stepping the three statements that reads.
//   bench_stocktake [ASSETS]    100000 by default
#include "app/logon.h"
#include "app/session.h"
#include "app/status.h"
#include "bench/benchutil.h"
#include "data/datamodule.h"
#include "data/engine.h"
#include "data/registercopy.h"
#include "data/stocktake.h"
#include "reporting/reporter.h"
#include "reporting/reportwriter.h"
#include "stocktake/stocktakewindow.h"
#include "widgets/dbgrid.h"
#include "widgets/dialogs.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QTreeWidget>
#include <QUrl>

namespace {

constexpr int kScans = 1000;
constexpr int kResumedScans = 10000;
const QString kPassword = QString::fromLatin1(kDefaultFilePassword);

double percentile(std::vector<double> t, double p) {
    std::sort(t.begin(), t.end());
    return t.empty() ? -1 : t[std::min(t.size() - 1, static_cast<size_t>(p * static_cast<double>(t.size())))];
}

// The engine stepping sql through every row, reading nothing: the least any reading of it can cost.
double steppedMs(const Connection& c, const std::string& sql, const QString& bound = QString()) {
    return bench::medianMs(5, [&] {
        Statement s(c, sql);
        if (!bound.isNull()) {
            s.bindText(1, bound);
        }
        while (s.step()) {
        }
    });
}

std::string jet(const Connection& c, const QStringList& lines) {
    return translateJetSql(lines.join(QLatin1Char('\n')), c.dialect()).sql;
}

void line(const char* engine, const char* what, double ms, const char* baseline, double baseMs) {
    std::printf("  %-7s %-46s %9.2f ms   %-40s %8.3f ms %9.1fx\n", engine, what, ms, baseline, baseMs, ms / baseMs);
    std::fflush(stdout);
}

// Lets the window's layout and painting happen, so what is timed is on screen.
void paintNow(QWidget& window) {
    QCoreApplication::processEvents();
    window.repaint();
}

void measure(const char* engine, const QString& location, Session& session, TStatusFrm& status, Treporterfrm& viewer) {
    DataModule dm;
    Connection& c = dm.ADOConnection1;
    c.openFile(location, kPassword);
    dm.GroupsTable.open();
    dm.SystemTable.open();
    ReportWriter writer(session, dm.SystemTable, status, viewer);
    Tlogonfrm logon(nullptr, dm, session, [](const QString&) {});
    TDBGrid grid(QStringLiteral("Query2Grid"), &dm.Query2DataSource);
    StockTakeWindow w(nullptr, dm, logon, grid, writer);

    QStringList ids;
    QString location2;
    {
        Statement all(c, "SELECT ASSETID, Location FROM assets ORDER BY rowid");
        while (all.step()) {
            ids << all.column(0).toString();
            if (location2.isEmpty()) {
                location2 = all.column(1).toString();
            }
        }
    }
    const auto open = [&](const QString& name) {
        w.hide();
        w.show();
        w.stockTakeList->setCurrentItem(w.stockTakeList->findItems(name, Qt::MatchExactly).front());
        QElapsedTimer t;
        t.start();
        w.resumeButton->click();
        paintNow(w);
        return bench::msSince(t);
    };

    // 1. Scans.
    const StockTake room = startStockTake(c, QStringLiteral("Bench room"), location2, {});
    open(room.name);
    QRandomGenerator random(20261209);
    std::vector<double> answered, recorded, lookups;
    QStringList scanned;
    for (int i = 0; i < kScans; ++i) {
        const quint32 kind = random.bounded(10);
        const QString id = kind == 0                         ? QStringLiteral("NOSUCH%1").arg(i)
                           : kind == 1 && !scanned.isEmpty() ? scanned[random.bounded(scanned.size())]
                                                             : ids[random.bounded(ids.size())];
        scanned << id;
        QTest::keyClicks(w.scanEdit, id);
        QElapsedTimer t;
        t.start();
        QTest::keyClick(w.scanEdit, Qt::Key_Return);
        paintNow(w);
        answered.push_back(bench::msSince(t));
    }
    const StockTake other = startStockTake(c, QStringLiteral("Bench alone"), location2, {});
    const std::string lookup = "SELECT ASSETID, Description, Location, ItemGroup, WrittenOff FROM assets WHERE "
                               "ASSETID = ?";
    Statement bare(c, lookup);
    for (const QString& id : scanned) {
        QElapsedTimer t;
        t.start();
        recordScan(c, other, id);
        recorded.push_back(bench::msSince(t));
        QElapsedTimer l;
        l.start();
        bare.bindText(1, id);
        while (bare.step()) {
        }
        bare.reset();
        lookups.push_back(bench::msSince(l));
    }
    const double lookupMedian = percentile(lookups, 0.5);
    const double lookup99 = percentile(lookups, 0.99);
    line(engine, "scan answered in the window, median", percentile(answered, 0.5), "bare lookup, median", lookupMedian);
    line(engine, "scan answered in the window, 99th percentile", percentile(answered, 0.99), "bare lookup, 99th",
         lookup99);
    line(engine, "recordScan alone, median", percentile(recorded, 0.5), "bare lookup, median", lookupMedian);
    line(engine, "recordScan alone, 99th percentile", percentile(recorded, 0.99), "bare lookup, 99th", lookup99);

    // 2. The missing list of every asset.
    const StockTake every = startStockTake(c, QStringLiteral("Bench everything"), QString(), {});
    for (int i = 0; i < 100; ++i) {
        recordScan(c, every, ids[random.bounded(ids.size())]);
    }
    open(every.name);
    double shownMs = 0;
    int rows = 0;
    QElapsedTimer clock;
    DialogScript::setNextModal([&](QDialog& page) {
        paintNow(page);
        shownMs = bench::msSince(clock);
        rows = dm.Query2.recordCount();
        page.findChild<QToolButton*>(QStringLiteral("DisMissReportBtn"))->click();
    });
    clock.start();
    w.missingButton->click();
    const double stepped = steppedMs(c, jet(c, stockTakeListStatement(every, StockTakeList::Missing)));
    char what[80];
    std::snprintf(what, sizeof what, "missing list of %d assets shown", rows);
    line(engine, what, shownMs, "its statement stepped", stepped);

    // 3. A stock-take of 10,000 scans opened again.
    const StockTake big = startStockTake(c, QStringLiteral("Bench ten thousand"), QString(), {});
    {
        Connection::Transaction t(c);
        const auto writer = c.engine().writeRows(
            c, "StockTakeScans", "StockTake, Scanned, AssetId, Outcome, Counted, ScannedAt, ScannedBy", false);
        for (int i = 0; i < std::min<int>(kResumedScans, static_cast<int>(ids.size())); ++i) {
            writer->add({big.id, ids[i], ids[i], QStringLiteral("found"), 1, QStringLiteral("2026-12-09 10:00:00"),
                         QStringLiteral("bench@here")});
        }
        writer->finish();
        t.commit();
    }
    std::vector<double> opened;
    for (int i = 0; i < 5; ++i) {
        opened.push_back(open(big.name));
    }
    const double reads =
        steppedMs(c, "SELECT count(*) FROM assets WHERE WrittenOff = 0") +
        steppedMs(c, "SELECT Outcome, Counted, count(*) FROM StockTakeScans WHERE StockTake = " +
                         std::to_string(big.id) + " GROUP BY Outcome, Counted") +
        steppedMs(c, "SELECT ScannedAt, ScannedBy, Scanned, AssetId, Outcome FROM StockTakeScans WHERE StockTake = " +
                         std::to_string(big.id) + " ORDER BY rowid DESC LIMIT 50");
    std::snprintf(what, sizeof what, "stock-take of %lld scans opened, median of 5",
                  countScans(c, big).found + countScans(c, big).repeats);
    line(engine, what, percentile(opened, 0.5), "its three statements stepped", reads);
    w.hide();
}

} // namespace

int main(int argc, char** argv) {
    bench::prepareApplication();
    QApplication app(argc, argv);
    DialogScript::enable();
    const int n = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 100000;
    QTemporaryDir work;
    Session session;
    session.ProgramFolder = bench::programFolder(work.path());
    if (!session.CheckReportFiles()) {
        std::fprintf(stderr, "report templates not found in %s\n", qPrintable(bench::reportsSource()));
        return 1;
    }
    TStatusFrm status;
    Treporterfrm viewer(nullptr);
    // A folder of its own: registers of version 3 with the stock-takes' tables, which an older one lacks.
    const QString folder =
        QStandardPaths::writableLocation(QStandardPaths::TempLocation) + QStringLiteral("/vantrel-bench-stocktake");
    const QString demo = bench::demoRegister(folder, n);
    // Each run scans into a copy of its own.
    const QString file = work.filePath(QStringLiteral("vnrdata.mdb"));
    QFile::copy(demo, file);
    std::printf("stock-taking on %d assets (%s); times in ms, each beside its baseline\n", n,
                qPrintable(QDir::toNativeSeparators(demo)));
    measure("file", file, session, status, viewer);
    bench::Cluster cluster(true);
    if (cluster.address().isEmpty()) {
        std::printf("server: no cluster could be started (tools/pgcluster.sh); left out\n");
        return 0;
    }
    {
        Connection admin;
        admin.connectServer(cluster.address());
        admin.exec("CREATE DATABASE stocktake");
    }
    QUrl database(cluster.address());
    database.setPath(QStringLiteral("/stocktake"));
    copyRegister(demo, database.toString());
    measure("server", database.toString(), session, status, viewer);
    return 0;
}
