// The register's history, on a file and on a server: the entries each kind of change writes (and that a change
// refused or rolled back writes none), the check of the chain against entries and rows changed behind the
// program's back, and a register of version 2 brought up to date, also when the program is killed halfway.
#include "data/datamodule.h"
#include "data/errors.h"
#include "data/history.h"
#include "data/newregister.h"
#include "data/schema.h"
#include "registertool/assetcsv.h"
#include "tests/support/childprocess.h"
#include "tests/support/testregister.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QLocale>
#include <QProcess>
#include <QSysInfo>
#include <QThread>
#include <QtTest>
#include <functional>
#include <pwd.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

QString utcNow() {
    return QDateTime::currentDateTimeUtc().toString(u"yyyy-MM-dd HH:mm:ss"_s);
}

// An entry as a person reads it: "subject | action | column: 'old' -> 'new'; ...".
QString shown(const HistoryEntry& e) {
    QStringList changes;
    for (const HistoryChange& c : decodeHistoryChanges(e.changes)) {
        changes << describeHistoryChange(c);
    }
    return u"%1 | %2 | %3"_s.arg(e.subject, e.action, changes.join(u"; "_s));
}

std::vector<HistoryEntry> entriesAfter(const Connection& c, long long number) {
    std::vector<HistoryEntry> all = readHistory(c, {});
    std::erase_if(all, [&](const HistoryEntry& e) { return e.number <= number; });
    return all;
}

long long lastEntry(const Connection& c) {
    const std::vector<HistoryEntry> all = readHistory(c, {});
    return all.empty() ? 0 : all.back().number;
}

// The register every case starts from: made with its settings and a group, as vnrdb create makes one, and three
// assets: one plain, one on loan, one written off.
std::unique_ptr<TestRegister> makeRegister() {
    auto reg =
        std::make_unique<TestRegister>(NewRegister{u"Kelton Trust"_s, u"KLT"_s, u"secret"_s, {{1, u"Laptops"_s}}});
    reg->addAsset(u"KLT1001"_s, u"1"_s, u"Make, Description, TotalCost"_s, u"'HP', 'Laptop', 1200"_s);
    reg->addAsset(u"KLT1002"_s, u"1"_s, u"Make, itemBorrowed, Borrower, BorrowedOn"_s,
                  u"'Dell', 1, 'Ana Ruiz', '2026-01-02'"_s);
    reg->addAsset(u"KLT1003"_s, u"1"_s, u"WrittenOff, WrittenOffDate, WrittenOffBy"_s,
                  u"1, '2025-06-30', 'J. Ferreira'"_s);
    return reg;
}

// The asset list on every asset, the asset id current.
Dataset& openAsset(DataModule& dm, const QString& id) {
    Dataset& list = dm.mainquery;
    openOn(list, {u"select * from assets"_s});
    if (!list.locate(u"ASSETID"_s, id)) {
        qFatal("no asset %s", qPrintable(id));
    }
    return list;
}

// The configuration window's OK: the settings and the groups it names, saved together.
void saveConfiguration(DataModule& dm, const QString& company, const QMap<int, QString>& groups) {
    Connection::Transaction t(dm.ADOConnection1);
    Dataset& settings = dm.SystemTable;
    settings.close();
    settings.open();
    settings.edit();
    setFields(settings, {{u"CompanyName"_s, company}, {u"DataBasePassword"_s, u"n3w-secret"_s}});
    settings.post();
    Dataset& cfg = dm.cfgGroupsTable;
    cfg.close();
    cfg.open();
    for (auto it = groups.cbegin(); it != groups.cend(); ++it) {
        if (cfg.locate(u"GroupNumber"_s, QString::number(it.key()))) {
            cfg.edit();
        } else {
            cfg.append();
            setFields(cfg, {{u"GroupNumber"_s, QString::number(it.key())}});
        }
        setFields(cfg, {{u"Description"_s, it.value()}});
        cfg.post();
    }
    t.commit();
}

