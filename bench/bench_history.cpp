// The register's history, each figure beside a baseline measured in the same run, as a ratio:
//  1. saves through the asset list, an edit of one asset and an insert of a new one, on a register of 10,000
//     assets that keeps history, against the same saves on the same register as version 2 keeps it (no history
//     table, opened as it is): what the history adds to a save. On a file, and on a throw-away server cluster.
//  2. a register of 100,000 assets with 1,000,000 history entries against the same assets without a history:
//     opening, a search keystroke (the list opened on the search and its first screen read), the Current List's
//     walk over every row, and an edit's save.
//  3. one asset's 1,000 entries shown in the History window (read, listed and painted, offscreen), beside SQLite
//     stepping the statement that reads them.
//  4. the check of the whole chain and of every row against it (verifyHistory), beside SQLite stepping every
//     entry and every asset.
//   bench_history [ASSETS [ENTRIES]]    100000 and 1000000 by default
#include "bench/benchutil.h"
#include "data/dataset.h"
#include "data/history.h"
#include "data/registercopy.h"
#include "records/historywindow.h"

#include <QApplication>
#include <QDateTime>
#include <QHash>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTreeWidget>
#include <QUrl>

namespace {

constexpr int kRuns = 7;
constexpr int kShownRows = 40;
constexpr int kWalk = 512;
constexpr int kSaves = 200; // of each kind on each register
constexpr int kOneAssetsEntries = 1000;
const QStringList kShown = {"ASSETID", "Make", "Model", "SerialNumber", "Description", "Supplier", "OrderNumber"};
const QString kPassword = QString::fromLatin1(kDefaultFilePassword);

double median(std::vector<double> t) {
    std::sort(t.begin(), t.end());
    return t.empty() ? -1 : t[t.size() / 2];
}

void copyFile(const QString& from, const QString& to) {
    QFile::remove(to);
    QFile::remove(to + QStringLiteral("-journal"));
    if (!QFile::copy(from, to)) {
        qFatal("cannot copy %s", qPrintable(from));
    }
}

// The register at path as version 2 keeps it: no history table. A file's pages stay where they were, its
// history's pages free, unless compact.
void dropHistory(const QString& path, bool compact) {
    Connection c;
    c.openFile(path, kPassword);
    c.exec(c.isServer() ? "DROP TABLE History; UPDATE registerversion SET schema_version = 2"
                        : "DROP TABLE History; PRAGMA user_version = 2");
    if (compact && !c.isServer()) {
        c.exec("VACUUM");
    }
}

// The program's opening of the register: the one at version 2 as it is, the other as the program opens it.
void openRegister(Connection& c, const QString& path, bool keepsHistory) {
    c.openFile(path, kPassword, keepsHistory, Connection::WholeFileChecks::Later);
}

// Times saves through the asset list: each post alone, the typing before it left out.
class Saves {
public:
    // New assets are numbered after prefix, which no other series of saves on the register uses.
    Saves(Connection& c, quint32 seed, const QString& prefix)
        : list_(c, QStringLiteral("mainquery")), rng_(seed), prefix_(prefix) {
        list_.addSql(QStringLiteral("select * from assets"));
        list_.open();
    }
    void edits(int count, std::vector<double>& times) {
        for (int i = 0; i < count; ++i) {
            list_.moveTo(static_cast<int>(rng_.bounded(list_.recordCount())));
            list_.edit();
            // A value no earlier run saved: the registers are kept between runs.
            list_.fieldByName(QStringLiteral("Make"))
                .setAsString(QStringLiteral("Make %1-%2").arg(stamp_).arg(++made_));
            times.push_back(timedPost());
        }
    }
    void inserts(int count, std::vector<double>& times) {
        for (int i = 0; i < count; ++i) {
            list_.append();
            list_.fieldByName(QStringLiteral("ItemGroup")).setAsString(QStringLiteral("9"));
            list_.fieldByName(QStringLiteral("ASSETID"))
                .setAsString(prefix_ + QString::number(++made_).rightJustified(6, QLatin1Char('0')));
            list_.fieldByName(QStringLiteral("Make")).setAsString(QStringLiteral("Bench"));
            list_.fieldByName(QStringLiteral("TotalCost")).setAsString(QStringLiteral("12.5"));
            times.push_back(timedPost());
        }
    }

private:
    double timedPost() {
        QElapsedTimer t;
        t.start();
        list_.post();
        return static_cast<double>(t.nsecsElapsed()) / 1e6;
    }
    Dataset list_;
    QRandomGenerator rng_;
    QString prefix_;
    const qint64 stamp_ = QDateTime::currentMSecsSinceEpoch();
    int made_ = 0;
};

// Edits and inserts on the two registers, one save on each in turn, so that both meet the disk, the server and
// the machine's other work as they are at the time.
void compareSaves(const char* engine, const QString& with, const QString& without) {
    Connection w;
    openRegister(w, with, true);
    Connection o;
    openRegister(o, without, false);
    const QString prefix = QString::fromLatin1(engine).remove(QLatin1Char(' ')).remove(QLatin1Char(',')) + u'-';
    Saves ws(w, 1, prefix);
    Saves os(o, 1, prefix);
    std::vector<double> editWith, editWithout, insertWith, insertWithout;
    for (int i = 0; i < kSaves; ++i) {
        ws.edits(1, editWith);
        os.edits(1, editWithout);
    }
    for (int i = 0; i < kSaves; ++i) {
        ws.inserts(1, insertWith);
        os.inserts(1, insertWithout);
    }
    for (const auto& [what, a, b] : {std::tuple{"edit", median(editWith), median(editWithout)},
                                     std::tuple{"insert", median(insertWith), median(insertWithout)}}) {
        std::printf("%-16s %-7s save: %8.3f ms with history, %8.3f ms without, %5.2fx (median of %d each)\n", engine,
                    what, a, b, a / b, kSaves);
    }
    std::fflush(stdout);
}

// The register of n assets with entries history entries in all, made once and reused: the demo register, whose
// assets have their entries "Added", then edits of the assets' Location until the history holds entries, one
// asset getting kOneAssetsEntries in all. Every entry tells a change the register holds, so the check passes.
QString bigRegister(const QString& folder, int n, int entries, QString* oneAsset) {
    const QString dir = folder + QStringLiteral("/history-%1-%2").arg(n).arg(entries);
    QDir().mkpath(dir);
    const QString path = dir + QStringLiteral("/vnrdata.mdb");
    Connection c;
    if (QFile::exists(path)) {
        c.openFile(path, kPassword);
        Statement first(c, "SELECT ASSETID FROM assets ORDER BY rowid LIMIT 1");
        first.step();
        *oneAsset = first.column(0).toString();
        return path;
    }
    const QString building = path + QStringLiteral(".building");
    copyFile(bench::demoRegister(folder, n), building);
    c.openFile(building, kPassword);
    QStringList ids;
    std::vector<QString> locations;
    {
        Statement all(c, "SELECT ASSETID, Location FROM assets ORDER BY rowid");
        while (all.step()) {
            ids << all.column(0).toString();
            locations.push_back(all.column(1).toString());
        }
    }
    *oneAsset = ids.front();
    Statement count(c, "SELECT count(*) FROM History");
    count.step();
    long long have = count.columnInt64(0);
    count.reset();
    const long long oneAssetEdits = kOneAssetsEntries - 1;
    const long long others = entries - have - oneAssetEdits;
    QRandomGenerator rng(20261209);
    QElapsedTimer timer;
    timer.start();
    std::vector<bool> touched(static_cast<size_t>(ids.size()), false);
    long long oneLeft = oneAssetEdits;
    long long othersLeft = others;
    constexpr long long kPerTransaction = 50000;
    const QString assets = QStringLiteral("assets");
    while (oneLeft + othersLeft > 0) {
        Connection::Transaction t(c);
        std::vector<HistoryRecord> records;
        for (long long i = 0; i < kPerTransaction && oneLeft + othersLeft > 0; ++i) {
            // The one asset's edits are spread over the whole chain, as a much-lent laptop's would be.
            const bool one = rng.bounded(static_cast<quint32>(oneLeft + othersLeft)) < oneLeft;
            const int at = one ? 0 : 1 + static_cast<int>(rng.bounded(static_cast<quint32>(ids.size() - 1)));
            (one ? oneLeft : othersLeft)--;
            QString& location = locations[static_cast<size_t>(at)];
            const QString next = QStringLiteral("Room %1").arg(rng.bounded(900) + 100);
            records.push_back({assets, ids[at], HistoryAction::Edited, {{QStringLiteral("Location"), location, next}}});
            location = next;
            touched[static_cast<size_t>(at)] = true;
            if (records.size() == 10000) {
                appendHistory(c, records);
                records.clear();
            }
        }
        appendHistory(c, records);
        t.commit();
    }
    {
        Connection::Transaction t(c);
        Statement update(c, "UPDATE assets SET Location = ? WHERE ASSETID = ?");
        for (qsizetype i = 0; i < ids.size(); ++i) {
            if (touched[static_cast<size_t>(i)]) {
                update.bindText(1, locations[static_cast<size_t>(i)]);
                update.bindText(2, ids[i]);
                update.step();
                update.reset();
            }
        }
        t.commit();
    }
    c.close();
    QFile::rename(building, path);
    std::printf("made %s: %d entries added in %.1f s\n", qPrintable(path), static_cast<int>(others + oneAssetEdits),
                static_cast<double>(timer.elapsed()) / 1000.0);
    return path;
}

// The list opened on a statement, then its first screen read (Screen) or every row's shown columns a block at a
// time, as the Current List reads them (Walk).
double listMs(Connection& c, const QStringList& jet, bool walk) {
    return bench::medianMs(1, [&] {
        Dataset ds(c, QStringLiteral("mainquery"));
        for (const QString& line : jet) {
            ds.addSql(line);
        }
        ds.open();
        std::vector<int> fields;
        for (const QString& name : kShown) {
            fields.push_back(ds.findField(name));
        }
        if (walk) {
            for (int from = 0; from < ds.recordCount(); from += kWalk) {
                ds.textsOf(from, std::min(kWalk, ds.recordCount() - from), fields);
            }
            return;
        }
        for (int row = 0; row < std::min(kShownRows, ds.recordCount()); ++row) {
            for (int f : fields) {
                ds.textAt(row, f);
            }
        }
    });
}

// The same list on both registers, the two taking turns run after run, so that neither gains from going first
// or from the machine's other work coming and going: the median of each.
std::pair<double, double> listMsBoth(Connection& with, Connection& without, const QStringList& jet, bool walk) {
    std::vector<double> a, b;
    for (int run = 0; run < 2 * kRuns + 1; ++run) {
        a.push_back(listMs(with, jet, walk));
        b.push_back(listMs(without, jet, walk));
    }
    return {median(a), median(b)};
}

// SQLite stepping sql with text binds, and nothing else: the engine's own time.
double rawMs(const Connection& c, const char* sql, const QStringList& binds = {}) {
    return bench::medianMs(kRuns, [&] {
        sqlite3_stmt* s = nullptr;
        sqlite3_prepare_v2(c.handle(), sql, -1, &s, nullptr);
        for (int i = 0; i < binds.size(); ++i) {
            const QByteArray b = binds[i].toUtf8();
            sqlite3_bind_text(s, i + 1, b.constData(), static_cast<int>(b.size()), SQLITE_TRANSIENT);
        }
        while (sqlite3_step(s) == SQLITE_ROW) {
        }
        sqlite3_finalize(s);
    });
}

void row(const char* what, double with, double without, const char* baseline) {
    std::printf("  %-34s %10.2f ms %10.2f ms %-24s %6.2fx\n", what, with, without, baseline, with / without);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    bench::prepareApplication();
    QApplication app(argc, argv);
    const int n = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 100000;
    const int entries = argc > 2 ? QString::fromLocal8Bit(argv[2]).toInt() : 1000000;
    // A folder of its own: the registers here keep history, which a program of an older version would refuse.
    const QString folder =
        QStandardPaths::writableLocation(QStandardPaths::TempLocation) + QStringLiteral("/vantrel-bench-history");

    // 1. Saves, with and without the history, on a file and on a server.
    {
        const QString demo = bench::demoRegister(folder, 10000);
        const QString with = folder + QStringLiteral("/saves-with.mdb");
        const QString without = folder + QStringLiteral("/saves-without.mdb");
        copyFile(demo, with);
        copyFile(demo, without);
        {
            Connection c;
            c.openFile(with, kPassword);
            c.exec("VACUUM");
        }
        dropHistory(without, true);
        std::printf("1. saves on 10,000 assets, the register with its history against the same as version 2\n");
        compareSaves("file", with, without);
        for (const bool durable : {false, true}) {
            bench::Cluster cluster(durable);
            if (cluster.address().isEmpty()) {
                std::printf("server: no cluster could be started (tools/pgcluster.sh); left out\n");
                break;
            }
            QStringList uris;
            for (const char* name : {"saves_with", "saves_without"}) {
                Connection admin;
                admin.connectServer(cluster.address());
                admin.exec(std::string("CREATE DATABASE ") + name);
                QUrl database(cluster.address());
                database.setPath(QLatin1Char('/') + QLatin1String(name));
                uris << database.toString();
                copyRegister(with, uris.back());
            }
            dropHistory(uris[1], true);
            // As the tests run the server (no flush to disk), and as a server keeps a register.
            compareSaves(durable ? "durable server" : "server, no flush", uris[0], uris[1]);
        }
    }

    // 2. The large register with its history against the same assets without one.
    QString oneAsset;
    const QString big = bigRegister(folder, n, entries, &oneAsset);
    // Both registers are fresh byte copies of the one made: a file written a page at a time by SQLite reads
    // several per cent slower from the system's cache than the same bytes written by a copy, which would be
    // counted against the history.
    const QString bare = folder + QStringLiteral("/history-bare.mdb");
    copyFile(big, bare);
    dropHistory(bare, false);
    const QString whole = folder + QStringLiteral("/history-whole.mdb");
    copyFile(big, whole);
    std::printf("2. %d assets with %d history entries (%.0f MB) against the same assets without (%.0f MB)\n", n,
                entries, static_cast<double>(QFileInfo(big).size()) / 1e6,
                static_cast<double>(QFileInfo(bare).size()) / 1e6);
    std::printf("  %-34s %13s %13s %-24s %7s\n", "", "with", "without", "", "ratio");
    row("opening",
        bench::medianMs(kRuns,
                        [&] {
                            Connection c;
                            openRegister(c, whole, true);
                        }),
        bench::medianMs(kRuns,
                        [&] {
                            Connection c;
                            openRegister(c, bare, false);
                        }),
        "");
    Connection withHistory;
    openRegister(withHistory, whole, true);
    Connection withoutHistory;
    openRegister(withoutHistory, bare, false);
    const QStringList search{"SELECT *", "FROM Assets", "WHERE description LIKE \"%lap%\"", "AND Writtenoff <> TRUE",
                             "ORDER BY description;"};
    const QStringList current{"select *", "from assets", "WHERE Writtenoff <> TRUE", "ORDER BY Assetid;"};
    const auto [searchWith, searchWithout] = listMsBoth(withHistory, withoutHistory, search, false);
    row("search keystroke", searchWith, searchWithout, "");
    const auto [currentWith, currentWithout] = listMsBoth(withHistory, withoutHistory, current, true);
    row("Current List (every row)", currentWith, currentWithout, "");
    {
        std::vector<double> a, b;
        Saves ws(withHistory, 2, QStringLiteral("large-"));
        Saves os(withoutHistory, 2, QStringLiteral("large-"));
        for (int i = 0; i < kSaves; ++i) {
            ws.edits(1, a);
            os.edits(1, b);
        }
        row("edit save", median(a), median(b), "");
    }

    // 3. One asset's entries in the History window.
    {
        HistoryWindow window(nullptr, withHistory);
        double first = 0;
        const auto show = [&] {
            window.fillFor(oneAsset, QString());
            window.show();
            window.historyList->viewport()->repaint();
        };
        {
            QElapsedTimer t;
            t.start();
            show();
            first = static_cast<double>(t.nsecsElapsed()) / 1e6;
            window.hide();
        }
        const double shown = bench::medianMs(kRuns, [&] {
            show();
            window.hide();
        });
        const double raw = rawMs(withHistory,
                                 "SELECT rowid, ChangedAt, ChangedBy, TableName, Subject, Action, Changes, Hash FROM "
                                 "History WHERE Subject = ? AND TableName = 'assets' ORDER BY rowid DESC",
                                 {oneAsset});
        std::printf("3. the History window on %s (%d entries): shown in %.1f ms (the first time %.1f ms); SQLite "
                    "reading them %.2f ms, %.1fx\n",
                    qPrintable(oneAsset), window.historyList->topLevelItemCount(), shown, first, raw, shown / raw);
    }

    // 4. The check of the whole history.
    {
        HistoryVerdict verdict;
        const double check = bench::medianMs(3, [&] { verdict = verifyHistory(withHistory); });
        const double raw = rawMs(withHistory, "SELECT rowid, ChangedAt, ChangedBy, TableName, Subject, Action, "
                                              "Changes, Hash FROM History ORDER BY rowid") +
                           rawMs(withHistory, "SELECT * FROM assets");
        std::printf("4. the check of %lld entries (%s): %.0f ms; SQLite stepping every entry and asset %.0f ms, "
                    "%.1fx; resident memory %.0f MB\n",
                    verdict.entries, verdict.whole() ? "whole" : "NOT whole", check, raw, check / raw,
                    bench::residentMb());
    }
    return 0;
}
