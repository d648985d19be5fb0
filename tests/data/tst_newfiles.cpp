// Files the register tool makes appear whole or not at all: a new register, empty or with settings, and a
// backup copy, with each write or sync of the new file failing in turn, as a full or failing disk would make
// it. Nothing may be left behind: not the file, not its temporary name, not a journal.
#include "data/backup.h"
#include "data/connection.h"
#include "data/errors.h"
#include "data/newregister.h"
#include "data/schema.h"
#include "tests/support/faultvfs.h"
#include "tests/support/registercheck.h"
#include "tests/support/testregister.h"
#include "tools/demodata.h"

#include <QtTest>
#include <functional>

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

} // namespace

class TestNewFiles : public QObject {
    Q_OBJECT

private slots:
    void failureLeavesNothingBehind_data() {
        QTest::addColumn<int>("made");
        QTest::addColumn<int>("fault");
        const char* const names[] = {"empty register", "register with settings", "backup"};
        for (int made = 0; made < 3; ++made) {
            for (Fault f : {Fault::WriteError, Fault::DiskFull, Fault::SyncError}) {
                QTest::addRow("%s, %s", names[made], qPrintable(FaultVfs::name(f))) << made << static_cast<int>(f);
            }
        }
    }
    void failureLeavesNothingBehind() {
        QFETCH(int, made);
        QFETCH(int, fault);
        TestRegister source;
        DemoOptions demo;
        demo.assets = 300;
        fillDemoRegister(source.path(), demo);
        source.side().close();
        const RegisterContents sourceRows = contentsOf(source.path());
        const auto make = [&](const QString& path) {
            if (made == 0) {
                createRegister(path);
            } else if (made == 1) {
                createRegister(path, settings());
            } else {
                backupRegister(source.path(), path);
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
        } else if (made == 2) {
            QCOMPARE(whole, sourceRows);
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
        QCOMPARE(contentsOf(source.path()), sourceRows);
    }
};

QTEST_GUILESS_MAIN(TestNewFiles)
#include "tst_newfiles.moc"
