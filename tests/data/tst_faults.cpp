// Every change the program makes, run with the disk failing at each write, sync and truncation it does:
// the change fails with a text that names the register and says what happened, the dataset still holds
// what the user typed, the file stays sound with every row as before or as after, its history with it (the
// change's entries there exactly when the change is, the chain whole), and once the disk works again the same
// change goes through.
#include "data/assetids.h"
#include "data/datamodule.h"
#include "data/errors.h"
#include "data/history.h"
#include "data/schema.h"
#include "tests/support/faultvfs.h"
#include "tests/support/registercheck.h"
#include "tests/support/testregister.h"

#include <QDate>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QTemporaryDir>
#include <QtTest>
#include <functional>

using namespace Qt::StringLiterals;
using Fault = FaultVfs::Fault;
using Operation = FaultVfs::Operation;

namespace {

// One kind of change, as the program's windows make it. prepare() does everything up to the moment of
// saving (opening, moving, typing); commit() is the saving, run again once the disk works.
struct Change {
    QString name;
    std::function<void(DataModule&)> prepare;
    std::function<void(DataModule&)> commit;
    std::function<Dataset&(DataModule&)> edited; // the dataset holding what the user typed
};

const QString kAsset = u"KLT1150"_s;

void openList(DataModule& dm) {
    dm.setInitialMainStatement();
    dm.mainquery.open();
    QVERIFY(dm.mainquery.locate(u"ASSETID"_s, kAsset));
}

// A new asset's identifier, by the program's own rule.
QString nextIdentifier(DataModule& dm, const QString& group) {
    return nextFreeAssetId(dm.ADOConnection1, dm.SystemTable.fieldByName(u"CompanyAbbr"_s).asString(), group, 0);
}

// The configuration window's OK: the settings and the ten groups saved together.
void saveConfiguration(DataModule& dm) {
    Connection::Transaction t(dm.ADOConnection1);
    Dataset& settings = dm.SystemTable;
    if (settings.state() == Dataset::State::Edit || settings.state() == Dataset::State::Insert) {
        settings.post();
    }
    Dataset& groups = dm.cfgGroupsTable;
    groups.cancel();
    for (int d = 0; d < 10; ++d) {
        const QString digit = QString::number(d);
        if (groups.locate(u"GroupNumber"_s, digit)) {
            groups.edit();
        } else {
            groups.append();
            setFields(groups, {{u"GroupNumber"_s, digit}});
        }
        setFields(groups, {{u"Description"_s, u"Group %1 — renamed"_s.arg(d)}});
        groups.post();
    }
    t.commit();
}

QList<Change> changes() {
    QList<Change> out;
    out << Change{u"post an edit"_s,
                  [](DataModule& dm) {
                      openList(dm);
                      Dataset& list = dm.mainquery;
                      list.edit();
                      setFields(list, {{u"Make"_s, u"Lenovo"_s},
                                       {u"Model"_s, u"T14 Gen 3"_s},
                                       {u"SerialNumber"_s, u"PF-3XK9Q"_s},
                                       {u"Description"_s, u"Laptop — spare, Zürich office"_s},
                                       {u"TotalCost"_s, u"1899.95"_s},
                                       {u"DatePurchased"_s, QDate(2023, 3, 14)},
                                       {u"isElectrical"_s, true}});
                  },
                  [](DataModule& dm) { dm.mainquery.post(); }, [](DataModule& dm) -> Dataset& { return dm.mainquery; }};
    out << Change{u"insert an asset with its identifier"_s,
                  [](DataModule& dm) {
                      openList(dm);
                      Dataset& list = dm.mainquery;
                      list.insert();
                      dm.GroupsTable.close();
                      dm.GroupsTable.open();
                      const QString group = dm.GroupsTable.fieldByName(u"GroupNumber"_s).asString();
                      setFields(list, {{u"ItemGroup"_s, group},
                                       {u"ASSETID"_s, nextIdentifier(dm, group)},
                                       {u"Make"_s, u"Dell"_s},
                                       {u"Description"_s, u"Docking station"_s},
                                       {u"SerialNumber"_s, u"DS-0042"_s},
                                       {u"TotalCost"_s, u"249.5"_s},
                                       {u"DatePurchased"_s, QDate(2024, 2, 29)}});
                  },
                  [](DataModule& dm) { dm.mainquery.post(); }, [](DataModule& dm) -> Dataset& { return dm.mainquery; }};
    out << Change{u"write-off"_s,
                  [](DataModule& dm) {
                      openList(dm);
                      Dataset& list = dm.mainquery;
                      list.edit();
                      setFields(list, {{u"WrittenOffBy"_s, u"J. Ferreira"_s},
                                       {u"WrittenDownValue"_s, u"12.5"_s},
                                       {u"WrittenOffReason"_s, u"Stolen"_s},
                                       {u"WrittenOffDate"_s, QDate::currentDate()},
                                       {u"WrittenOff"_s, true}});
                  },
                  [](DataModule& dm) { dm.mainquery.post(); }, [](DataModule& dm) -> Dataset& { return dm.mainquery; }};
    out << Change{u"delete"_s, [](DataModule& dm) { openList(dm); },
                  [](DataModule& dm) { dm.mainquery.deleteRecord(); },
                  [](DataModule& dm) -> Dataset& { return dm.mainquery; }};
    out << Change{u"configuration OK"_s,
                  [](DataModule& dm) {
                      Dataset& settings = dm.SystemTable;
                      settings.close();
                      settings.open();
                      settings.edit();
                      setFields(settings, {{u"CompanyName"_s, u"Kelton Community Trust"_s},
                                           {u"CompanyAbbr"_s, u"KCT"_s},
                                           {u"DataBasePassword"_s, u"n3w-secret"_s},
                                           {u"PromptPasswordToStart"_s, true}});
                      dm.cfgGroupsTable.close();
                      dm.cfgGroupsTable.open();
                  },
                  saveConfiguration, [](DataModule& dm) -> Dataset& { return dm.SystemTable; }};
    return out;
}

// What the user sees of a dataset: its state, where it stands, and every value of the current record.
struct Shown {
    Dataset::State state;
    int records;
    int current;
    QList<QVariant> values;
    bool operator==(const Shown&) const = default;
};

Shown shown(const Dataset& ds) {
    Shown s{ds.state(), ds.recordCount(), ds.recNo(), {}};
    for (int i = 0; i < ds.fieldCount(); ++i) {
        s.values << ds.value(i);
    }
    return s;
}

QString describe(const Shown& s, const Dataset& ds) {
    QStringList parts{u"state %1, %2 records, at %3"_s.arg(static_cast<int>(s.state)).arg(s.records).arg(s.current)};
    for (int i = 0; i < s.values.size() && i < ds.fieldCount(); ++i) {
        parts << ds.fieldDef(i).name + u"="_s + s.values[i].toString();
    }
    return parts.join(u", "_s);
}

// SQLite's own texts for the failures made here; a message that is only one of these tells the user nothing.
bool isRawEngineText(QString text) {
    static const QStringList raw{u"disk I/O error"_s, u"database or disk is full"_s,
                                 u"database disk image is malformed"_s, u"unable to open database file"_s};
    text = text.trimmed();
    if (const qsizetype colon = text.indexOf(u": "_s); colon > 0 && !text.left(colon).contains(u' ')) {
        text = text.mid(colon + 2); // "mainquery: disk I/O error" is still only the engine's text
    }
    return raw.contains(text, Qt::CaseInsensitive);
}

struct Run {
    QString error;      // the text of the DatabaseError raised, or empty
    QString unexpected; // anything else thrown
    int injected = 0;
};

} // namespace