void importCsv(const TestRegister& reg, const QByteArray& csv, bool update) {
    const ImportOutcome o = importAssets(reg.path(), csv, false, update);
    if (!o.problems.isEmpty()) {
        throw ConversionError(o.problems.join(u'\n'));
    }
}

struct Change {
    QString name;
    std::function<void(TestRegister&, DataModule&)> make;
    QStringList entries; // what it writes, oldest first
    bool refused = false;
};

// The asset id on the list, the fields given set to their values and saved, as the asset window saves them.
void editAsset(DataModule& dm, const QString& id, const QList<std::pair<QString, QVariant>>& values) {
    Dataset& list = openAsset(dm, id);
    list.edit();
    setFields(list, values);
    list.post();
}

QList<Change> changes() {
    return {
        {u"add"_s,
         [](TestRegister&, DataModule& dm) {
             Dataset& list = openAsset(dm, u"KLT1001"_s);
             list.insert();
             setFields(list, {{u"ItemGroup"_s, u"1"_s},
                              {u"ASSETID"_s, u"KLT1004"_s},
                              {u"Make"_s, u"Lenovo"_s},
                              {u"TotalCost"_s, u"249.5"_s},
                              {u"DatePurchased"_s, QDate(2024, 2, 29)}});
             list.post();
         },
         {u"KLT1004 | Added | ASSETID: '' -> 'KLT1004'; ItemGroup: '' -> '1'; Make: '' -> 'Lenovo'; DatePurchased: "
          "'' -> '2024-02-29'; TotalCost: '' -> '249.5'"_s}},
        {u"edit"_s,
         [](TestRegister&, DataModule& dm) {
             editAsset(dm, u"KLT1001"_s, {{u"Make"_s, u"Lenovo"_s}, {u"Description"_s, u"Laptop — spare"_s}});
         },
         {u"KLT1001 | Edited | Make: 'HP' -> 'Lenovo'; Description: 'Laptop' -> 'Laptop — spare'"_s}},
        {u"lend"_s,
         [](TestRegister&, DataModule& dm) {
             editAsset(
                 dm, u"KLT1001"_s,
                 {{u"itemBorrowed"_s, true}, {u"Borrower"_s, u"Zoë Nowak"_s}, {u"BorrowedOn"_s, QDate(2026, 1, 5)}});
         },
         {u"KLT1001 | Lent | itemBorrowed: 'False' -> 'True'; Borrower: '' -> 'Zoë Nowak'; BorrowedOn: '' -> "
          "'2026-01-05'"_s}},
        {u"return"_s,
         [](TestRegister&, DataModule& dm) {
             editAsset(dm, u"KLT1002"_s, {{u"itemBorrowed"_s, false}, {u"Borrower"_s, QString()}});
         },
         {u"KLT1002 | Returned | itemBorrowed: 'True' -> 'False'; Borrower: 'Ana Ruiz' -> ''"_s}},
        {u"write-off"_s,
         [](TestRegister&, DataModule& dm) {
             editAsset(dm, u"KLT1001"_s,
                       {{u"WrittenOffBy"_s, u"J. Ferreira"_s},
                        {u"WrittenDownValue"_s, u"12.5"_s},
                        {u"WrittenOffReason"_s, u"Stolen"_s},
                        {u"WrittenOffDate"_s, QDate(2026, 1, 6)},
                        {u"WrittenOff"_s, true}});
         },
         {u"KLT1001 | Written off | WrittenOff: 'False' -> 'True'; WrittenOffDate: '' -> '2026-01-06'; WrittenOffBy: "
          "'' -> 'J. Ferreira'; WrittenOffReason: '' -> 'Stolen'; WrittenDownValue: '' -> '12.5'"_s}},
        {u"second write-off"_s,
         [](TestRegister&, DataModule& dm) {
             editAsset(
                 dm, u"KLT1003"_s,
                 {{u"WrittenOffBy"_s, u"Bo Li"_s}, {u"WrittenOffDate"_s, QDate(2026, 1, 6)}, {u"WrittenOff"_s, true}});
         },
         {u"KLT1003 | Written off again | WrittenOffDate: '2025-06-30' -> '2026-01-06'; WrittenOffBy: 'J. Ferreira' "
          "-> 'Bo Li'"_s}},
        {u"delete"_s,
         [](TestRegister&, DataModule& dm) { openAsset(dm, u"KLT1002"_s).deleteRecord(); },
         {u"KLT1002 | Deleted | ASSETID: 'KLT1002' -> ''; ItemGroup: '1' -> ''; Make: 'Dell' -> ''; itemBorrowed: "
          "'True' -> 'False'; Borrower: 'Ana Ruiz' -> ''; BorrowedOn: '2026-01-02' -> ''"_s}},
        {u"configuration"_s,
         [](TestRegister&, DataModule& dm) {
             saveConfiguration(dm, u"Kelton Community Trust"_s, {{1, u"Notebooks"_s}, {3, u"Chairs"_s}});
         },
         {u"settings | Edited | CompanyName: 'Kelton Trust' -> 'Kelton Community Trust'; DataBasePassword: '(not "
          "shown)' -> '(not shown)'"_s,
          u"group 1 | Edited | Description: 'Laptops' -> 'Notebooks'"_s,
          u"group 3 | Added | GroupNumber: '' -> '3'; Description: '' -> 'Chairs'"_s}},
        {u"import"_s,
         [](TestRegister& reg, DataModule&) { importCsv(reg, "ItemGroup,Make,TotalCost\n1,Canon,99.90\n", false); },
         {u"KLT1004 | Imported | ASSETID: '' -> 'KLT1004'; ItemGroup: '' -> '1'; Make: '' -> 'Canon'; TotalCost: '' "
          "-> '99.9'"_s}},
        // Only the values that change are told; an asset the file leaves as it is gets no entry.
        {u"import --update"_s,
         [](TestRegister& reg, DataModule&) {
             importCsv(reg, "ASSETID,Make,Borrower\nklt1001,Canon,\nKLT1002,Dell,Ana Ruiz\n", true);
         },
         {u"KLT1001 | Updated by import | Make: 'HP' -> 'Canon'"_s}},
        // Another program saved the asset first: its save has its entry, the refused one none.
        {u"an edit refused as stale"_s,
         [](TestRegister& reg, DataModule& dm) {
             Dataset& list = openAsset(dm, u"KLT1001"_s);
             auto other = openDataModule(reg);
             editAsset(*other, u"KLT1001"_s, {{u"Make"_s, u"Acer"_s}});
             list.edit();
             setFields(list, {{u"Make"_s, u"Lenovo"_s}});
             list.post();
         },
         {u"KLT1001 | Edited | Make: 'HP' -> 'Acer'"_s},
         true},
        {u"a configuration rolled back"_s,
         [](TestRegister& reg, DataModule& dm) {
             reg.refuseInserts(u"Groups"_s, u"NEW.GroupNumber = '3'"_s, u"no group 3 here"_s);
             saveConfiguration(dm, u"Kelton Community Trust"_s, {{1, u"Notebooks"_s}, {3, u"Chairs"_s}});
         },
         {},
         true},
        {u"an import refused"_s,
         [](TestRegister& reg, DataModule&) { importCsv(reg, "ItemGroup,Make\n1,Canon\n,Nikon\n", false); },
         {},
         true},
    };
}

