// Files the register tool makes appear whole or not at all: a new register, empty or with settings, and a
// backup copy, with each write or sync of the new file failing in turn, as a full or failing disk would make
// it. Nothing may be left behind: not the file, not its temporary name, not a journal. What appears has the
// mode the user's umask gives a new file, so that a group can share it.
#include "data/backup.h"
#include "data/connection.h"
#include "data/errors.h"
#include "data/newregister.h"
#include "data/registercopy.h"
#include "data/schema.h"
#include "registertool/demodata.h"
#include "tests/support/faultvfs.h"
#include "tests/support/registercheck.h"
#include "tests/support/testregister.h"

#include <QtTest>
#include <csignal>
#include <functional>
#include <sys/resource.h>
#include <sys/stat.h>

using Fault = FaultVfs::Fault;

namespace {

NewRegister settings() {
    NewRegister s;
    s.company = QStringLiteral("Kelvin Lane Trust");
    s.abbreviation = QStringLiteral("KLT");
    s.password = QStringLiteral("s3cret");
    s.groups = {{1, QStringLiteral("Computers")}, {9, QStringLiteral("Vans")}};
    return s;
}

RegisterContents contentsOf(const QString& path) {
    Connection c;
    c.openFile(path, QString::fromLatin1(kDefaultFilePassword), false);
    RegisterContents contents = registerContents(c);
    contents.insert(QStringLiteral("integrity_check"), integrityCheck(c));
    return contents;
}

// Sets the process's umask for as long as it lives.
struct Umask {
    explicit Umask(int mask) : old(::umask(static_cast<mode_t>(mask))) {}
    ~Umask() { ::umask(old); }
    mode_t old;
};

} // namespace

class TestNewFiles : public QObject {
    Q_OBJECT

private slots:
    void failureLeavesNothingBehind_data() {
        QTest::addColumn<int>("made");
        QTest::addColumn<int>("fault");
        const char* const names[] = {"empty register", "register with settings"};
        // A backup is copied by the file system, not through SQLite: backupThatCannotBeWrittenLeavesNothing.
        for (int made = 0; made < 2; ++made) {
            for (Fault f : {Fault::WriteError, Fault::DiskFull, Fault::SyncError}) {
                QTest::addRow("%s, %s", names[made], qPrintable(FaultVfs::name(f))) << made << static_cast<int>(f);
            }
        }
    }
    void failureLeavesNothingBehind() {
        QFETCH(int, made);
        QFETCH(int, fault);
        const auto make = [&](const QString& path) {
            if (made == 0) {
                createRegister(path);
            } else {
                createRegister(path, settings());
            }
        };
        RegisterContents whole;
        {
            QTemporaryDir reference;
            const QString path = reference.filePath(QStringLiteral("made.mdb"));
            make(path);
            whole = contentsOf(path);
        }
        if (made == 1) {
            QCOMPARE(whole.value(QStringLiteral("System#1")), QStringLiteral("17:Kelvin Lane Trust|3:KLT|6:s3cret|1"));
        }
        int failures = 0;
        for (int n = 1; n <= 500; ++n) {
            QTemporaryDir dir;
            const QString path = dir.filePath(QStringLiteral("made.mdb"));
            bool refused = false;
            int injected = 0;
            {
                FaultVfs vfs(dir.path());
                vfs.arm(static_cast<Fault>(fault), n, true);
                try {
                    make(path);
                } catch (const DatabaseError&) {
                    refused = true;
                }
                injected = vfs.injected();
            }
            const QString where = QStringLiteral("operation %1").arg(n);
            if (injected == 0) {
                QVERIFY2(!refused, qPrintable(where));
                QCOMPARE(contentsOf(path), whole);
                break;
            }
            ++failures;
            QVERIFY2(refused, qPrintable(where + QStringLiteral(": a failed write was reported as done")));
            QVERIFY2(filesIn(dir.path()).isEmpty(),
                     qPrintable(where + QStringLiteral(": left ") + filesIn(dir.path()).join(u' ')));
        }
        QVERIFY(failures > 0);
    }

