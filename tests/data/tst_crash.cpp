// A program killed in the middle of saving. This test starts itself again as a writer that posts edits and
// inserts through the datasets in a loop, kills it with SIGKILL at a moment drawn from a seeded generator,
// and then opens the register the way the program does: it must open, be sound, hold no identifier twice,
// hold no row that mixes two saves, hold every save the writer finished, and hold a history whose chain is
// whole and whose entries say exactly what the rows hold: every saved change has its entries, and every entry
// its change.
//
// VANTREL_CRASH_SEED and VANTREL_CRASH_KILLS choose the schedule; the seed is printed, so a failing
// schedule can be run again.
#include "data/datamodule.h"
#include "data/errors.h"
#include "data/history.h"
#include "data/schema.h"
#include "tests/support/registercheck.h"
#include "tests/support/testregister.h"

#include <QDir>
#include <QLocale>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QThread>
#include <QtTest>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// Every text column a save writes, and how its value follows from the save's mark, a number that is new
// for every save: a row whose columns disagree about the mark was half written.
const QStringList kMarkedColumns{u"OrderNumber"_s,    u"Make"_s,     u"Model"_s,       u"SerialNumber"_s,
                                 u"Description"_s,    u"Supplier"_s, u"PurchasedBy"_s, u"Location"_s,
                                 u"WarrantyPeriod"_s, u"Borrower"_s};

QString markedText(const QString& column, quint32 mark) {
    return u"%1 %2"_s.arg(column.left(3)).arg(mark);
}

double markedCost(quint32 mark) {
    return (mark % 100000) + 0.25;
}

QDate markedDate(quint32 mark) {
    return QDate(2000, 1, 1).addDays(mark % 9000);
}

// The writer's lines on standard output, written unbuffered so none is lost when it is killed:
// "posting <id> <mark>" before a post, "saved <id> <mark>" once the post returned.
void say(const QString& line) {
    const QByteArray bytes = (line + u'\n').toUtf8();
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(1, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n <= 0) {
            std::_Exit(3);
        }
        done += n;
    }
}

// The writer: opens the register in the working folder as the program does, then saves until killed.
// Inserts take the next identifier of their group, as the program numbers them; edits rewrite every
// marked column of a random asset.
int runWriter(quint32 seed) {
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    QRandomGenerator random(seed);
    try {
        DataModule dm;
        dm.ADOConnection1.open(QString::fromLatin1(kConnectionString));
        dm.SystemTable.open();
        Dataset& list = dm.mainquery;
        openOn(list, {u"select * from assets"_s}); // every asset, written off or not
        say(u"ready"_s);
        for (;;) {
            const quint32 mark = random.generate();
            if (list.recordCount() == 0 || random.bounded(2) == 0) {
                const QString group = QString::number(random.bounded(3));
                Dataset& count = dm.Query2;
                openOn(count,
                       {u"Select COUNT(*) as GTotal"_s, u"FROM assets"_s, u"Where ITEMGROUP = \"%1\""_s.arg(group)});
                const QString n = QString::number(count.fieldByName(u"GTotal"_s).asInteger() + 1);
                list.append();
                list.fieldByName(u"ItemGroup"_s).setAsString(group);
                list.fieldByName(u"ASSETID"_s).setAsString(u"KLT"_s + group + QString(qMax(0, 3 - n.size()), u'0') + n);
            } else {
                list.moveTo(static_cast<int>(random.bounded(list.recordCount())));
                list.edit();
            }
            const QString id = list.fieldByName(u"ASSETID"_s).asString();
            for (const QString& column : kMarkedColumns) {
                list.fieldByName(column).setAsString(markedText(column, mark));
            }
            list.setValue(list.findField(u"TotalCost"_s), markedCost(mark));
            list.fieldByName(u"DatePurchased"_s).setAsDate(markedDate(mark));
            list.fieldByName(u"isElectrical"_s).setAsBoolean(mark & 1);
            list.fieldByName(u"itemBorrowed"_s).setAsBoolean(mark & 2);
            say(u"posting %1 %2"_s.arg(id).arg(mark));
            list.post();
            say(u"saved %1 %2"_s.arg(id).arg(mark));
        }
    } catch (const VantrelError& e) {
        fprintf(stderr, "writer: %s\n", e.what());
    }
    return 2;
}