// The kinds of tampering with the history or the rows behind the program's back, and what the check says.
struct Tampering {
    QString name;
    QString sql;            // %1 stands for the number of the last entry, %2 for the one before it
    int breaksAt;           // the first entry breaking the chain, counted back from the last (0: none breaks)
    QString finding;        // a text one finding holds
    bool editAfter = false; // the program then edits KLT1002's Make, reading what the SQL left
};

QList<Tampering> tamperings() {
    // A register's own SQL tool would do these; each statement runs as it stands on either engine.
    return {
        {u"nothing"_s, QString(), 0, QString()},
        {u"an entry's new value edited"_s,
         u"UPDATE History SET Changes = replace(Changes, 'Lenovo', 'Acer') "
         "WHERE rowid = %2"_s,
         2, u"the asset 'KLT1001' holds Make 'Lenovo', but its last history entry"_s},
        {u"an entry's author edited"_s, u"UPDATE History SET ChangedBy = 'somebody' WHERE rowid = %2"_s, 2,
         u"breaks the chain"_s},
        {u"an entry removed"_s, u"DELETE FROM History WHERE rowid = %2"_s, 1, u"breaks the chain"_s},
        {u"two entries swapped"_s,
         u"UPDATE History SET rowid = -1 WHERE rowid = %2; UPDATE History SET rowid = %2 WHERE rowid = %1; "
         "UPDATE History SET rowid = %1 WHERE rowid = -1"_s,
         2, u"breaks the chain"_s},
        {u"the last entry removed"_s, u"DELETE FROM History WHERE rowid = %1"_s, 0,
         u"the asset 'KLT1003' holds WrittenOffDate '2026-01-06', but its last history entry"_s},
        {u"an asset's value changed"_s, u"UPDATE assets SET Borrower = 'Eve' WHERE ASSETID = 'KLT1003'"_s, 0,
         u"the asset 'KLT1003' holds Borrower 'Eve', but its last history entry"_s},
        {u"an asset deleted"_s, u"DELETE FROM assets WHERE ASSETID = 'KLT1003'"_s, 0,
         u"the asset 'KLT1003' is not in the register, but its last history entry"_s},
        {u"an asset added"_s, u"INSERT INTO assets (ASSETID, ItemGroup) VALUES ('KLT1009', '1')"_s, 0,
         u"the asset 'KLT1009' is in the register, but no history entry adds it"_s},
        {u"a group renamed"_s, u"UPDATE Groups SET Description = 'Phones' WHERE GroupNumber = '1'"_s, 0,
         u"group 1 holds Description 'Phones'"_s},
        // Changed behind the program's back, then saved by the program over it: the entry's old value is not
        // what the entries before it left.
        {u"an asset's value changed, then edited"_s, u"UPDATE assets SET Make = 'Acer' WHERE ASSETID = 'KLT1002'"_s, 0,
         u"the asset 'KLT1002' held Make 'Dell' after history entry"_s, true},
    };
}

