// The register on a PostgreSQL server: what opening refuses and how it says so, ten programs changing one
// register at once, and registers moved between a file and a server without losing a byte. Runs only on the
// test cluster (VANTREL_TEST_SERVER_FILE, set by CTest for the server label).
#include "data/assetids.h"
#include "data/backup.h"
#include "data/connection.h"
#include "data/datamodule.h"
#include "data/dataset.h"
#include "data/errors.h"
#include "data/registercopy.h"
#include "data/schema.h"
#include "data/server.h"
#include "registertool/assetcsv.h"
#include "registertool/demodata.h"
#include "tests/support/testregister.h"

#include <QBuffer>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>
#include <QUrl>
#include <QtTest>
#include <atomic>
#include <mutex>

using namespace Qt::StringLiterals;

namespace {

// The same address with one query item set (host, user) or the database changed.
QString withItem(const QString& uri, const QString& key, const QString& value) {
    QUrl url(uri);
    QUrlQuery query(url);
    query.removeQueryItem(key);
    query.addQueryItem(key, value);
    url.setQuery(query);
    return url.toString();
}

QString serverOf(const TestRegister& reg) {
    return readServerFile(reg.path());
}

QString exported(const QString& location) {
    QBuffer out;
    out.open(QIODevice::WriteOnly);
    exportAssets(location, out);
    return QString::fromUtf8(out.data());
}

} // namespace