// What the writer said about one identifier: the mark of its last finished save, and of a save it began
// after that and may or may not have finished.
struct Saves {
    qint64 saved = -1;
    qint64 pending = -1;
};

QMap<QString, Saves> readSaves(const QByteArray& output, QMap<QString, Saves> saves) {
    for (const QByteArray& line : output.split('\n')) {
        const QList<QByteArray> parts = line.split(' ');
        if (parts.size() != 3) {
            continue;
        }
        Saves& s = saves[QString::fromUtf8(parts[1])];
        if (parts[0] == "posting") {
            s.pending = parts[2].toLongLong();
        } else if (parts[0] == "saved") {
            s.saved = parts[2].toLongLong();
            s.pending = -1;
        }
    }
    return saves;
}

} // namespace

class TestCrash : public QObject {
    Q_OBJECT

    // Checks the register after a kill; empty when it is as it must be, else what is wrong. When it is
    // right, saves learns which of each asset's saves is the one stored.
    static QString check(QMap<QString, Saves>& saves) {
        Connection c;
        try {
            c.open(QString::fromLatin1(kConnectionString));
        } catch (const DatabaseError& e) {
            return u"refused at opening: "_s + e.text();
        }
        const QString integrity = integrityCheck(c);
        if (integrity != u"ok"_s) {
            return u"integrity_check: "_s + integrity;
        }
        Statement twice(c, "SELECT ASSETID, COUNT(*) FROM assets GROUP BY ASSETID COLLATE NOCASE HAVING COUNT(*) > 1");
        if (twice.step()) {
            return u"identifier %1 is stored %2 times"_s.arg(twice.column(0).toString()).arg(twice.columnInt64(1));
        }
        twice.reset();
        QString select = u"SELECT ASSETID, TotalCost, DatePurchased, isElectrical, itemBorrowed"_s;
        for (const QString& column : kMarkedColumns) {
            select += u", "_s + column;
        }
        Statement rows(c, (select + u" FROM assets"_s).toStdString());
        QMap<QString, quint32> stored;
        while (rows.step()) {
            const QString id = rows.column(0).toString();
            const QString make = rows.column(6).toString();
            const quint32 mark = make.mid(4).toUInt();
            QStringList wrong;
            for (int i = 0; i < kMarkedColumns.size(); ++i) {
                if (rows.column(5 + i).toString() != markedText(kMarkedColumns[i], mark)) {
                    wrong << kMarkedColumns[i];
                }
            }
            if (rows.column(1).toDouble() != markedCost(mark)) {
                wrong << u"TotalCost"_s;
            }
            if (rows.column(2).toString() != markedDate(mark).toString(Qt::ISODate)) {
                wrong << u"DatePurchased"_s;
            }
            if (rows.columnInt64(3) != ((mark & 1) ? 1 : 0) || rows.columnInt64(4) != ((mark & 2) ? 1 : 0)) {
                wrong << u"isElectrical or itemBorrowed"_s;
            }
            if (!wrong.isEmpty()) {
                return u"asset %1 is half written: %2 disagree with Make '%3'"_s.arg(id, wrong.join(u", "_s), make);
            }
            const Saves s = saves.value(id);
            if (s.saved < 0 && s.pending < 0) {
                return u"asset %1 was never saved by the writer"_s.arg(id);
            }
            if (mark != s.saved && mark != s.pending) {
                return u"asset %1 holds save %2; the writer's last finished save was %3"_s.arg(id).arg(mark).arg(
                    s.saved);
            }
            stored.insert(id, mark);
        }
        rows.reset();
        for (auto it = saves.cbegin(); it != saves.cend(); ++it) {
            if (it.value().saved >= 0 && !stored.contains(it.key())) {
                return u"asset %1 was reported saved and is gone"_s.arg(it.key());
            }
        }
        const HistoryVerdict history = verifyHistory(c);
        if (!history.whole()) {
            return u"history: "_s + history.findings.value(0);
        }
        saves.clear();
        for (auto it = stored.cbegin(); it != stored.cend(); ++it) {
            saves[it.key()].saved = it.value();
        }
        return QString();
    }

private slots:
    void killedWriterLeavesTheRegisterWhole() {
        const quint32 seed = qEnvironmentVariableIsSet("VANTREL_CRASH_SEED")
                                 ? qEnvironmentVariable("VANTREL_CRASH_SEED").toUInt()
                                 : 20240611u;
        const int kills = qEnvironmentVariableIsSet("VANTREL_CRASH_KILLS")
                              ? qEnvironmentVariableIntValue("VANTREL_CRASH_KILLS")
                              : 100;
        qInfo("seed %u, %d kills", seed, kills);
        QRandomGenerator schedule(seed);

        TestRegister reg;
        reg.exec(u"UPDATE System SET CompanyAbbr = 'KLT'"_s);
        reg.recordRowsAsTheyAre();
        reg.side().close();
        const QString before = QDir::currentPath();
        QDir::setCurrent(reg.folder());
        auto restore = qScopeGuard([&] { QDir::setCurrent(before); });

        QMap<QString, Saves> saves;
        QMap<QString, int> failures; // what was wrong, and how often
        QStringList firstFailures;
        int survived = 0;
        int killedMidSave = 0;
        int journalsLeft = 0; // kills that left a journal for the next opening to roll back
        qint64 savesInAll = 0;
        for (int k = 0; k < kills; ++k) {
            QProcess writer;
            writer.setProgram(QCoreApplication::applicationFilePath());
            writer.setArguments({u"--writer"_s, QString::number(schedule.generate())});
            writer.start();
            QVERIFY2(writer.waitForStarted(10000), qPrintable(writer.errorString()));
            QByteArray output;
            while (!output.contains("ready\n") && writer.state() == QProcess::Running) {
                writer.waitForReadyRead(10000);
                output += writer.readAllStandardOutput();
            }
            QVERIFY2(output.contains("ready\n"), qPrintable(u"kill %1: the writer did not start: %2"_s.arg(k).arg(
                                                     QString::fromUtf8(writer.readAllStandardError()))));
            QThread::usleep(schedule.bounded(1000u, 40000u));
            QVERIFY2(writer.state() == QProcess::Running,
                     qPrintable(u"kill %1: the writer stopped on its own: %2"_s.arg(k).arg(
                         QString::fromUtf8(writer.readAllStandardError()))));
            writer.kill();
            QVERIFY(writer.waitForFinished(10000));
            output += writer.readAllStandardOutput();
            savesInAll += output.count("saved ");
            saves = readSaves(output, saves);
            const qsizetype lastPosting = output.lastIndexOf("posting ");
            if (lastPosting > output.lastIndexOf("saved ")) {
                ++killedMidSave;
            }

            if (QFile::exists(reg.path() + u"-journal"_s)) {
                ++journalsLeft;
            }
            const QString problem = check(saves);
            if (problem.isEmpty()) {
                ++survived;
                continue;
            }
            QString kind = problem;
            kind.replace(QRegularExpression(u"KLT\\d+|\\d+"_s), u"#"_s);
            if (failures[kind]++ == 0) {
                firstFailures << u"kill %1: %2"_s.arg(k).arg(problem);
            }
            // Put the file back in order with plain SQLite so the later kills test something.
            const QString repaired = recoverWithPlainSqlite(reg.path());
            QVERIFY2(repaired == u"ok"_s,
                     qPrintable(u"kill %1: not even SQLite can repair it: %2"_s.arg(k).arg(repaired)));
            if (!check(saves).isEmpty()) {
                break; // still wrong after SQLite's own recovery: nothing later would tell more
            }
        }
        qInfo("%d of %d kills survived (%d between posting and saved, %d leaving a journal; %lld saves finished)",
              survived, kills, killedMidSave, journalsLeft, savesInAll);
        QVERIFY2(killedMidSave > 0, "no kill landed in the middle of a save");
        QVERIFY2(failures.isEmpty(), qPrintable(firstFailures.join(u'\n')));
    }
};

int main(int argc, char** argv) {
    if (argc == 3 && qstrcmp(argv[1], "--writer") == 0) {
        QCoreApplication app(argc, argv);
        return runWriter(QByteArray(argv[2]).toUInt());
    }
    QCoreApplication app(argc, argv);
    TestCrash test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_crash.moc"