// A test row for each case, named by it, its column holding the case's index.
template <typename Case> void rowPerCase(const char* column, const QList<Case>& cases) {
    QTest::addColumn<int>(column);
    for (int i = 0; i < cases.size(); ++i) {
        QTest::newRow(qPrintable(cases[i].name)) << i;
    }
}

QString expectedUser(TestRegister& reg) {
    if (reg.side().isServer()) {
        return reg.text(u"SELECT current_user"_s);
    }
    const passwd* pw = ::getpwuid(::geteuid());
    return QString::fromLocal8Bit(pw->pw_name) + u'@' + QSysInfo::machineHostName();
}

// Makes reg a register of version 2: no history table, the version mark 2.
void makeVersionTwo(TestRegister& reg) {
    // Version 2 had none of version 3's tables: the history and the stock-takes'.
    reg.exec(u"DROP TABLE History; DROP TABLE StockTakeScans; DROP TABLE StockTakes"_s);
    reg.exec(reg.side().isServer() ? u"UPDATE registerversion SET schema_version = 2"_s : u"PRAGMA user_version = 2"_s);
    reg.side().close();
}

// The register as the opening finds it without bringing it up to date: its version, and whether it has the
// history table.
std::pair<int, bool> versionAndHistoryTable(const TestRegister& reg) {
    Connection c;
    c.openFile(reg.path(), QString::fromLatin1(kDefaultFilePassword), false);
    Statement table(c, c.isServer() ? "SELECT to_regclass('history') IS NOT NULL"
                                    : "SELECT count(*) FROM sqlite_master WHERE name = 'History'");
    table.step();
    return {c.schemaVersion(), table.columnInt64(0) != 0};
}

// The child: opens the register as the program does, bringing it up to date, and says when it starts and ends.
int runUpgrade(const QString& path) {
    QCoreApplication::setApplicationName(u"tst_history"_s);
    std::printf("opening=1\n");
    std::fflush(stdout);
    QElapsedTimer timer;
    timer.start();
    try {
        Connection c;
        c.openFile(path, QString::fromLatin1(kDefaultFilePassword));
    } catch (const VantrelError& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    std::printf("opened=%lld\n", static_cast<long long>(timer.elapsed()));
    std::fflush(stdout);
    return 0;
}

} // namespace