class TestFaults : public QObject {
    Q_OBJECT

    TestRegister tmpl; // the register every run starts from
    RegisterContents before;
    QMap<QString, RegisterContents> after; // per change, the register when it succeeds
    QMap<QString, int> pointsInjected;     // per fault kind
    int runs = 0;

    // The register every change starts from: settings, three groups (digits 1, 3 and 7, one unnamed) and
    // 300 assets, enough that a change touches pages of the table and of several indexes.
    void seed() {
        tmpl.exec(u"UPDATE System SET CompanyName = 'Kelton Trust', CompanyAbbr = 'KLT', DataBasePassword = "
                  "'secret'"_s);
        tmpl.exec(u"INSERT INTO Groups (GroupNumber, Description) VALUES ('1', 'Laptops'), ('3', 'Chairs'), "
                  "('7', '')"_s);
        tmpl.exec(u"WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 300) "
                  "INSERT INTO assets (ASSETID, ItemGroup, Make, Model, SerialNumber, Description, TotalCost, "
                  "DatePurchased) SELECT 'KLT1' || substr('00' || i, -3), '1', 'Make ' || i, 'Model ' || i, "
                  "'SN-' || (i * 7919), 'Item number ' || i, i * 10.25, '2020-01-' || substr('0' || (i % 28 + 1), "
                  "-2) FROM n"_s);
        tmpl.recordRowsAsTheyAre();
    }