class TestServerEngine : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        if (!testingOnServer()) {
            QSKIP("no test cluster (run through CTest, label server)");
        }
    }

    // A register made before the server notified other clients of changes gets its trigger when the program
    // opens it, so its lists show other clients' saves; opening only to examine it adds nothing.
    void openingAddsTheChangeNotificationToAnOlderRegister() {
        TestRegister reg;
        reg.exec(u"DROP TRIGGER assets_changed ON assets"_s);
        const QString triggers = u"SELECT count(*) FROM pg_trigger WHERE tgname = 'assets_changed'"_s;
        Connection examined;
        examined.openFile(reg.path(), QString::fromLatin1(kDefaultFilePassword), false);
        QCOMPARE(reg.count(triggers), 0);
        Connection c;
        c.openFile(reg.path(), QString::fromLatin1(kDefaultFilePassword));
        QCOMPARE(reg.count(triggers), 1);
        QVERIFY(!c.changedByOthers());
        reg.exec(u"UPDATE assets SET Make = 'theirs'"_s);
        bool told = false; // each notification is told once: QTRY_VERIFY asks again after its loop
        QTRY_VERIFY(told = told || c.changedByOthers());
        QVERIFY(!c.changedByOthers());
    }

    // Each way an opening can fail names what is wrong, and leaves the connection closed.
    void openingSaysWhatIsWrong_data() {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char* name, const QString& change, const QString& expected) {
            QTest::newRow(name) << change << expected;
        };
        row("server unreachable", "host", "cannot be reached");
        row("unknown login", "user", "refused the login 'nosuchlogin'");
        row("no such database", "database", "has no database 'nosuchdatabase'");
        row("database of another program", "empty", "is not a Vantrel register");
        row("newer schema", "newer", "made by a newer version of Vantrel");
        row("changed column type", "column", "is damaged: column 'TotalCost'");
        row("password in the server file", "password", "holds a password");
        row("server file naming nothing", "nothing", "names no server");
        row("register file and server file", "both", "holds both a register file");
    }
    void openingSaysWhatIsWrong() {
        QFETCH(QString, change);
        QFETCH(QString, expected);
        TestRegister reg;
        const QString server = serverOf(reg);
        QString location = reg.path();
        QString empty;
        if (change == "host"_L1) {
            location = withItem(server, u"host"_s, u"/nonexistent-socket-folder"_s);
        } else if (change == "user"_L1) {
            location = withItem(server, u"user"_s, u"nosuchlogin"_s);
        } else if (change == "database"_L1) {
            QUrl url(server);
            url.setPath(u"/nosuchdatabase"_s);
            location = url.toString();
        } else if (change == "empty"_L1) {
            location = empty = makeServerDatabase();
        } else if (change == "newer"_L1) {
            reg.exec(u"UPDATE registerversion SET schema_version = %1"_s.arg(kRegisterSchemaVersion + 1));
        } else if (change == "column"_L1) {
            reg.exec(u"ALTER TABLE assets ALTER COLUMN TotalCost TYPE text"_s);
        } else if (change == "password"_L1 || change == "nothing"_L1) {
            QUrl withPassword(server);
            withPassword.setUserName(u"nobody"_s);
            withPassword.setPassword(u"secret"_s);
            QVERIFY(writeFile(reg.path(), change == "password"_L1 ? withPassword.toString().toUtf8()
                                                                  : QByteArray("# moved for now\n\n")));
        }
        Connection c;
        QString error;
        if (change == "both"_L1) {
            QVERIFY(writeFile(reg.folder() + u"/vnrdata.mdb"_s, "a register file"));
            const QString before = QDir::currentPath();
            QDir::setCurrent(reg.folder());
            error = errorOf([&] { c.open(QString::fromLatin1(kConnectionString)); });
            QDir::setCurrent(before);
        } else {
            error = errorOf([&] { c.openFile(location, QString::fromLatin1(kDefaultFilePassword)); });
        }
        QVERIFY2(error.contains(expected), qPrintable(error));
        QVERIFY(!c.isOpen());
        if (!empty.isEmpty()) {
            dropServerDatabase(empty);
        }
    }

    // Ten programs add, edit and write off assets of one register at once. Every add gets an identifier of
    // its own, no edit overwrites another that it did not see, and every refusal is one of the register's
    // own messages.
    void tenClientsChangeOneRegisterAtOnce() {
        TestRegister reg;
        reg.exec(u"UPDATE System SET CompanyAbbr = 'KLT'"_s);
        reg.addAssets(u"ASSETID, ItemGroup, Make"_s, 20, [](int i) {
            return QVariantList{assetIdFor(u"KLT9"_s, i), u"9"_s, u"start"_s};
        });
        constexpr int kClients = 10;
        constexpr int kRounds = 30;
        std::mutex lock;
        QStringList added;
        QList<QPair<QString, QString>> edits; // "asset|value read" -> value written, for every edit saved
        QStringList refusals;
        std::vector<std::unique_ptr<QThread>> clients;
        for (int client = 0; client < kClients; ++client) {
            clients.emplace_back(QThread::create([&, client] {
                Connection c;
                c.openFile(reg.path(), QString::fromLatin1(kDefaultFilePassword));
                QRandomGenerator random(static_cast<quint32>(1000 + client));
                for (int round = 0; round < kRounds; ++round) {
                    Dataset ds(c, u"mainquery"_s);
                    ds.addSql(u"SELECT * FROM assets WHERE ItemGroup = \"9\" ORDER BY ASSETID"_s);
                    try {
                        ds.open();
                        const int what = random.bounded(3);
                        if (what == 0) {
                            // Counted the way the asset window counts, so programs adding at once collide.
                            const QString id = nextFreeAssetId(c, u"KLT"_s, u"9"_s, ds.recordCount());
                            ds.append();
                            ds.fieldByName(u"ASSETID"_s).setAsString(id);
                            ds.fieldByName(u"ItemGroup"_s).setAsString(u"9"_s);
                            ds.post();
                            std::lock_guard g(lock);
                            added << id;
                        } else {
                            ds.moveTo(random.bounded(20));
                            const QString id = ds.fieldByName(u"ASSETID"_s).asString();
                            const QString read = ds.fieldByName(u"Make"_s).asString();
                            const QString written = u"c%1r%2"_s.arg(client).arg(round);
                            ds.edit();
                            ds.fieldByName(u"Make"_s).setAsString(written);
                            if (what == 2) {
                                ds.fieldByName(u"WrittenOff"_s)
                                    .setAsBoolean(!ds.fieldByName(u"WrittenOff"_s).asBoolean());
                            }
                            ds.post();
                            std::lock_guard g(lock);
                            edits.append({id + u'|' + read, written});
                        }
                    } catch (const DatabaseError& e) {
                        std::lock_guard g(lock);
                        refusals << e.text();
                    }
                }
            }));
        }
        for (auto& t : clients) {
            t->start();
        }
        for (auto& t : clients) {
            QVERIFY(t->wait(120000));
        }
        for (const QString& r : refusals) {
            QVERIFY2(r.contains(u"is already in the register"_s) ||
                         r.contains(u"Row cannot be located for updating"_s) ||
                         r.contains(u"is locked by another program"_s),
                     qPrintable(r));
        }
        QCOMPARE(reg.count(u"SELECT count(*) FROM assets"_s), 20 + added.size());
        QCOMPARE(reg.count(u"SELECT count(DISTINCT lower(ASSETID)) FROM assets"_s), 20 + added.size());
        // Each saved edit started from the value it read, and no value was read by two saved edits: the
        // edits of an asset form one chain from "start" to what it holds now.
        QSet<QString> startsFrom;
        for (const auto& e : edits) {
            QVERIFY2(!startsFrom.contains(e.first), qPrintable(u"two saved edits both started from "_s + e.first));
            startsFrom.insert(e.first);
        }
        for (int i = 1; i <= 20; ++i) {
            const QString id = assetIdFor(u"KLT9"_s, i);
            QString value = u"start"_s;
            for (auto it = edits.cbegin(); it != edits.cend();) {
                if (it->first == id + u'|' + value) {
                    value = it->second;
                    it = edits.cbegin();
                    continue;
                }
                ++it;
            }
            QCOMPARE(reg.text(u"SELECT Make FROM assets WHERE ASSETID = '%1'"_s.arg(id)), value);
        }
        QVERIFY2(edits.size() > kClients, "the clients saved almost nothing: the test proves nothing");
        QVERIFY2(!refusals.isEmpty(), "no client was ever refused: the clients did not meet");
    }

    // Ten imports at once into one group, none giving identifiers: each numbers its assets under the
    // register's writer lock, so every one of them succeeds and no identifier is given twice.
    void tenImportsAtOnceAllSucceed() {
        TestRegister reg;
        reg.exec(u"UPDATE System SET CompanyAbbr = 'KLT'"_s);
        QTemporaryDir dir;
        QFile csv(dir.filePath(u"delivery.csv"_s));
        QVERIFY(csv.open(QIODevice::WriteOnly));
        csv.write("ItemGroup,Make\n");
        for (int i = 1; i <= 20; ++i) {
            csv.write("9,laptop " + QByteArray::number(i) + "\n");
        }
        csv.close();
        std::vector<std::unique_ptr<QProcess>> imports;
        for (int i = 0; i < 10; ++i) {
            imports.push_back(std::make_unique<QProcess>());
            imports.back()->start(QStringLiteral(VNRDB_PATH), {u"import"_s, reg.path(), csv.fileName()});
        }
        for (auto& p : imports) {
            QVERIFY(p->waitForFinished(60000));
            QVERIFY2(p->exitCode() == 0, p->readAllStandardError().constData());
        }
        QCOMPARE(reg.count(u"SELECT count(*) FROM assets"_s), 200);
        QCOMPARE(reg.count(u"SELECT count(DISTINCT lower(ASSETID)) FROM assets"_s), 200);
    }

    // A register goes from a file to a server and back unchanged: every row and value, the row ids, the
    // file password, the assets' export. Checked on the demo register and on one of awkward values.
    void copyRoundTripsExactly_data() {
        QTest::addColumn<bool>("awkward");
        QTest::newRow("demo register") << false;
        QTest::newRow("awkward values") << true;
    }
    void copyRoundTripsExactly() {
        QFETCH(bool, awkward);
        QTemporaryDir dir;
        const QString first = dir.filePath(u"first.mdb"_s);
        const QString back = dir.filePath(u"back.mdb"_s);
        createRegister(first);
        if (awkward) {
            Connection c;
            c.openFile(first, QString::fromLatin1(kDefaultFilePassword));
            c.exec("UPDATE System SET CompanyName = 'Café \"Ümit\" ''Łódź'' 日本 🙂', CompanyAbbr = 'K\\L%_'");
            c.exec("INSERT INTO Groups (GroupNumber, Description) VALUES ('0', ''), ('9', NULL)");
            // Built by appending: GCC 12 at -O3 takes a concatenation of literals around a string for an
            // out-of-bounds copy (-Warray-bounds).
            std::string rows =
                "INSERT INTO assets (ASSETID, ItemGroup, Make, Description, TotalCost, "
                "WrittenDownValue, DatePurchased, LastTestTag, isElectrical, itemBorrowed, WrittenOff, "
                "Borrower) VALUES ('A''1', '9', 'back\\slash % _', 'line\nbreak\ttab\rreturn', 0.1, -2.5e-7, "
                "'0001-01-01', '9999-12-31', 1, 0, 1, NULL), ('a2', '0', '', '";
            rows.append(255, 'x');
            rows.append("', 1e15, 0, NULL, '2024-02-29', 0, 1, 0, 'Ümit'), "
                        "('A3', '9', NULL, NULL, 123456789.125, 1200, NULL, NULL, 0, 0, 0, '')");
            c.exec(rows);
            c.exec("DELETE FROM assets WHERE ASSETID = 'a2'"); // a gap in the row ids
            c.exec("INSERT INTO assets (ASSETID, ItemGroup, TotalCost) VALUES ('A4', '9', 3)");
        } else {
            fillDemoRegister(first, {.assets = 500, .seed = 42});
        }
        const QString uri = makeServerDatabase();
        const RegisterSummary there = copyRegister(first, uri);
        const RegisterSummary home = copyRegister(uri, back);
        QCOMPARE(there, home);
        Connection a;
        a.openFile(first, QString::fromLatin1(kDefaultFilePassword));
        Connection b;
        b.openFile(back, QString::fromLatin1(kDefaultFilePassword));
        Connection s;
        s.openFile(uri, QString::fromLatin1(kDefaultFilePassword));
        QCOMPARE(registerRows(b), registerRows(a));
        QCOMPARE(registerRows(s), registerRows(a));
        QCOMPARE(exported(uri), exported(first));
        QCOMPARE(exported(back), exported(first));
        // The copy is settled: every page is marked visible to all, so the list is read from its index alone.
        QCOMPARE(
            valueOf(s, u"SELECT relallvisible >= relpages FROM pg_class WHERE oid = 'assets'::regclass"_s).toLongLong(),
            1);
        // The server goes on numbering after the copied rows, never giving a copied row id again.
        s.exec("INSERT INTO assets (ASSETID) VALUES ('NEW1')");
        QCOMPARE(valueOf(s, u"SELECT rowid = (SELECT max(rowid) FROM assets) FROM assets WHERE ASSETID = 'NEW1'"_s)
                     .toLongLong(),
                 1);
        // Nothing is copied over a register: a copy to a database that holds one is refused, and so is a copy
        // to an existing file.
        QVERIFY(errorOf([&] { copyRegister(first, uri); }).contains(u"already holds a register"_s));
        QVERIFY(errorOf([&] { copyRegister(uri, back); }).contains(u"already exists"_s));
        // A backup of a server register is a register file.
        const QString backup = dir.filePath(u"backup.mdb"_s);
        s.close();
        backupRegister(uri, backup);
        Connection k;
        k.openFile(backup, QString::fromLatin1(kDefaultFilePassword));
        QCOMPARE(summariseRegister(k).assets, there.assets + 1);
        k.close();
        a.close();
        b.close();
        dropServerDatabase(uri);
    }

    // A copy that cannot be written whole, or reads back otherwise than its source, leaves the database as it was.
    // A value the server cannot hold stops the copy, named with its asset, and nothing is copied.
    void copyThatFailsLeavesNothing_data() {
        QTest::addColumn<QString>("values");
        QTest::addColumn<QString>("named");
        QTest::newRow("a date it cannot read") << u"('A1', '2020-01-01'), ('A2', 'last spring')"_s << u"last spring"_s;
        QTest::newRow("a text holding NUL") << u"('A1', '2020-01-01'), ('A2', 'before' || char(0) || 'after')"_s
                                            << u"The asset 'A2' holds the character NUL in its DatePurchased"_s;
        // Written whole, but read back as the server writes a date: the digests differ.
        QTest::newRow("a date the server writes otherwise")
            << u"('A1', '2020-01-01'), ('A2', '2020-1-1')"_s << u"does not hold what"_s;
    }
    void copyThatFailsLeavesNothing() {
        QFETCH(QString, values);
        QFETCH(QString, named);
        QTemporaryDir dir;
        const QString file = dir.filePath(u"odd.mdb"_s);
        createRegister(file);
        {
            Connection c;
            c.openFile(file, QString::fromLatin1(kDefaultFilePassword));
            c.exec("INSERT INTO assets (ASSETID, DatePurchased) VALUES " + values.toStdString());
        }
        const QString uri = makeServerDatabase();
        const QString error = errorOf([&] { copyRegister(file, uri); });
        QVERIFY2(error.contains(named), qPrintable(error));
        Connection probe;
        probe.connectServer(uri);
        QCOMPARE(valueOf(probe, u"SELECT count(*) FROM pg_tables WHERE schemaname = 'public'"_s).toLongLong(), 0);
        probe.close();
        dropServerDatabase(uri);
    }

    // A connection the server ends (a restart, a network cut) fails the statement with the server's words,
    // and the next one connects again, with the lock wait the program had set.
    void aLostConnectionIsToldAndMadeAgain() {
        TestRegister reg;
        reg.addAsset(u"KLT1001"_s, u"1"_s);
        Connection c;
        c.openFile(reg.path(), QString::fromLatin1(kDefaultFilePassword));
        c.setBusyTimeout(1234);
        const long long backend = valueOf(c, u"SELECT pg_backend_pid()"_s).toLongLong();
        QCOMPARE(reg.count(u"SELECT count(*) FROM pg_stat_activity WHERE pid = %1"_s.arg(backend)), 1);
        reg.exec(u"SELECT pg_terminate_backend(%1, 5000)"_s.arg(backend));
        Dataset ds(c, u"mainquery"_s);
        ds.addSql(u"SELECT * FROM assets"_s);
        const QString error = errorOf([&] { ds.open(); });
        QVERIFY2(error.contains(u"cannot be reached"_s), qPrintable(error));
        ds.open();
        QCOMPARE(ds.recordCount(), 1);
        QCOMPARE(valueOf(c, u"SHOW lock_timeout"_s).toString(), u"1234ms"_s);
    }

    // The register tool on a server: create, check, export, import into another, history, copy and back up.
    void registerToolWorksOnTheServer() {
        const auto vnrdb = [](const QStringList& args, int expectedCode, const QString& expectedOutput) {
            QProcess p;
            p.start(QStringLiteral(VNRDB_PATH), args);
            QVERIFY(p.waitForFinished(60000));
            const QString output = QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError());
            QVERIFY2(p.exitCode() == expectedCode && output.contains(expectedOutput),
                     qPrintable(args.join(u' ') + u" -> "_s + QString::number(p.exitCode()) + u": "_s + output));
        };
        QTemporaryDir dir;
        const QString uri = makeServerDatabase();
        const QString other = makeServerDatabase();
        const QString csv = dir.filePath(u"assets.csv"_s);
        vnrdb({u"create"_s, uri, u"--demo"_s, u"60"_s, u"--seed"_s, u"7"_s}, 0, u"register made with 60 demo assets"_s);
        vnrdb({u"create"_s, uri}, 1, u"already holds a register"_s);
        vnrdb({u"check"_s, uri}, 0, u"ok: 60 assets, schema version 3, 67 history entries, their chain whole"_s);
        vnrdb({u"history"_s, uri, u"--asset"_s, u"klt1001"_s}, 0, u"  KLT1001  Added\n    ASSETID: '' -> 'KLT1001'"_s);
        vnrdb({u"export"_s, uri, u"--to"_s, csv}, 0, u"assets written"_s);
        vnrdb({u"create"_s, other, u"--company"_s, u"Other"_s}, 0, u"register made"_s);
        vnrdb({u"import"_s, other, csv}, 0, u"60 assets imported"_s);
        QCOMPARE(exported(other), exported(uri));
        vnrdb({u"copy"_s, uri, dir.filePath(u"copy.mdb"_s)}, 0,
              u"60 assets, 6 groups, 1 settings records, 67 history entries, 0 stock-takes with 0 scans; digest"_s);
        vnrdb({u"backup"_s, uri, dir.filePath(u"backup.mdb"_s)}, 0, u"copied to"_s);
        vnrdb({u"check"_s, dir.filePath(u"backup.mdb"_s)}, 0, u"ok: 60 assets"_s);
        dropServerDatabase(uri);
        dropServerDatabase(other);
    }

    // The server compares and searches text without regard to case in every alphabet, and takes a pattern's
    // characters as the file does: % and _ as wildcards, a backslash as itself.
    void searchesMatchAsOnTheFile_data() {
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("letter case") << "%müller%" << QStringList{"A1", "A2"};
        QTest::newRow("backslash") << "%a\\b%" << QStringList{"A3"};
        QTest::newRow("underscore") << "x_y%" << QStringList{"A3", "A4"};
        QTest::newRow("percent") << "%50!%%" << QStringList{"A4"};
        QTest::newRow("a keyword in the text") << "% into %" << QStringList{"A4"};
    }
    void searchesMatchAsOnTheFile() {
        QFETCH(QString, pattern);
        QFETCH(QStringList, expected);
        TestRegister reg;
        reg.addAssets(u"ASSETID, Description"_s, 4, [](int i) {
            static const QStringList d{u"Riese & Müller"_s, u"RIESE & MÜLLER"_s, u"a\\b x_y"_s,
                                       u"x_y 50!% into stock"_s};
            return QVariantList{u"A%1"_s.arg(i), i == 3 ? u"x_y a\\b"_s : d[i - 1]};
        });
        Connection c;
        c.openFile(reg.path(), QString::fromLatin1(kDefaultFilePassword));
        Dataset ds(c, u"mainquery"_s);
        openOn(ds, {u"SELECT * FROM Assets WHERE Description LIKE "_s + jetQuote(pattern) + u" ORDER BY ASSETID"_s});
        QCOMPARE(columnTexts(ds, u"ASSETID"_s), expected);
    }
};

QTEST_GUILESS_MAIN(TestServerEngine)
#include "server_engine.moc"