class TestHistory : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }

    void eachChangeWritesItsEntries_data() { rowPerCase("change", changes()); }
    void eachChangeWritesItsEntries() {
        QFETCH(int, change);
        const Change c = changes()[change];
        auto reg = makeRegister();
        const QString user = expectedUser(*reg);
        const long long before = lastEntry(reg->side());
        const QString from = utcNow();
        {
            auto dm = openDataModule(*reg);
            const QString error = errorOf([&] { c.make(*reg, *dm); });
            QVERIFY2(error.isEmpty() != c.refused, qPrintable(error));
        }
        const QString until = utcNow();
        QStringList written;
        for (const HistoryEntry& e : entriesAfter(reg->side(), before)) {
            written << shown(e);
            QCOMPARE(e.who, user);
            QVERIFY2(e.when >= from && e.when <= until, qPrintable(e.when));
        }
        QCOMPARE(written, c.entries);
        const HistoryVerdict verdict = verifyHistory(reg->side());
        QVERIFY2(verdict.whole(), qPrintable(verdict.findings.join(u'\n')));
    }

    // The register's own values and the entries agree from its making on: vnrdb create's settings and groups
    // have theirs, and so does every asset added.
    void aNewRegisterStartsItsHistory() {
        auto reg = makeRegister();
        QStringList written;
        for (const HistoryEntry& e : readHistory(reg->side(), {})) {
            written << shown(e);
        }
        QCOMPARE(written.mid(0, 2),
                 (QStringList{u"settings | Edited | CompanyName: '' -> 'Kelton Trust'; CompanyAbbr: '' -> 'KLT'; "
                              "DataBasePassword: '' -> '(not shown)'; PromptPasswordToStart: 'False' -> 'True'"_s,
                              u"group 1 | Added | GroupNumber: '' -> '1'; Description: '' -> 'Laptops'"_s}));
        QCOMPARE(written.size(), 5);
        // The History window's reading: one asset's entries, newest first, its identifier in any case.
        HistoryFilter one;
        one.asset = u"klt1001"_s;
        one.newestFirst = true;
        auto dm = openDataModule(*reg);
        changes()[2].make(*reg, *dm); // lend
        const std::vector<HistoryEntry> mine = readHistory(reg->side(), one);
        QCOMPARE(mine.size(), size_t(2));
        QCOMPARE(mine[0].action, HistoryAction::Lent);
        QCOMPARE(mine[1].action, HistoryAction::Added);
    }

    void tamperingIsFound_data() { rowPerCase("tampering", tamperings()); }
    void tamperingIsFound() {
        QFETCH(int, tampering);
        const Tampering t = tamperings()[tampering];
        auto reg = makeRegister();
        {
            auto dm = openDataModule(*reg);
            changes()[1].make(*reg, *dm); // the last two entries: KLT1001 edited, then KLT1003 written off again
            changes()[5].make(*reg, *dm);
        }
        const long long last = lastEntry(reg->side());
        if (!t.sql.isEmpty()) {
            reg->exec(
                QString(t.sql).replace(u"%1"_s, QString::number(last)).replace(u"%2"_s, QString::number(last - 1)));
        }
        if (t.editAfter) {
            editAsset(*openDataModule(*reg), u"KLT1002"_s, {{u"Make"_s, u"HP"_s}});
        }
        const HistoryVerdict verdict = verifyHistory(reg->side());
        const QString findings = verdict.findings.join(u'\n');
        QCOMPARE(verdict.firstBreak, t.breaksAt == 0 ? 0 : last - t.breaksAt + 1);
        QCOMPARE(verdict.whole(), t.finding.isEmpty());
        QVERIFY2(findings.contains(t.finding), qPrintable(findings));
    }

    // Opening a register of version 2 brings it up to date in one transaction: the history table, and an entry
    // "History begins" for every row as it stands, from which the check goes on.
    void versionTwoIsBroughtUpToDate() {
        auto reg = makeRegister();
        makeVersionTwo(*reg);
        QCOMPARE(versionAndHistoryTable(*reg), std::make_pair(2, false));
        auto dm = openDataModule(*reg);
        QCOMPARE(dm->ADOConnection1.schemaVersion(), 3);
        QStringList written;
        for (const HistoryEntry& e : readHistory(dm->ADOConnection1, {})) {
            QCOMPARE(e.action, HistoryAction::HistoryBegins);
            written << e.subject;
        }
        QCOMPARE(written, (QStringList{u"settings"_s, u"group 1"_s, u"KLT1001"_s, u"KLT1002"_s, u"KLT1003"_s}));
        changes()[3].make(*reg, *dm); // return
        const HistoryVerdict verdict = verifyHistory(dm->ADOConnection1);
        QVERIFY2(verdict.whole(), qPrintable(verdict.findings.join(u'\n')));
    }

    // The program killed while it brings a register of version 2 up to date: the register opens as version 2
    // without the history table, or as version 3 with its whole first history; never anything between.
    void killedUpgradeLeavesVersionTwoOrThree() {
        auto reg = makeRegister();
        reg->addAssets(u"ASSETID, ItemGroup, Make, Description"_s, 3000, [](int i) {
            return QVariantList{u"KLT2%1"_s.arg(i, 4, 10, QLatin1Char('0')), u"2"_s, u"Make %1"_s.arg(i),
                                u"Item number %1"_s.arg(i)};
        });
        const QTemporaryDir home;
        const auto upgradeOnce = [&](int killAfterMs, bool* finished) {
            makeVersionTwo(*reg);
            QProcess child;
            startChild(child, u"upgrade"_s, {reg->path()}, false, home.path());
            QByteArray out;
            while (!out.contains("opening=1") && child.waitForReadyRead(10000)) {
                out += child.readAllStandardOutput();
            }
            if (killAfterMs >= 0) {
                QThread::msleep(static_cast<unsigned long>(killAfterMs));
                child.kill();
            }
            child.waitForFinished(60000);
            out += child.readAllStandardOutput();
            *finished = out.contains("opened=");
            return out;
        };
        bool finished = false;
        const QByteArray whole = upgradeOnce(-1, &finished);
        QVERIFY2(finished, whole.constData());
        const int upgradeMs = whole.mid(whole.indexOf("opened=") + 7).trimmed().toInt();
        int asTwo = 0;
        int asThree = 0;
        constexpr int kKills = 6;
        for (int k = 0; k < kKills; ++k) {
            // From early in the opening to past its end, so that kills land before and after the commit.
            upgradeOnce(upgradeMs * 3 * (k + 1) / (2 * kKills), &finished);
            const auto [version, table] = versionAndHistoryTable(*reg);
            QVERIFY2((version == 2 && !table) || (version == 3 && table),
                     qPrintable(u"kill %1: version %2, history table %3"_s.arg(k).arg(version).arg(table)));
            if (version == 2) {
                QVERIFY2(!finished, "the upgrade said it was done, and the register is of version 2");
                ++asTwo;
                continue;
            }
            ++asThree;
            Connection c;
            c.openFile(reg->path(), QString::fromLatin1(kDefaultFilePassword));
            const HistoryVerdict verdict = verifyHistory(c);
            QVERIFY2(verdict.whole(), qPrintable(verdict.findings.join(u'\n')));
            QCOMPARE(verdict.entries, 2 + reg->count(u"SELECT count(*) FROM assets"_s));
        }
        qInfo("upgrade of %lld assets: %d ms; %d kills left version 2, %d version 3",
              reg->count(u"SELECT count(*) "
                         "FROM assets"_s),
              upgradeMs, asTwo, asThree);
        QVERIFY2(asTwo > 0, "no kill landed before the upgrade's commit");
    }
};

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (isChildRun() && childScenario() == u"upgrade"_s && argc == 2) {
        return runUpgrade(QString::fromLocal8Bit(argv[1]));
    }
    TestHistory test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_history.moc"