    // A copy of the template register in its own folder.
    QString copyRegister(const QTemporaryDir& dir) {
        const QString path = dir.filePath(u"vnrdata.mdb"_s);
        if (!QFile::copy(tmpl.path(), path)) {
            qFatal("cannot copy the register");
        }
        return path;
    }

    static std::unique_ptr<DataModule> open(const QString& path) {
        auto dm = std::make_unique<DataModule>();
        dm->ADOConnection1.openFile(path, QString::fromLatin1(kDefaultFilePassword));
        dm->GroupsTable.open();
        dm->SystemTable.open();
        return dm;
    }

    static Run commit(const Change& change, DataModule& dm) {
        Run r;
        try {
            change.commit(dm);
        } catch (const DatabaseError& e) {
            r.error = e.text();
        } catch (const std::exception& e) {
            r.unexpected = QString::fromUtf8(e.what());
        }
        return r;
    }

    // The register as a fresh program sees it, opened the way the program opens it, with the number of its
    // history entries; integrity receives integrity_check and what the history's check finds, or why the
    // program refused the file.
    static RegisterContents reopen(const QString& path, QString* integrity) {
        try {
            Connection c;
            c.openFile(path, QString::fromLatin1(kDefaultFilePassword));
            *integrity = integrityCheck(c);
            const HistoryVerdict history = verifyHistory(c);
            if (!history.whole()) {
                *integrity += u"\nhistory: "_s + history.findings.join(u"\n"_s);
            }
            RegisterContents contents = registerContents(c);
            contents.insert(u"History entries"_s, QString::number(history.entries));
            return contents;
        } catch (const DatabaseError& e) {
            *integrity = u"refused at opening: "_s + e.text();
        }
        return {};
    }

private slots:
    void initTestCase() {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        seed();
        QString integrity;
        before = reopen(tmpl.path(), &integrity);
        QCOMPARE(integrity, u"ok"_s);
        // Each change once on a sound disk: what the register holds after it succeeds.
        for (const Change& change : changes()) {
            QTemporaryDir dir;
            const QString path = copyRegister(dir);
            auto dm = open(path);
            change.prepare(*dm);
            const Run r = commit(change, *dm);
            QVERIFY2(r.error.isEmpty() && r.unexpected.isEmpty(), qPrintable(change.name + u": "_s + r.error));
            dm.reset();
            after[change.name] = reopen(path, &integrity);
            QCOMPARE(integrity, u"ok"_s);
            QVERIFY2(after[change.name] != before, qPrintable(change.name));
        }
    }

    void cleanupTestCase() {
        QStringList counts;
        int total = 0;
        for (auto it = pointsInjected.cbegin(); it != pointsInjected.cend(); ++it) {
            counts << u"%1 %2"_s.arg(it.value()).arg(it.key());
            total += it.value();
        }
        qInfo("%d failure points injected in %d runs (%s)", total, runs, qPrintable(counts.join(u", "_s)));
    }

    // Rows: each change with each way the disk can fail, once or from then on. A sync error and a truncate
    // error come together: SQLite truncates only while it rolls back a change that grew the file.
    void everyFailurePointKeepsTheRegisterWhole_data() {
        QTest::addColumn<int>("change");
        QTest::addColumn<int>("fault");
        QTest::addColumn<bool>("persistent");
        const QList<Change> all = changes();
        for (int c = 0; c < all.size(); ++c) {
            for (Fault f : {Fault::WriteError, Fault::DiskFull, Fault::SyncError, Fault::TruncateError}) {
                for (bool persistent : {false, true}) {
                    QTest::addRow("%s, %s %s", qPrintable(all[c].name), qPrintable(FaultVfs::name(f)),
                                  persistent ? "from then on" : "once")
                        << c << static_cast<int>(f) << persistent;
                }
            }
        }
    }

