// The register on each engine, side by side: opening the asset list, a search keystroke and reading the
// "Current List" of 100,000 assets, each timed through the program's dataset, beside the engine's own tool
// running the same statement in the same run: SQLite stepping it, psql fetching its rows. The server is a
// throw-away cluster on this machine (tools/pgcluster.sh), started and stopped by the bench.
//   bench_server [ASSETS]    100000 by default
#include "bench/benchutil.h"
#include "data/dataset.h"
#include "data/registercopy.h"
#include "data/schema.h"

#include <QCoreApplication>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>

namespace {

constexpr int kRuns = 7;
constexpr int kShownRows = 40; // the rows a list shows at once
constexpr int kWalk = 512;     // the rows a report reads per statement, as the report does

// The columns the list and the "Current List" show.
const QStringList kShown = {"ASSETID", "Make", "Model", "SerialNumber", "Description", "Supplier", "OrderNumber"};

enum class Reading {
    Screen,    // the dataset opened, then the rows a list shows read as the grid reads them
    FirstRows, // the same, the dataset reading the rest of its rows later, as the main window's list does
    Walk,      // the dataset opened, then every row's shown columns read a block at a time, as the report does
    OpenWalk,  // the walk alone, on a list already open: what Print, "Current List" waits for
};

struct Step {
    const char* name;
    QStringList jet;
    Reading reading;
};

// The program's time: the dataset opened on the statement, then the shown columns read.
double programMs(Connection& c, const Step& step) {
    auto openOn = [&](Dataset& ds) {
        for (const QString& line : step.jet) {
            ds.addSql(line);
        }
        ds.open();
    };
    auto walk = [&](Dataset& ds) {
        std::vector<int> fields;
        for (const QString& name : kShown) {
            fields.push_back(ds.findField(name));
        }
        CellTexts texts; // as the report writer reads them
        for (int from = 0; from < ds.recordCount(); from += kWalk) {
            ds.textsOf(from, std::min(kWalk, ds.recordCount() - from), fields, texts);
        }
    };
    if (step.reading == Reading::OpenWalk) {
        Dataset ds(c, QStringLiteral("mainquery"));
        openOn(ds);
        return bench::medianMs(kRuns, [&] { walk(ds); });
    }
    return bench::medianMs(kRuns, [&] {
        Dataset ds(c, QStringLiteral("mainquery"));
        ds.setReadRestBetweenEvents(step.reading == Reading::FirstRows);
        openOn(ds);
        if (step.reading == Reading::Walk) {
            walk(ds);
            return;
        }
        for (int row = 0; row < std::min(kShownRows, ds.knownCount()); ++row) {
            for (const QString& name : kShown) {
                ds.textAt(row, ds.findField(name));
            }
        }
    });
}

// The statement with the shown columns in place of *, as each engine's tool runs it.
std::string shownStatement(const Step& step, SqlDialect dialect) {
    QString jet = step.jet.join(QLatin1Char('\n'));
    jet.replace(QRegularExpression(QStringLiteral("^SELECT \\*"), QRegularExpression::CaseInsensitiveOption),
                QStringLiteral("SELECT ") + kShown.join(QStringLiteral(", ")));
    return translateJetSql(jet, dialect).sql;
}

// psql's own timing of the statement, rows fetched and thrown away: the median of kRuns.
double psqlMs(const QString& address, const std::string& sql) {
    QTemporaryFile script;
    script.open();
    script.write("\\timing on\n");
    for (int i = 0; i < kRuns; ++i) {
        script.write(QByteArray::fromStdString(sql) + ";\n");
    }
    script.close();
    QProcess p;
    p.start(QStringLiteral("psql"), {address, QStringLiteral("-X"), QStringLiteral("-q"), QStringLiteral("-o"),
                                     QStringLiteral("/dev/null"), QStringLiteral("-f"), script.fileName()});
    p.waitForFinished(600000);
    std::vector<double> times;
    static const QRegularExpression time(QStringLiteral("Time: ([0-9.]+) ms"));
    for (auto it = time.globalMatch(QString::fromUtf8(p.readAllStandardOutput())); it.hasNext();) {
        times.push_back(it.next().captured(1).toDouble());
    }
    if (times.empty()) {
        return -1;
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int n = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 100000;
    const QString folder =
        QStandardPaths::writableLocation(QStandardPaths::TempLocation) + QStringLiteral("/vantrel-bench");
    const QString file = bench::demoRegister(folder, n);

    bench::Cluster cluster;
    if (cluster.address().isEmpty()) {
        std::fprintf(stderr, "no cluster could be started (tools/pgcluster.sh)\n");
        return 1;
    }
    QUrl database(cluster.address());
    database.setPath(QStringLiteral("/bench"));
    {
        Connection admin;
        admin.connectServer(cluster.address());
        admin.exec("CREATE DATABASE bench");
    }
    QElapsedTimer copying;
    copying.start();
    copyRegister(file, database.toString());
    const double copyMs = static_cast<double>(copying.elapsed());
    // The baseline: psql's \copy of the same rows, every table's (as sqlite3 writes them in CSV), into an
    // empty register database of its own, which has the same indexes and trigger, in one transaction.
    QUrl baseline(cluster.address());
    baseline.setPath(QStringLiteral("/baseline"));
    {
        Connection admin;
        admin.connectServer(cluster.address());
        admin.exec("CREATE DATABASE baseline");
    }
    createRegister(baseline.toString());
    QTemporaryDir csvs;
    QString script = QStringLiteral("BEGIN;\n");
    for (const char* table :
         {"RegisterFile", "System", "Groups", "assets", "History", "StockTakes", "StockTakeScans"}) {
        const QString columns = QStringLiteral("rowid, ") + QString::fromStdString(registerColumnList(table));
        const QString csv = csvs.filePath(QLatin1String(table) + QStringLiteral(".csv"));
        QProcess::execute(QStringLiteral("sqlite3"),
                          {QStringLiteral("-csv"), QStringLiteral("-cmd"), QStringLiteral(".output ") + csv, file,
                           QStringLiteral("SELECT %1 FROM %2").arg(columns, table)});
        script += QStringLiteral("DELETE FROM %1;\n\\copy %1 (%2) FROM '%3' WITH (FORMAT csv)\n")
                      .arg(QString::fromLatin1(table).toLower(), columns, csv);
    }
    script += QStringLiteral("COMMIT;\n");
    QElapsedTimer psqlCopying;
    psqlCopying.start();
    QProcess psql;
    psql.start(QStringLiteral("psql"), {baseline.toString(), QStringLiteral("-X"), QStringLiteral("-q"),
                                        QStringLiteral("-v"), QStringLiteral("ON_ERROR_STOP=1")});
    psql.write(script.toUtf8());
    psql.closeWriteChannel();
    psql.waitForFinished(-1);
    if (psql.exitCode() != 0) {
        std::fprintf(stderr, "psql failed: %s\n", psql.readAllStandardError().constData());
    }
    const double psqlCopyMs = static_cast<double>(psqlCopying.elapsed());
    std::printf("%d assets; copied to the server by vnrdb copy in %.0f ms (every row read back and compared), "
                "psql \\copy of the same rows of every table %.0f ms: %.2fx\n",
                n, copyMs, psqlCopyMs, copyMs / psqlCopyMs);

    Connection onFile;
    onFile.openFile(file, QString::fromLatin1(kDefaultFilePassword));
    Connection onServer;
    onServer.openFile(database.toString(), QString::fromLatin1(kDefaultFilePassword));
    {
        Statement analyse(onServer, "ANALYZE");
        analyse.step();
    }

    const std::vector<Step> steps = {
        {"open the list",
         {"select *", "from assets", "WHERE Writtenoff <> TRUE", "ORDER BY Assetid;"},
         Reading::Screen},
        {"search keystroke",
         {"SELECT *", "FROM Assets", "WHERE description LIKE \"%lap%\"", "AND Writtenoff <> TRUE",
          "ORDER BY description;"},
         Reading::Screen},
        {"  its first rows",
         {"SELECT *", "FROM Assets", "WHERE description LIKE \"%lap%\"", "AND Writtenoff <> TRUE",
          "ORDER BY description;"},
         Reading::FirstRows},
        {"Current List rows",
         {"select *", "from assets", "WHERE Writtenoff <> TRUE", "ORDER BY Assetid;"},
         Reading::Walk},
        {"  on the open list",
         {"select *", "from assets", "WHERE Writtenoff <> TRUE", "ORDER BY Assetid;"},
         Reading::OpenWalk},
    };
    std::printf("%-18s | %10s %10s %7s | %10s %10s %7s\n", "", "file", "sqlite3", "ratio", "server", "psql", "ratio");
    for (const Step& step : steps) {
        const double file = programMs(onFile, step);
        const double raw =
            bench::rawStepMs(onFile, QStringList{QString::fromStdString(shownStatement(step, SqlDialect::SQLite))});
        const double server = programMs(onServer, step);
        const double psql = psqlMs(database.toString(), shownStatement(step, SqlDialect::PostgreSQL));
        std::printf("%-18s | %8.1fms %8.1fms %6.2fx | %8.1fms %8.1fms %6.2fx\n", step.name, file, raw, file / raw,
                    server, psql, psql > 0 ? server / psql : -1.0);
        std::fflush(stdout);
    }
    return 0;
}