    // The copy of a backup fails part way (the file may grow no further: what a full disk or a quota does to
    // a write): the backup is refused, leaves nothing, and the source is untouched.
    void backupThatCannotBeWrittenLeavesNothing() {
        TestRegister source;
        fillDemoRegister(source.path(), {.assets = 300});
        source.side().close();
        const RegisterContents sourceRows = contentsOf(source.path());
        const qint64 size = QFileInfo(source.path()).size();
        const auto previous = std::signal(SIGXFSZ, SIG_IGN);
        rlimit unlimited{};
        QVERIFY(::getrlimit(RLIMIT_FSIZE, &unlimited) == 0);
        for (const qint64 room : {qint64(0), qint64(4096), size / 2, size - 1}) {
            QTemporaryDir dir;
            const QString path = dir.filePath(QStringLiteral("made.mdb"));
            rlimit limited = unlimited;
            limited.rlim_cur = static_cast<rlim_t>(room);
            QVERIFY(::setrlimit(RLIMIT_FSIZE, &limited) == 0);
            const QString error = errorOf([&] { backupRegister(source.path(), path); });
            QVERIFY(::setrlimit(RLIMIT_FSIZE, &unlimited) == 0);
            QVERIFY2(error.contains(QLatin1String("copy of the register")) && error.contains(path), qPrintable(error));
            QVERIFY2(filesIn(dir.path()).isEmpty(), qPrintable(filesIn(dir.path()).join(u' ')));
        }
        std::signal(SIGXFSZ, previous);
        QCOMPARE(contentsOf(source.path()), sourceRows);
    }

    // What is made has the mode the maker's umask gives a new file. A journal takes the register's mode, whatever
    // the umask of the program saving, so that whoever may write the register may play back a save cut short.
    void madeFilesGetTheUsersMode_data() {
        QTest::addColumn<int>("made");
        QTest::addColumn<int>("mask");
        QTest::addColumn<int>("writerMask");
        const char* const names[] = {"register", "register with settings", "backup", "copy"};
        for (int made = 0; made < 4; ++made) {
            for (const auto& [mask, writerMask] : {std::pair{002, 077}, {022, 002}, {077, 000}}) {
                QTest::addRow("%s, umask %03o", names[made], mask) << made << mask << writerMask;
            }
        }
    }
    void madeFilesGetTheUsersMode() {
        QFETCH(int, made);
        QFETCH(int, mask);
        QFETCH(int, writerMask);
        TestRegister source;
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("made.mdb"));
        {
            Umask making(mask);
            const std::function<void()> make[] = {
                [&] { createRegister(path); }, [&] { createRegister(path, settings()); },
                [&] { backupRegister(source.path(), path); }, [&] { copyRegister(source.path(), path); }};
            make[made]();
        }
        QCOMPARE(modeOf(path), QString::number(0666 & ~mask, 8));

        Umask saving(writerMask);
        Connection writer;
        writer.openFile(path, QString::fromLatin1(kDefaultFilePassword));
        Connection::Transaction save(writer);
        writer.exec("INSERT INTO Groups (GroupNumber, Description) VALUES ('7', 'Journalled')");
        QCOMPARE(modeOf(path + QStringLiteral("-journal")), modeOf(path));
    }

    // A name that is taken, even by a link to nowhere, is never made a register: SQLite would open what is there,
    // or make the file the link leads to.
    void createFileRefusesATakenName_data() {
        QTest::addColumn<bool>("link");
        QTest::newRow("file") << false;
        QTest::newRow("link to a missing file") << true;
    }
    void createFileRefusesATakenName() {
        QFETCH(bool, link);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("taken.mdb"));
        QFile taken(path);
        QVERIFY(link ? QFile::link(dir.filePath(QStringLiteral("missing.mdb")), path)
                     : taken.open(QIODevice::WriteOnly) && taken.write("kept") == 4);
        taken.close();
        Connection c;
        QVERIFY_THROWS_EXCEPTION(DatabaseError, c.createFile(path));
        QCOMPARE(filesIn(dir.path()), QStringList{QStringLiteral("taken.mdb")});
        QCOMPARE(QFileInfo(path).size(), link ? 0 : 4);
    }
};

QTEST_GUILESS_MAIN(TestNewFiles)
#include "tst_newfiles.moc"
