// The register tool as a user runs it: what it prints and its exit codes.
#include "data/connection.h"
#include "data/history.h"
#include "data/schema.h"
#include "data/stocktake.h"
#include "registertool/demodata.h"
#include "tests/support/labelreading.h"
#include "tests/support/registercheck.h"
#include "tests/support/stockassets.h"
#include "tests/support/testregister.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>
#include <atomic>
#include <chrono>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

struct Run {
    int code;
    QString out; // standard output
    QString err; // standard error
};

Run vnrdb(const QStringList& args) {
    QProcess p;
    p.start(QStringLiteral(VNRDB_PATH), args);
    p.waitForFinished(60000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

// The most memory a vnrdb run held at once (its peak resident set), in kilobytes; -1 when it failed.
long peakKilobytes(const QStringList& args) {
    std::vector<QByteArray> texts{QByteArrayLiteral(VNRDB_PATH)};
    for (const QString& a : args) {
        texts.push_back(a.toLocal8Bit());
    }
    std::vector<char*> argv;
    for (QByteArray& t : texts) {
        argv.push_back(t.data());
    }
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (pid < 0 || wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return -1;
    }
    return usage.ru_maxrss;
}

// Writes bytes as folder/in.csv; its path.
QString writeCsv(const QString& folder, const QByteArray& bytes) {
    const QString path = folder + QStringLiteral("/in.csv");
    if (!writeFile(path, bytes)) {
        qFatal("cannot write %s", qPrintable(path));
    }
    return path;
}

RegisterContents contentsOf(const QString& path) {
    Connection c;
    c.openFile(path, QString::fromLatin1(kDefaultFilePassword), false);
    return registerContents(c);
}

} // namespace

class TestVnrdb : public QObject {
    Q_OBJECT

private slots:
    void checkTellsSoundFromDamaged() {
        TestRegister reg;
        reg.addAsset(QStringLiteral("KLT1001"), QStringLiteral("1"));
        reg.addAsset(QStringLiteral("KLT1002"), QStringLiteral("1"));
        const long long root = reg.count(QStringLiteral("SELECT rootpage FROM sqlite_master WHERE name = 'assets'"));
        reg.side().close();
        Run sound = vnrdb({QStringLiteral("check"), reg.path()});
        QCOMPARE(sound.code, 0);
        QVERIFY2(sound.out.contains(QLatin1String(": ok: 2 assets, schema version 3, 2 history entries, their chain "
                                                  "whole")),
                 qPrintable(sound.out));

        // An older register is reported, not brought up to date: check writes nothing.
        reg.exec(QStringLiteral("PRAGMA user_version = 1"));
        reg.side().close();
        Run older = vnrdb({QStringLiteral("check"), reg.path()});
        QCOMPARE(older.code, 0);
        QVERIFY2(older.out.contains(QLatin1String("schema version 1; the program brings it up")),
                 qPrintable(older.out));
        {
            Connection c;
            c.openFile(reg.path(), QString::fromLatin1(kDefaultFilePassword), false);
            QCOMPARE(c.schemaVersion(), 1);
        }

        damagePage(reg.path(), root, 8, 200);
        Run damaged = vnrdb({QStringLiteral("check"), reg.path()});
        QCOMPARE(damaged.code, 1);
        QVERIFY2(damaged.out.contains(reg.path()) && damaged.out.contains(QLatin1String("damaged")),
                 qPrintable(damaged.out));

        // What stands at the path is said once; a folder or no file is not a damaged register.
        for (const auto& [path, says] : {std::pair{reg.folder(), "is a folder, not a register file"},
                                         std::pair{reg.folder() + QStringLiteral("/none.mdb"), "does not exist"},
                                         std::pair{writeCsv(reg.folder(), "a,b\n"), "is not a Vantrel register"}}) {
            const Run refused = vnrdb({QStringLiteral("check"), path});
            QCOMPARE(refused.code, 1);
            QVERIFY2(refused.out.count(QLatin1Char('\n')) == 1 && refused.out.contains(QLatin1String(says)),
                     qPrintable(refused.out));
        }
    }

    void helpAndUsageErrors_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("usage"); // the usage line printed: on standard output for --help, else on error
        const QString f = QStringLiteral("x.mdb");
        for (const char* command :
             {"create", "check", "export", "import", "backup", "labels", "history", "stocktake"}) {
            const QString c = QLatin1String(command);
            QTest::addRow("%s --help", command)
                << QStringList{c, f, QStringLiteral("--help")} << 0 << QStringLiteral("usage: vnrdb %1 FILE").arg(c);
            QTest::addRow("%s without a file", command)
                << QStringList{c} << 2 << QStringLiteral("usage: vnrdb %1 FILE").arg(c);
            QTest::addRow("%s with an unknown option", command)
                << QStringList{c, f, QStringLiteral("y"), QStringLiteral("--frobnicate")} << 2
                << QStringLiteral("usage: vnrdb %1 FILE").arg(c);
        }
        QTest::newRow("create --demo without N") << QStringList{QStringLiteral("create"), f, QStringLiteral("--demo")}
                                                 << 2 << QStringLiteral("usage: vnrdb create");
        QTest::newRow("create --group without =")
            << QStringList{QStringLiteral("create"), f, QStringLiteral("--group"), QStringLiteral("3")} << 2
            << QStringLiteral("usage: vnrdb create");
        QTest::newRow("import without IN.csv")
            << QStringList{QStringLiteral("import"), f} << 2 << QStringLiteral("usage: vnrdb import");
        QTest::newRow("backup without DEST")
            << QStringList{QStringLiteral("backup"), f} << 2 << QStringLiteral("usage: vnrdb backup");
        QTest::newRow("history --since not a date")
            << QStringList{QStringLiteral("history"), f, QStringLiteral("--since"), QStringLiteral("last week")} << 2
            << QStringLiteral("vnrdb: --since last week: not a date");
        QTest::newRow("stocktake show without NAME")
            << QStringList{QStringLiteral("stocktake"), f, QStringLiteral("show")} << 2
            << QStringLiteral("usage: vnrdb stocktake");
        QTest::newRow("stocktake show with two lists")
            << QStringList{QStringLiteral("stocktake"), f,
                           QStringLiteral("show"),      QStringLiteral("x"),
                           QStringLiteral("--missing"), QStringLiteral("--found")}
            << 2 << QStringLiteral("usage: vnrdb stocktake");
        QTest::newRow("export --to without OUT") << QStringList{QStringLiteral("export"), f, QStringLiteral("--to")}
                                                 << 2 << QStringLiteral("usage: vnrdb export");
        QTest::newRow("unknown command") << QStringList{QStringLiteral("frobnicate")} << 2
                                         << QStringLiteral("usage: vnrdb create|check|export|import|backup");
        QTest::newRow("no command") << QStringList() << 2 << QStringLiteral("usage: vnrdb create|check");
        QTest::newRow("--help") << QStringList{QStringLiteral("--help")} << 0
                                << QStringLiteral("usage: vnrdb create|check|export|import|backup");
        QTest::newRow("--version") << QStringList{QStringLiteral("--version")} << 0
                                   << QStringLiteral("vnrdb " VANTREL_VERSION "\n");
        QTest::newRow("--version with more")
            << QStringList{QStringLiteral("--version"), f} << 2 << QStringLiteral("usage: vnrdb create|check");
    }
    void helpAndUsageErrors() {
        QFETCH(QStringList, args);
        QFETCH(int, code);
        QFETCH(QString, usage);
        QTemporaryDir dir;
        const QString folder = QDir::currentPath();
        QVERIFY(QDir::setCurrent(dir.path()));
        const Run run = vnrdb(args);
        QDir::setCurrent(folder);
        QCOMPARE(run.code, code);
        QVERIFY2((code == 0 ? run.out : run.err).startsWith(usage), qPrintable(run.out + run.err));
        QCOMPARE(filesIn(dir.path()), QStringList());
    }

    void createStoresSettings_data() {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("system"); // CompanyName|CompanyAbbr|DataBasePassword|PromptPasswordToStart
        QTest::addColumn<QString>("groups"); // GroupNumber=Description, by number
        QTest::addColumn<QString>("refusal");
        const QString longest(255, u'n');
        QTest::newRow("every setting") << QStringList{"--company",  "Łódź & Co", "--abbreviation", "LC",
                                                      "--password", "Secret",    "--group",        "0=Spare",
                                                      "--group",    "1=Laptops", "--group",        "9=Vans, small"}
                                       << QStringLiteral("Łódź & Co|LC|Secret|1")
                                       << QStringLiteral("0=Spare;1=Laptops;9=Vans, small") << QString();
        QTest::newRow("demo with a password: asked at start")
            << QStringList{"--demo", "2", "--password", "Secret"} << QStringLiteral("Kelvin Lane Trust|KLT|Secret|1")
            << QStringLiteral("1=Computers;2=Office Furniture;3=Kitchen Appliances;4=Audio Visual;5=Tools;6=Vehicles")
            << QString();
        QTest::newRow("no password: not asked at start")
            << QStringList{"--company", longest} << longest + QStringLiteral("|||0") << QString() << QString();
        QTest::newRow("group 10") << QStringList{"--group", "10=Spare"} << QString() << QString()
                                  << QStringLiteral("group 10: groups are numbered 0 to 9");
        QTest::newRow("group named twice") << QStringList{"--group", "3=A", "--group", "3=B"} << QString() << QString()
                                           << QStringLiteral("group 3: named twice");
        QTest::newRow("256-character company") << QStringList{"--company", longest + u'n'} << QString() << QString()
                                               << QStringLiteral("company: the company name has 256 characters");
        QTest::newRow("abbreviation leaving no room for an identifier")
            << QStringList{"--abbreviation", QString(252, u'A')} << QString() << QString()
            << QStringLiteral("abbreviation: the abbreviation has 252 characters; it holds at most 251");
        QTest::newRow("line break in a group name") << QStringList{"--group", "2=Two\nlines"} << QString() << QString()
                                                    << QStringLiteral("group 2: the group name holds a line break");
    }
    void createStoresSettings() {
        QFETCH(QStringList, options);
        QFETCH(QString, system);
        QFETCH(QString, groups);
        QFETCH(QString, refusal);
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("new.mdb"));
        const Run run = vnrdb(QStringList{QStringLiteral("create"), file} + options);
        if (!refusal.isEmpty()) {
            QCOMPARE(run.code, 1);
            QVERIFY2(run.err.contains(refusal), qPrintable(run.err));
            QCOMPARE(filesIn(dir.path()), QStringList());
            return;
        }
        QCOMPARE(run.code, 0);
        QCOMPARE(filesIn(dir.path()), QStringList{QStringLiteral("new.mdb")});
        Connection c;
        c.openFile(file, QString::fromLatin1(kDefaultFilePassword));
        QCOMPARE(valueOf(c, QStringLiteral("SELECT CompanyName || '|' || CompanyAbbr || '|' || DataBasePassword || "
                                           "'|' || PromptPasswordToStart || '|' || count(*) FROM System"))
                     .toString(),
                 system + QStringLiteral("|1"));
        QCOMPARE(valueOf(c, QStringLiteral("SELECT group_concat(GroupNumber || '=' || Description, ';') FROM "
                                           "(SELECT * FROM Groups ORDER BY GroupNumber)"))
                     .toString(),
                 groups);
        // An existing file is never written over.
        const Run again = vnrdb({QStringLiteral("create"), file});
        QCOMPARE(again.code, 1);
        QCOMPARE(contentsOf(file), registerContents(c));
    }

    void importRefusesBadInput_data() {
        QTest::addColumn<QByteArray>("csv");
        QTest::addColumn<bool>("dryRun");
        QTest::addColumn<QStringList>("messages"); // every line expected on standard error but a refusal's last
        QTest::addColumn<int>("added");
        QTest::addColumn<QString>("summary"); // the end of the line printed when accepted; empty: refused
        const auto row = [](const char* name, const QByteArray& csv, bool dryRun, const QStringList& messages,
                            int added, const QString& summary) {
            QTest::newRow(name) << csv << dryRun << messages << added << summary;
        };
        // Refused, with the lines said before the last.
        const auto refused = [&row](const char* name, const QByteArray& csv, const QStringList& messages) {
            row(name, csv, false, messages, 0, QString());
        };
        const QByteArray longest(256, 'x');
        refused("unknown column", "ItemGroup,ASSETID,Colour\r\n1,X1,red\r\n",
                {"line 1, Colour: assets has no such column"});
        refused("repeated column", "ItemGroup,Make,ASSETID,make\r\n1,A,X1,B\r\n",
                {"line 1, make: the column is named twice (fields 2 and 4)"});
        refused("bad date", "ItemGroup,ASSETID,DatePurchased\r\n1,X1,2023-02-29\r\n",
                {"line 2, DatePurchased: '2023-02-29' is not a valid date"});
        refused("date in a locale's form", "ItemGroup,ASSETID,DatePurchased\r\n1,X1,3/4/2024\r\n",
                {"line 2, DatePurchased: '3/4/2024' is not a valid date"});
        refused("bad number", "ItemGroup,ASSETID,TotalCost\r\n1,X1,\"12,50\"\r\n",
                {"line 2, TotalCost: '12,50' is not a valid amount: write it as 12.50"});
        refused("amount too large", "ItemGroup,ASSETID,TotalCost\r\n1,X1,1000000000000\r\n",
                {"line 2, TotalCost: '1000000000000' is not a valid amount"});
        refused("bad yes/no", "ItemGroup,ASSETID,isElectrical\r\n1,X1,yes\r\n",
                {"line 2, isElectrical: 'yes' is not a valid boolean value"});
        refused("256-character text", "ItemGroup,ASSETID,Make\r\n1,X1," + longest + "\r\n",
                {"line 2, Make: a text holds at most 255 characters; this one has 256"});
        refused("text holding NUL", QByteArray("ItemGroup,ASSETID,Make\r\n1,X1,before\0after\r\n", 43),
                {"line 2, Make: the text holds the character NUL, which a register does not store (a server "
                 "would cut the text there)"});
        refused("duplicate id in the file", "ItemGroup,ASSETID\r\n1,X1\r\n1,x1\r\n",
                {"line 3, ASSETID: 'x1' is the identifier of line 2 too"});
        refused("id in the register in another case", "ItemGroup,ASSETID\r\n1,klt1001\r\n",
                {"line 2, ASSETID: 'klt1001' is already in the register (as 'KLT1001')"});
        refused("unterminated quote", "ItemGroup,ASSETID,Make\r\n1,X1,\"open\r\n1,X2,B\r\n",
                {"line 2: the quoted field 3 is not closed before the end of the file"});
        refused("text after a closing quote", "ItemGroup,ASSETID,Make\r\n1,X1,\"a\"b\r\n1,X2,B\r\n",
                {"line 2: text follows the closing quote of field 3"});
        refused("wrong field count", "ItemGroup,ASSETID,Make\r\n1,X1\r\n1,X2,B,C\r\n",
                {"line 2: 2 fields where the header has 3", "line 3: 4 fields where the header has 3"});
        // Two exports joined into one file: the second header row is no asset.
        refused("header row again", "ItemGroup,ASSETID,Make\r\n1,X1,A\r\nItemGroup,ASSETID,Make\r\n1,X2,B\r\n",
                {"line 3: the header row again"});
        refused("header row again, other case, blanks and byte order mark",
                "ItemGroup,ASSETID,Make\n1,X1,A\n\xEF\xBB\xBF itemgroup, assetid ,MAKE\n",
                {"line 3: the header row again"});
        refused("not UTF-8", "ItemGroup,ASSETID,Make\r\n1,X1,Caf\xe9\r\n", {"line 2: the text is not UTF-8"});
        // Line numbers count the lines a record spans, with LF, CR LF and CR line ends alike.
        refused("problems after multi-line records",
                "ItemGroup,ASSETID,Description,DatePurchased\n1,X1,\"two\nlines\",2024-01-01\r\n"
                "1,X2,\"a\rb\r\nc\",soon\n1,X3,,2024-13-01\n",
                {"line 4, DatePurchased: 'soon' is not a valid date",
                 "line 7, DatePurchased: '2024-13-01' is not a valid date"});
        // Rows a spreadsheet leaves below its data are no assets; an asset without a group is refused.
        row("blank rows", "ItemGroup,ASSETID,make\r\n1,X1,A\r\n,,\r\n , ,\"\"\r\n,,,\r\n", false, {}, 1,
            QStringLiteral(": 1 assets imported; 3 blank rows skipped"));
        refused("empty group", "ItemGroup,ASSETID,Make\r\n1,X1,A\r\n ,X2,B\r\n,,C\r\n",
                {"line 3, ItemGroup: ", "line 4, ItemGroup: "});
        refused("no group column", "ASSETID,Make\r\nX1,A\r\nX2,B\r\n", {"line 2, ItemGroup: ", "line 3, ItemGroup: "});
        // A spreadsheet in a locale with a decimal comma separates fields by semicolons; one may use tabs.
        const QString semicolons = QStringLiteral("vnrdb: the file's fields are separated by semicolons; read as such");
        row("semicolons", "\"ItemGroup\";ASSETID;Make;TotalCost\r\n1;X1;\"A\";12.5\r\n", false, {semicolons}, 1,
            QStringLiteral(": 1 assets imported"));
        row("tabs", "ItemGroup\tASSETID\tMake\n1\tX1\tA\n", false,
            {"vnrdb: the file's fields are separated by tabs; read as such"}, 1, QStringLiteral(": 1 assets imported"));
        refused("semicolons, decimal comma and day-first date",
                "ItemGroup;ASSETID;TotalCost;DatePurchased;Colour\r\n1;X1;12,50;03/04/2024;red\r\n",
                {semicolons, "line 1, Colour: assets has no such column",
                 "line 2, TotalCost: '12,50' is not a valid amount: write it as 12.50",
                 "line 2, DatePurchased: '03/04/2024' is not a valid date: write it as 2024-04-03 "
                 "(yyyy-mm-dd)"});
        row("byte order mark",
            "\xEF\xBB\xBF"
            "itemgroup,ASSETID,make\n1,X1,A\n",
            false, {}, 1, QStringLiteral(": 1 assets imported"));
        row("dry run", "ItemGroup,ASSETID,Make\r\n1,X1,A\r\n,,\r\n1,X2,B\r\n", true, {}, 0,
            QStringLiteral(": 2 assets checked; 1 blank rows skipped; nothing written (--dry-run)"));
    }
    void importRefusesBadInput() {
        QFETCH(QByteArray, csv);
        QFETCH(bool, dryRun);
        QFETCH(QStringList, messages);
        QFETCH(int, added);
        QFETCH(QString, summary);
        TestRegister reg;
        reg.addAsset(QStringLiteral("KLT1001"), QStringLiteral("1"));
        const RegisterContents before = registerContents(reg.side());
        const QString in = writeCsv(reg.folder(), csv);
        QStringList args{QStringLiteral("import"), reg.path(), in};
        if (dryRun) {
            args << QStringLiteral("--dry-run");
        }
        const Run run = vnrdb(args);
        QStringList lines = run.err.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        if (!summary.isEmpty()) {
            QCOMPARE(run.code, 0);
            QVERIFY2(run.out.trimmed().endsWith(summary), qPrintable(run.out));
            QCOMPARE(reg.count(QStringLiteral("SELECT count(*) FROM assets")), 1 + added);
            if (added) {
                QCOMPARE(reg.text(QStringLiteral("SELECT ASSETID || Make FROM assets WHERE rowid = 2")),
                         QStringLiteral("X1A"));
            }
        } else {
            QCOMPARE(run.code, 1);
            QVERIFY2(!lines.isEmpty() && lines.takeLast().startsWith(QLatin1String("vnrdb: ")), qPrintable(run.err));
        }
        QVERIFY2(lines.size() == messages.size(), qPrintable(run.err));
        for (int i = 0; i < messages.size(); ++i) {
            QVERIFY2(lines[i].startsWith(messages[i]), qPrintable(run.err));
        }
        if (dryRun || summary.isEmpty()) {
            QCOMPARE(registerContents(reg.side()), before);
        }
    }

    // An import reads its file a block at a time: checking 120,000 records takes no more memory than checking
    // 30,000, once its blocks and caches are full (every record once held took about 1.5 kB, and the file itself
    // three times its length).
    void importMemoryDoesNotGrowWithTheFile() {
#if defined(__SANITIZE_ADDRESS__)
        QSKIP("the address sanitizer keeps freed memory in quarantine, so a peak resident set tells nothing here");
#endif
        TestRegister reg;
        const auto peakFor = [&](int records) {
            QByteArray csv = "ItemGroup,Make,Model,SerialNumber,Description,Supplier,PurchasedBy,Location\n";
            for (int i = 0; i < records; ++i) {
                csv += "1,Maker " + QByteArray::number(i % 97) + ",Model " + QByteArray::number(i) + ",SN-" +
                       QByteArray::number(i * 7919) + ",A description of record " + QByteArray::number(i) +
                       ",Supplier,Someone Who Bought It,Room " + QByteArray::number(i % 300) + "\n";
            }
            return peakKilobytes({u"import"_s, reg.path(), writeCsv(reg.folder(), csv), u"--dry-run"_s});
        };
        const long small = peakFor(30000);
        const long large = peakFor(120000);
        QVERIFY(small > 0 && large > 0);
        QVERIFY2(large - small < 16 * 1024,
                 qPrintable(u"%1 kB for 30,000 records, %2 kB for 120,000"_s.arg(small).arg(large)));
    }

    // import --update changes the columns the file gives of the assets it names, and adds the rest; without
    // it an identifier already held is refused; a dry run lists each value that would change; one refused
    // value refuses the whole file; the same file imported twice changes nothing the second time.
    void importUpdateChangesOnlyTheColumnsGiven_data() {
        QTest::addColumn<QByteArray>("csv");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("said");       // a line of standard output or error
        QTest::addColumn<QString>("afterwards"); // Make/Model of KLT1001, Make of KLT1002, assets held
        QTest::newRow("makes of two assets")
            << QByteArray("ASSETID,Make\r\nklt1001,HP\r\nKLT1002,Dell\r\n") << QStringList{u"--update"_s} << 0
            << u"0 assets imported, 2 updated"_s << u"HP/M1 Dell 2"_s;
        QTest::newRow("one updated, one added")
            << QByteArray("ASSETID,ItemGroup,Make\r\nKLT1001,1,HP\r\n,1,New\r\n") << QStringList{u"--update"_s} << 0
            << u"1 assets imported, 1 updated"_s << u"HP/M1 B 3"_s;
        QTest::newRow("held identifier without --update")
            << QByteArray("ASSETID,Make\r\nKLT1001,HP\r\n") << QStringList{} << 1
            << u"line 2, ASSETID: 'KLT1001' is already in the register (as 'KLT1001')"_s << u"A/M1 B 2"_s;
        QTest::newRow("dry run lists the changes")
            << QByteArray("ASSETID,Make\r\nKLT1001,HP\r\nKLT1002,B\r\n") << QStringList{u"--update"_s, u"--dry-run"_s}
            << 0 << u"KLT1001, Make: 'A' -> 'HP'"_s << u"A/M1 B 2"_s;
        QTest::newRow("one refused value, nothing changed")
            << QByteArray("ASSETID,Make,TotalCost\r\nKLT1001,HP,1\r\nKLT1002,X,abc\r\n") << QStringList{u"--update"_s}
            << 1 << u"line 3, TotalCost: 'abc' is not a valid"_s << u"A/M1 B 2"_s;
    }
    void importUpdateChangesOnlyTheColumnsGiven() {
        QFETCH(QByteArray, csv);
        QFETCH(QStringList, options);
        QFETCH(int, code);
        QFETCH(QString, said);
        QFETCH(QString, afterwards);
        TestRegister reg;
        reg.exec(u"UPDATE System SET CompanyAbbr = 'KLT'"_s);
        reg.addAsset(u"KLT1001"_s, u"1"_s, u"Make, Model"_s, u"'A', 'M1'"_s);
        reg.addAsset(u"KLT1002"_s, u"1"_s, u"Make"_s, u"'B'"_s);
        const QString in = writeCsv(reg.folder(), csv);
        const Run run = vnrdb(QStringList{u"import"_s, reg.path(), in} + options);
        QCOMPARE(run.code, code);
        QVERIFY2((run.out + run.err).contains(said), qPrintable(run.out + run.err));
        const QString held = reg.text(u"SELECT Make || '/' || Model FROM assets WHERE ASSETID = 'KLT1001'"_s) + u' ' +
                             reg.text(u"SELECT Make FROM assets WHERE ASSETID = 'KLT1002'"_s) + u' ' +
                             QString::number(reg.count(u"SELECT count(*) FROM assets"_s));
        QCOMPARE(held, afterwards);
        if (code == 0 && !options.contains(u"--dry-run"_s) && !csv.contains(",1,New")) {
            const QString once = vnrdb({u"export"_s, reg.path()}).out;
            QCOMPARE(vnrdb(QStringList{u"import"_s, reg.path(), in} + options).code, 0);
            QCOMPARE(vnrdb({u"export"_s, reg.path()}).out, once);
        }
    }

    // What was saved, by whom and when, as the history holds it: one asset's, since a time, or as CSV; a copy and
    // a backup carry it whole.
    void historyPrintsTheEntries_data() {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("printed"); // the lines, without the time and the user
        const QString all = u"1 settings Edited|CompanyName: '' -> 'Kelton Trust'|CompanyAbbr: '' -> 'KLT'|"
                            "2 KLT1001 Imported|ASSETID: '' -> 'KLT1001'|ItemGroup: '' -> '1'|Make: '' -> 'HP'|"
                            "3 KLT1002 Imported|ASSETID: '' -> 'KLT1002'|ItemGroup: '' -> '1'|Make: '' -> '=Dell'|"
                            "4 KLT1001 Updated by import|Make: 'HP' -> 'Can\\non'"_s;
        QTest::newRow("all") << QStringList() << all;
        QTest::newRow("since yesterday") << QStringList{u"--since"_s,
                                                        QDate::currentDate().addDays(-1).toString(Qt::ISODate)}
                                         << all;
        QTest::newRow("one asset, in any letter case")
            << QStringList{u"--asset"_s, u"klt1001"_s}
            << u"2 KLT1001 Imported|ASSETID: '' -> 'KLT1001'|ItemGroup: '' -> '1'|Make: '' -> 'HP'|"
               "4 KLT1001 Updated by import|Make: 'HP' -> 'Can\\non'"_s;
        QTest::newRow("since tomorrow") << QStringList{u"--since"_s,
                                                       QDate::currentDate().addDays(1).toString(Qt::ISODate)}
                                        << QString();
        QTest::newRow("as CSV")
            << QStringList{u"--asset"_s, u"KLT1002"_s, u"--csv"_s}
            << u"Entry,When,Who,Table,Subject,Action,Column,Before,After|3,assets,KLT1002,Imported,ASSETID,,KLT1002|"
               "3,assets,KLT1002,Imported,ItemGroup,,1|3,assets,KLT1002,Imported,Make,,'=Dell"_s;
    }
    void historyPrintsTheEntries() {
        QFETCH(QStringList, options);
        QFETCH(QString, printed);
        QTemporaryDir dir;
        const QString file = dir.filePath(u"r.mdb"_s);
        QCOMPARE(vnrdb({u"create"_s, file, u"--company"_s, u"Kelton Trust"_s, u"--abbreviation"_s, u"KLT"_s}).code, 0);
        QCOMPARE(vnrdb({u"import"_s, file, writeCsv(dir.path(), "ItemGroup,Make\n1,HP\n1,'=Dell\n")}).code, 0);
        QCOMPARE(
            vnrdb({u"import"_s, file, writeCsv(dir.path(), "ASSETID,Make\nKLT1001,\"Can\non\"\n"), u"--update"_s}).code,
            0);
        const Run run = vnrdb(QStringList{u"history"_s, file} + options);
        QCOMPARE(run.code, 0);
        // The time and the user vary: each line is compared without them.
        QStringList lines = run.out.split(u'\n', Qt::SkipEmptyParts);
        for (QString& line : lines) {
            line.remove(QRegularExpression(u"  \\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d UTC  [^ ]+ "_s));
            line.remove(QRegularExpression(u",\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d,[^,]+"_s));
            line = line.simplified();
        }
        QCOMPARE(lines.join(u'|'), printed);

        // A backup and a copy carry the history as it is; a register of version 2 has none to print yet.
        const Run all = vnrdb({u"history"_s, file});
        for (const char* command : {"backup", "copy"}) {
            const QString copy = dir.filePath(QLatin1String(command) + u".mdb"_s);
            QCOMPARE(vnrdb({QLatin1String(command), file, copy}).code, 0);
            QCOMPARE(vnrdb({u"history"_s, copy}).out, all.out);
            QCOMPARE(vnrdb({u"check"_s, copy}).code, 0);
        }
        {
            Connection c;
            c.openFile(file, QString::fromLatin1(kDefaultFilePassword));
            c.exec("DROP TABLE History; PRAGMA user_version = 2");
        }
        const Run older = vnrdb({u"history"_s, file});
        QCOMPARE(older.code, 0);
        QCOMPARE(older.out, QString());
        QVERIFY2(older.err.contains(u"schema version 2 and keeps no history yet"_s), qPrintable(older.err));
    }

    // A stock-take's counts and lists as text and as CSV, whose texts a spreadsheet would run as formulas are marked.
    void stockTakePrintsItsLists_data() {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("printed"); // the lines, without the times and the users
        QTest::newRow("list")
            << QStringList{u"list"_s}
            << u"Name\tState\tLocation\tGroups\tStartedUTC\tStartedBy\tClosedUTC\tClosedBy\tExpected\t"
               "Found\tElsewhere\tWrittenOff\tNotExpected\tUnknown\tRepeats|"
               "Room 4 count\topen\tRoom 4\t1\t\t\t4\t2\t1\t1\t1\t3\t1"_s;
        QTest::newRow("counts, the name in any letter case")
            << QStringList{u"show"_s, u"room 4 COUNT"_s}
            << u"Room 4 count: Room 4, groups 1; open|What\tCount|expected\t4|found\t2|missing\t2|recorded "
               "elsewhere\t1|written off\t1|not expected\t1|unknown\t3|scanned again\t1"_s;
        QTest::newRow("missing") << QStringList{u"show"_s, u"Room 4 count"_s, u"--missing"_s}
                                 << u"ASSETID\tDescription\tMake\tModel\tSerialNumber\tItemGroup\tLocation|"
                                    "KLT1006\tItem\\t6\\nnext\t\t\t\t1\tRoom 4|SŁ1008\tItem 8\t\t\t\t1\tRoom 4"_s;
        QTest::newRow("found, as CSV") << QStringList{u"show"_s, u"Room 4 count"_s, u"--found"_s, u"--csv"_s}
                                       << u"ASSETID,Description,Outcome,RecordedAt,ScannedUTC,ScannedBy|"
                                          "KLT1001,'=SUM(A1),found,Room 4|KLT1002,Item 2,found, room 4 |"
                                          "KLT1003,Item 3,elsewhere,Hall|KLT1004,Item 4,written off,Room 4|"
                                          "KLT1005,Item 5,not expected,Room 4"_s;
        QTest::newRow("unknown, as CSV") << QStringList{u"show"_s, u"Room 4 count"_s, u"--unknown"_s, u"--csv"_s}
                                         << u"Scanned,Scans,FirstScannedUTC,ScannedBy|'=HYPERLINK(1),1|NOPE42,2"_s;
    }
    void stockTakePrintsItsLists() {
        QFETCH(QStringList, options);
        QFETCH(QString, printed);
        TestRegister reg;
        addStockAssets(reg);
        // A tab or a line break in a value would make another column or another record of the text output.
        reg.exec(u"UPDATE assets SET Description = 'Item' || char(9) || '6' || char(10) || 'next' WHERE ASSETID = "
                 "'KLT1006'"_s);
        const StockTake t = startRoom4(reg.side());
        for (const char* id :
             {"KLT1001", "klt1002", "KLT1003", "KLT1004", "KLT1005", "NOPE42", "=HYPERLINK(1)", "nope42", "klt1001"}) {
            recordScan(reg.side(), t, QString::fromLatin1(id));
        }
        reg.side().close();
        const Run run = vnrdb(QStringList{u"stocktake"_s, reg.path()} + options);
        QCOMPARE(run.code, 0);
        QStringList lines = run.out.split(u'\n', Qt::SkipEmptyParts);
        for (QString& line : lines) {
            line.remove(u'\r');
            line.remove(QRegularExpression(u"[\t,]\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d[\t,][^\t,;]+"_s));
            line.remove(QRegularExpression(u"; started \\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d UTC by [^;]+"_s));
        }
        QCOMPARE(lines.join(u'|'), printed);
        const Run unknown = vnrdb({u"stocktake"_s, reg.path(), u"show"_s, u"Room 5"_s});
        QCOMPARE(unknown.code, 1);
        QVERIFY2(unknown.err.contains(u"no stock-take named 'Room 5'"_s), qPrintable(unknown.err));
    }

    // check names the first entry that breaks the chain, and an asset changed behind the program's back.
    void checkFindsTheHistoryTamperedWith() {
        QTemporaryDir dir;
        const QString file = dir.filePath(u"r.mdb"_s);
        QCOMPARE(vnrdb({u"create"_s, file, u"--abbreviation"_s, u"KLT"_s}).code, 0);
        QCOMPARE(vnrdb({u"import"_s, file, writeCsv(dir.path(), "ItemGroup,Make\n1,HP\n1,Dell\n")}).code, 0);
        {
            Connection c;
            c.openFile(file, QString::fromLatin1(kDefaultFilePassword));
            c.exec("UPDATE History SET ChangedBy = 'nobody' WHERE rowid = 2; UPDATE assets SET Location = 'Attic' "
                   "WHERE ASSETID = 'KLT1002'");
        }
        const Run run = vnrdb({u"check"_s, file});
        QCOMPARE(run.code, 1);
        QVERIFY2(run.out.contains(u"history entry 2 ("_s) && run.out.contains(u"breaks first at entry 2"_s) &&
                     run.out.contains(u"the asset 'KLT1002' holds Location 'Attic'"_s),
                 qPrintable(run.out));
    }

    // Export reads the register and changes nothing in it. What it writes into a CSV file is what it prints, and
    // the file appears with the mode the user's umask gives a new file, as the registers do.
    void exportChangesNothing() {
        TestRegister reg;
        fillDemoRegister(reg.path(), DemoOptions());
        reg.side().close();
        const QByteArray registerBytes = readFile(reg.path());
        QProcess p;
        p.start(QStringLiteral(VNRDB_PATH), {QStringLiteral("export"), reg.path()});
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitCode(), 0);
        const QByteArray printed = p.readAllStandardOutput();
        QVERIFY(printed.startsWith("ASSETID,ItemGroup,"));
        QCOMPARE(printed.count("\r\n"), 201);

        QStringList made;
        for (const int mask : {002, 022, 077}) {
            made << QStringLiteral("assets%1.csv").arg(mask, 3, 8, QLatin1Char('0'));
            const QString csv = reg.folder() + QLatin1Char('/') + made.last();
            const mode_t old = ::umask(static_cast<mode_t>(mask));
            const Run run = vnrdb({QStringLiteral("export"), reg.path(), QStringLiteral("--to"), csv});
            ::umask(old);
            QCOMPARE(run.code, 0);
            QCOMPARE(readFile(csv), printed);
            QCOMPARE(modeOf(csv), QString::number(0666 & ~mask, 8));
        }
        QCOMPARE(readFile(reg.path()), registerBytes);
        QCOMPARE(filesIn(reg.folder()), made + QStringList{QStringLiteral("vnrdata.mdb")});
    }

    // A file being built that a killed writer left behind is removed by the next vnrdb that writes into its
    // folder, with its journal; one of a writer that still runs, of another machine, made after that vnrdb
    // started, or of a name vnrdb does not give stays.
    void filesOfKilledWritersAreRemovedByTheNext() {
        TestRegister reg;
        QTemporaryDir out;
        QProcess finished;
        finished.start(QStringLiteral("true"), {});
        QVERIFY(finished.waitForStarted());
        const qint64 deadPid = finished.processId();
        QVERIFY(finished.waitForFinished());
        char host[256] = {};
        QVERIFY(::gethostname(host, sizeof host - 1) == 0);
        const QString here = QString::fromLocal8Bit(host).replace(u'.', u'_');
        const QDateTime anHourAgo = QDateTime::currentDateTime().addSecs(-3600);
        const struct {
            QString name;
            bool old;
            bool removed;
        } files[] = {
            {u".copy.mdb.%1-%2.k1.partial"_s.arg(here).arg(deadPid), true, true},
            {u".copy.mdb.%1-%2.k1.partial-journal"_s.arg(here).arg(deadPid), true, true},
            {u".copy.mdb.%1-%2.k2.partial"_s.arg(here).arg(QCoreApplication::applicationPid()), true, false},
            {u".copy.mdb.elsewhere-%1.k3.partial"_s.arg(deadPid), true, false},
            {u".copy.mdb.%1-%2.k4.partial"_s.arg(here).arg(deadPid), false, false},
            {u".copy.mdb.k5.partial"_s, true, false},
        };
        for (const auto& f : files) {
            QFile file(out.filePath(f.name));
            QVERIFY(file.open(QIODevice::WriteOnly));
            QVERIFY(file.write("partial") == 7 && file.flush());
            if (f.old) {
                QVERIFY(file.setFileTime(anHourAgo, QFileDevice::FileModificationTime));
            } else {
                QVERIFY(
                    file.setFileTime(QDateTime::currentDateTime().addSecs(3600), QFileDevice::FileModificationTime));
            }
        }
        const Run run = vnrdb({u"backup"_s, reg.path(), out.filePath(u"backup.mdb"_s)});
        QCOMPARE(run.code, 0);
        for (const auto& f : files) {
            QVERIFY2(QFile::exists(out.filePath(f.name)) != f.removed, qPrintable(f.name));
        }
    }

    // A folder as DEST gets a new file in it, named after the register and the local time to the minute; a
    // second copy in the same minute takes the next free name.
    void backupIntoAFolderNamesTheCopy() {
        TestRegister reg;
        reg.addAsset(QStringLiteral("KLT1001"), QStringLiteral("1"));
        reg.side().close();
        QTemporaryDir out;
        const QDateTime start = QDateTime::currentDateTime().addSecs(-60);
        QString said;
        for (int i = 0; i < 2; ++i) {
            const Run run = vnrdb({QStringLiteral("backup"), reg.path(), out.path() + QLatin1Char('/')});
            QCOMPARE(run.code, 0);
            said += run.out;
        }
        const QStringList made = filesIn(out.path());
        QCOMPARE(made.size(), 2);
        static const QRegularExpression name(QStringLiteral("^vnrdata-(\\d{4}-\\d\\d-\\d\\d-\\d{4})(-2)?\\.mdb$"));
        for (const QString& file : made) {
            const QRegularExpressionMatch m = name.match(file);
            QVERIFY2(m.hasMatch() && said.contains(out.filePath(file)), qPrintable(file + u'\n' + said));
            const QDateTime stamp = QDateTime::fromString(m.captured(1), QStringLiteral("yyyy-MM-dd-HHmm"));
            QVERIFY2(stamp >= start && stamp <= QDateTime::currentDateTime(), qPrintable(file));
            QCOMPARE(contentsOf(out.filePath(file)), contentsOf(reg.path()));
        }
    }

    void backupIsConsistentWhileAnotherProgramWrites() {
        TestRegister reg;
        fillDemoRegister(reg.path(), {.assets = 3000});
        // A change that is begun but not saved stays out of the copy.
        const QString pending = reg.folder() + QStringLiteral("/pending.mdb");
        Run run;
        {
            Connection::Transaction unsaved(reg.side());
            reg.addAsset(QStringLiteral("UNSAVED"), QStringLiteral("1"));
            run = vnrdb({QStringLiteral("backup"), reg.path(), pending});
        }
        QCOMPARE(run.code, 0);
        QCOMPARE(vnrdb({QStringLiteral("check"), pending}).code, 0);
        QCOMPARE(contentsOf(pending), contentsOf(reg.path()));

        // Another program saving one asset after another: every copy holds the assets of one moment.
        std::atomic<bool> stop{false};
        std::atomic<int> saved{0};
        // A save every millisecond: a writer that begins its next save the instant the last ends would starve
        // every reader of the file, which no person at a desk does.
        std::thread writer([&] {
            Connection other;
            other.openFile(reg.path(), QString::fromLatin1(kDefaultFilePassword));
            Statement ins(other, "INSERT INTO assets (ASSETID, ItemGroup) VALUES (?, '7')");
            while (!stop) {
                const QString id = QStringLiteral("W%1").arg(saved + 1, 6, 10, QLatin1Char('0'));
                Connection::Transaction t(other);
                ins.bindText(1, id);
                ins.step();
                ins.reset();
                other.recordHistory({u"assets"_s,
                                     id,
                                     HistoryAction::Added,
                                     {{u"ASSETID"_s, QString(), id}, {u"ItemGroup"_s, QString(), u"7"_s}}});
                t.commit();
                ++saved;
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
        // A failed check returns at once: the writer is stopped and joined on the way out.
        struct StopAndJoin {
            std::atomic<bool>& stop;
            std::thread& writer;
            ~StopAndJoin() {
                stop = true;
                if (writer.joinable()) {
                    writer.join();
                }
            }
        } joined{stop, writer};
        for (int i = 0; i < 3; ++i) {
            const QString copy = reg.folder() + QStringLiteral("/copy%1.mdb").arg(i);
            run = vnrdb({QStringLiteral("backup"), reg.path(), copy});
            QVERIFY2(run.code == 0, qPrintable(run.err));
            QVERIFY2(vnrdb({QStringLiteral("check"), copy}).code == 0, qPrintable(copy));
            Connection c;
            c.openFile(copy, QString::fromLatin1(kDefaultFilePassword), false);
            Statement s(c, "SELECT count(*), coalesce(max(ASSETID), 'W000000') FROM assets WHERE ItemGroup = '7'");
            QVERIFY(s.step());
            QCOMPARE(QStringLiteral("W%1").arg(s.columnInt64(0), 6, 10, QLatin1Char('0')), s.column(1).toString());
        }
        stop = true;
        writer.join();
        QVERIFY(saved > 0);
    }

    // The labels of the assets chosen, one to a page of the roll, read back by an independent decoder.
    void labelsPrintTheAssetsChosenOrRefuse_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("code");
        QTest::addColumn<QStringList>("said"); // printed: what the QR codes carry, a label a page; else the refusal
        const QStringList roll{u"--stock"_s, u"roll-57x32"_s, u"--code128"_s};
        QTest::newRow("by identifier, letter case aside")
            << roll + QStringList{u"--ids"_s, u"klt1002,KLT1001"_s} << 0 << QStringList{u"KLT1002"_s, u"KLT1001"_s};
        QTest::newRow("purchased since, none written off")
            << roll + QStringList{u"--added-since"_s, u"2025-06-01"_s} << 0 << QStringList{u"KLT1002"_s, u"SŁ1003"_s};
        QTest::newRow("all, none written off")
            << roll + QStringList{u"--all"_s} << 0 << QStringList{u"KLT1001"_s, u"KLT1002"_s, u"SŁ1003"_s};
        QTest::newRow("a written-off asset asked for by name")
            << roll + QStringList{u"--ids"_s, u"KLT1004"_s} << 0 << QStringList{u"KLT1004"_s};
        const auto refused = [](const char* name, const QStringList& args, int code, const QString& message) {
            QTest::newRow(name) << args << code << QStringList{message};
        };
        refused("an identifier no asset has", {u"--ids"_s, u"KLT1001,KLT9999"_s}, 1,
                u"No asset has the identifier 'KLT9999'."_s);
        refused("a custom stock off the page",
                {u"--all"_s, u"--custom"_s, u"page=a4,grid=3x8,label=70x33.9,margin=7.2x12.9"_s}, 1,
                u"The labels do not fit across the page"_s);
        refused("a negative size", {u"--all"_s, u"--custom"_s, u"page=a4,grid=3x8,label=-63.5x33.9"_s}, 1,
                u"The label width must be more than 0 mm; it is -63.5 mm."_s);
        refused("tape cut at nothing", {u"--all"_s, u"--stock"_s, u"tape-62"_s, u"--length"_s, u"0"_s}, 1,
                u"The length the tape is cut at must be more than 0 mm"_s);
        refused("10,000 copies", {u"--all"_s, u"--copies"_s, u"10000"_s}, 1,
                u"Each asset may have 1 to 1,000 labels; 10,000 were asked for."_s);
        refused("an unknown stock", {u"--all"_s, u"--stock"_s, u"a4-99"_s}, 2, u"there is no stock named 'a4-99'"_s);
        refused("no assets chosen", {u"--stock"_s, u"a4-65"_s}, 2, u"choose the assets"_s);
        refused("assets chosen twice", {u"--all"_s, u"--ids"_s, u"KLT1001"_s}, 2,
                u"--all and --ids do not go together"_s);
        refused("a date in another form", {u"--added-since"_s, u"1/6/2025"_s}, 2,
                u"not a date of the form yyyy-mm-dd"_s);
    }
    // A refusal says its reason, and leaves no file behind, not even a half-made one.
    void labelsPrintTheAssetsChosenOrRefuse() {
        QFETCH(QStringList, args);
        QFETCH(int, code);
        QFETCH(QStringList, said);
        TestRegister reg;
        reg.addAsset(u"KLT1001"_s, u"1"_s, u"DatePurchased"_s, u"'2025-05-31'"_s);
        reg.addAsset(u"KLT1002"_s, u"1"_s, u"DatePurchased"_s, u"'2025-06-01'"_s);
        reg.addAsset(u"SŁ1003"_s, u"1"_s, u"DatePurchased"_s, u"'2026-01-15'"_s);
        reg.addAsset(u"KLT1004"_s, u"1"_s, u"DatePurchased, WrittenOff"_s, u"'2026-02-01', 1"_s);
        reg.side().close();
        const QString pdf = reg.folder() + u"/labels.pdf"_s;
        const Run run = vnrdb(QStringList{u"labels"_s, reg.path(), u"--to"_s, pdf} + args);
        QCOMPARE(run.code, code);
        if (code != 0) {
            QVERIFY2(run.err.contains(said.value(0)), qPrintable(run.err));
            QCOMPARE(filesIn(reg.folder()), QStringList{u"vnrdata.mdb"_s});
            return;
        }
        QVERIFY2(run.out.contains(u"%1 labels of %1 assets on %1 pages"_s.arg(said.size())), qPrintable(run.out));
        QCOMPARE(run.err.contains(u"SŁ1003 has no Code 128 symbol"_s), said.contains(u"SŁ1003"_s));
        QStringList read;
        for (int page = 1; page <= said.size(); ++page) {
            const auto decoded = decodeRegions(renderPdfPage(pdf, page), {QRectF(0, 0, 57, 32)});
            for (const DecodedSymbol& d : decoded[0]) {
                if (d.type == u"QR-Code"_s) {
                    read << d.data;
                }
            }
        }
        QCOMPARE(read, said);
    }

    // A file at the path a command would write is never written over, nor the register itself.
    void commandsNeverWriteOverAFile_data() {
        QTest::addColumn<QStringList>("args");   // FILE stands for the register, OUT for the file already there
        QTest::addColumn<bool>("onTheRegister"); // OUT is the register itself
        QTest::newRow("backup") << QStringList{u"backup"_s, u"FILE"_s, u"OUT"_s} << false;
        QTest::newRow("labels") << QStringList{u"labels"_s, u"FILE"_s, u"--to"_s, u"OUT"_s, u"--all"_s} << false;
        QTest::newRow("export") << QStringList{u"export"_s, u"FILE"_s, u"--to"_s, u"OUT"_s} << false;
        QTest::newRow("export onto the register") << QStringList{u"export"_s, u"FILE"_s, u"--to"_s, u"OUT"_s} << true;
    }
    void commandsNeverWriteOverAFile() {
        QFETCH(QStringList, args);
        QFETCH(bool, onTheRegister);
        TestRegister reg;
        reg.addAsset(u"KLT1001"_s, u"1"_s);
        reg.side().close();
        const QString existing = onTheRegister ? reg.path() : writeCsv(reg.folder(), "kept");
        const QByteArray kept = readFile(existing);
        args.replaceInStrings(u"FILE"_s, reg.path()).replaceInStrings(u"OUT"_s, existing);
        const Run run = vnrdb(args);
        QCOMPARE(run.code, 1);
        QVERIFY2(run.err.contains(QLatin1String("already exists")), qPrintable(run.err));
        QCOMPARE(readFile(existing), kept);
        QCOMPARE(filesIn(reg.folder()).size(), onTheRegister ? 1 : 2);
    }
};

QTEST_GUILESS_MAIN(TestVnrdb)
#include "tst_vnrdb.moc"