    void everyFailurePointKeepsTheRegisterWhole() {
        QFETCH(int, change);
        QFETCH(int, fault);
        QFETCH(bool, persistent);
        const Change c = changes()[change];
        const auto f = static_cast<Fault>(fault);
        const RegisterContents& expected = after[c.name];
        const QString fileName = QFileInfo(tmpl.path()).fileName();

        // The failure points are found by trying: the n-th operation is failed until a run has no n-th.
        // A truncation only happens after another failure, so it rides on each sync failure in turn.
        const bool riding = f == Fault::TruncateError;
        int points = 0;
        for (int sync = 1; sync <= (riding ? 50 : 1); ++sync) {
            bool syncReached = !riding;
            for (int n = 1; n <= 200; ++n) {
                QTemporaryDir dir;
                const QString path = copyRegister(dir);
                const QString where = u"%1 at operation %2%3"_s.arg(FaultVfs::name(f))
                                          .arg(n)
                                          .arg(riding ? u" after sync error %1"_s.arg(sync) : QString());
                FaultVfs vfs(dir.path());
                Run r;
                Shown typed;
                Shown kept;
                {
                    auto dm = open(path);
                    c.prepare(*dm);
                    Dataset& ds = c.edited(*dm);
                    typed = shown(ds);
                    if (riding) {
                        vfs.arm(Fault::SyncError, sync, false);
                        vfs.armAlso(f, n, persistent);
                    } else {
                        vfs.arm(f, n, persistent);
                    }
                    r = commit(c, *dm);
                    r.injected = vfs.injected();
                    const bool syncFailed = !riding || vfs.count(Operation::Sync) >= sync;
                    const bool reached = vfs.count(FaultVfs::operationOf(f)) >= n;
                    vfs.disarm();
                    ++runs;
                    if (!syncFailed) {
                        break; // no sync left to fail
                    }
                    syncReached = true;
                    if (!reached) {
                        QVERIFY2(r.unexpected.isEmpty(), qPrintable(where + u": "_s + r.unexpected));
                        break; // the change has no n-th operation of this kind: all points are done
                    }
                    ++points;
                    kept = shown(ds);
                    QVERIFY2(r.unexpected.isEmpty(),
                             qPrintable(u"%1: not a DatabaseError: %2"_s.arg(where, r.unexpected)));

                    // What the user sees: a failure explained in plain words that name the register, and
                    // what he typed still there to save again.
                    QString integrity;
                    RegisterContents now = reopen(path, &integrity);
                    QVERIFY2(integrity == u"ok"_s, qPrintable(where + u": integrity_check: "_s + integrity));
                    if (r.error.isEmpty()) {
                        // SQLite may get past a failure on its own; then the change must really be saved.
                        QVERIFY2(now == expected, qPrintable(where + u": reported saved, but differs:\n"_s +
                                                             contentDifferences(now, expected)));
                        continue;
                    }
                    if (points == 1) {
                        qInfo("%s: \"%s\"", qPrintable(where), qPrintable(r.error));
                    }
                    QVERIFY2(r.error.contains(fileName),
                             qPrintable(u"%1: the message does not name %2: %3"_s.arg(where, fileName, r.error)));
                    QVERIFY2(!isRawEngineText(r.error), qPrintable(where + u": only the engine's text: "_s + r.error));
                    QVERIFY2(kept == typed, qPrintable(u"%1: the typed values are lost:\n typed: %2\n  kept: %3"_s.arg(
                                                where, describe(typed, ds), describe(kept, ds))));
                    QVERIFY2(now == before || now == expected,
                             qPrintable(where + u": the register is neither as before nor as after:\n"_s +
                                        contentDifferences(before, now)));

                    // The disk works again: saving once more stores exactly the change.
                    const Run again = commit(c, *dm);
                    QVERIFY2(again.error.isEmpty() && again.unexpected.isEmpty(),
                             qPrintable(where + u": saving again failed: "_s + again.error + again.unexpected));
                }
                QString integrity;
                const RegisterContents last = reopen(path, &integrity);
                QVERIFY2(integrity == u"ok"_s, qPrintable(where + u", saved again: "_s + integrity));
                QVERIFY2(last == expected,
                         qPrintable(where + u": saved again, but differs:\n"_s + contentDifferences(last, expected)));
            }
            if (!syncReached) {
                break;
            }
        }
        pointsInjected[FaultVfs::name(f)] += points;
        // Every change writes and syncs; a failure kind that never fired would test nothing.
        if (f != Fault::TruncateError) {
            QVERIFY2(points > 0, "no failure point was reached");
        }
    }
};

QTEST_GUILESS_MAIN(TestFaults)
#include "tst_faults.moc"
