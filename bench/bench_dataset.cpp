// Opening the asset list: the dataset against stepping the same translated statement in raw SQLite, on
// registers of the sizes given (1,000, 10,000 and 100,000 by default). The dataset is timed until it knows its
// record count and has read its first screen of rows. Then a report's walk over the open list, the shown
// columns a block at a time, against stepping the statement of those columns, and stepping it reading each
// column's text.
#include "bench/benchutil.h"
#include "data/connection.h"
#include "data/dataset.h"
#include "data/jetsql.h"

#include <QCoreApplication>
#include <QStandardPaths>
#include <sqlite3.h>

namespace {

const QStringList kStartup{QStringLiteral("select *"), QStringLiteral("from assets"),
                           QStringLiteral("WHERE Writtenoff <> TRUE"), QStringLiteral("ORDER BY Assetid;")};
const QStringList kSearch{QStringLiteral("SELECT *"), QStringLiteral("FROM Assets"),
                          QStringLiteral("WHERE description LIKE \"%lap%\" "), QStringLiteral("AND Writtenoff <> TRUE"),
                          QStringLiteral("ORDER BY description;")};
constexpr int kScreenRows = 30;
constexpr int kWalkBlock = 512; // as the report writer reads
const QStringList kShown = {QStringLiteral("ASSETID"),      QStringLiteral("Make"),        QStringLiteral("Model"),
                            QStringLiteral("SerialNumber"), QStringLiteral("Description"), QStringLiteral("Supplier"),
                            QStringLiteral("OrderNumber")};

double datasetMs(Connection& c, const QStringList& lines, int* count) {
    Dataset ds(c, QStringLiteral("mainquery"));
    for (const QString& l : lines) {
        ds.addSql(l);
    }
    return bench::medianMs(7, [&] {
        ds.close();
        ds.open();
        *count = ds.recordCount();
        for (int r = 0; r < std::min(kScreenRows, *count); ++r) {
            for (int f = 0; f < 8; ++f) {
                (void)ds.textAt(r, f);
            }
        }
    });
}

double walkMs(Connection& c) {
    Dataset ds(c, QStringLiteral("mainquery"));
    for (const QString& l : kStartup) {
        ds.addSql(l);
    }
    ds.open();
    std::vector<int> fields;
    for (const QString& name : kShown) {
        fields.push_back(ds.findField(name));
    }
    return bench::medianMs(5, [&] {
        CellTexts texts; // as the report writer reads them
        for (int from = 0; from < ds.recordCount(); from += kWalkBlock) {
            ds.textsOf(from, std::min(kWalkBlock, ds.recordCount() - from), fields, texts);
        }
    });
}

// Stepping the list's statement of the shown columns in raw SQLite, reading each column's text or not.
double rawWalkMs(const Connection& c, bool texts) {
    QStringList lines = kStartup;
    lines[0] = QStringLiteral("select ") + kShown.join(QStringLiteral(", "));
    const std::string sql = translateJetSql(lines.join(QLatin1Char('\n'))).sql;
    return bench::medianMs(5, [&] {
        sqlite3_stmt* s = nullptr;
        sqlite3_prepare_v2(c.handle(), sql.c_str(), -1, &s, nullptr);
        size_t bytes = 0;
        while (sqlite3_step(s) == SQLITE_ROW) {
            for (int i = 0; texts && i < sqlite3_column_count(s); ++i) {
                (void)sqlite3_column_text(s, i);
                bytes += static_cast<size_t>(sqlite3_column_bytes(s, i));
            }
        }
        sqlite3_finalize(s);
        if (texts && bytes == 0) {
            std::printf("(no text read)\n");
        }
    });
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QString folder =
        QStandardPaths::writableLocation(QStandardPaths::TempLocation) + QStringLiteral("/vantrel-bench");
    std::printf("%-8s %-8s %8s %12s %10s %7s\n", "assets", "query", "rows", "dataset ms", "raw ms", "ratio");
    std::vector<int> sizes;
    for (int i = 1; i < argc; ++i) {
        sizes.push_back(std::atoi(argv[i]));
    }
    if (sizes.empty()) {
        sizes = {1000, 10000, 100000};
    }
    for (const int n : sizes) {
        const QString path = bench::demoRegister(folder, n);
        Connection c;
        c.openFile(path, QString::fromLatin1(kDefaultFilePassword));
        for (const auto& [name, lines] : {std::pair{"list", kStartup}, std::pair{"search", kSearch}}) {
            int count = 0;
            const double ds = datasetMs(c, lines, &count);
            const double raw = bench::rawStepMs(c, lines);
            std::printf("%-8d %-8s %8d %12.2f %10.2f %7.2f\n", n, name, count, ds, raw, ds / raw);
        }
        const double walk = walkMs(c);
        const double raw = rawWalkMs(c, false);
        const double rawTexts = rawWalkMs(c, true);
        std::printf("%-8d %-8s %8s %12.2f %10.2f %7.2f\n", n, "walk", "", walk, raw, walk / raw);
        std::printf("%-8d %-8s %8s %12.2f %10.2f %7.2f\n", n, "  texts", "", walk, rawTexts, walk / rawTexts);
    }
    std::printf("resident memory after opening (100,000 assets): %.1f MB\n", bench::residentMb());

    // Opening a register checks its pages, its tables and the kinds of its values before anything is shown;
    // the baseline is SQLite opening the file and reading its schema.
    const QString path = bench::demoRegister(folder, 100000);
    const double opening = bench::medianMs(5, [&] {
        Connection c;
        c.openFile(path, QString::fromLatin1(kDefaultFilePassword));
    });
    const double raw = bench::medianMs(5, [&] {
        sqlite3* db = nullptr;
        sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE, nullptr);
        sqlite3_exec(db, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr);
        sqlite3_close(db);
    });
    Connection c;
    c.openFile(path, QString::fromLatin1(kDefaultFilePassword));
    const double quick = bench::medianMs(5, [&] { c.exec("PRAGMA quick_check(1)"); });
    const double values = bench::medianMs(5, [&] { (void)registerValueProblem(c); });
    std::printf("opening with its checks (100,000 assets): %.1f ms (quick_check %.1f, value kinds %.1f) against a "
                "raw open %.2f ms\n",
                opening, quick, values, raw);
    return 0;
}
