// Opening a register: every way a file can be wrong fails with its own text naming the file, before
// anything is written; the connection string is parsed as the program gives it.
#include "data/connection.h"
#include "data/datamodule.h"
#include "data/errors.h"
#include "data/schema.h"
#include "data/server.h"
#include "tests/support/testregister.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>
#include <atomic>
#include <thread>

namespace {

QByteArray fileHash(const QString& path) {
    return QCryptographicHash::hash(readFile(path), QCryptographicHash::Sha256);
}

QString openError(const QString& path, const QString& password = QStringLiteral("kivelor")) {
    Connection c;
    try {
        c.openFile(path, password);
    } catch (const DatabaseError& e) {
        return e.text();
    }
    return QString();
}

} // namespace

class TestOpen : public QObject {
    Q_OBJECT
private slots:
    void connectionStringKeysIgnoreCase() {
        const ConnectionSettings s = parseConnectionString(QString::fromLatin1(kConnectionString));
        QCOMPARE(s.dataSource, QStringLiteral("vnrdata.mdb"));
        QCOMPARE(s.filePassword, QStringLiteral("kivelor"));
        const ConnectionSettings t =
            parseConnectionString(QStringLiteral("provider=x; DATA SOURCE = a.mdb ;jet oledb:database password=pw;"));
        QCOMPARE(t.dataSource, QStringLiteral("a.mdb"));
        QCOMPARE(t.filePassword, QStringLiteral("pw"));
        QVERIFY_THROWS_EXCEPTION(DatabaseError, parseConnectionString(QStringLiteral("Provider=x")));
    }

    // A server file names one server on one line, read by libpq's own rules: no spelling of a password gets
    // past, a second line is refused rather than ignored, and an unknown parameter is named.
    void serverFilesAreReadAsLibpqReadsThem_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("expected"); // the address read, or a part of the refusal
        QTest::newRow("an address") << QByteArray("postgresql://h/db\n") << "postgresql://h/db";
        QTest::newRow("comments and blank lines")
            << QByteArray("# ours\n\n  postgresql://h/db  \n\n") << "postgresql://h/db";
        QTest::newRow("password of the user") << QByteArray("postgresql://u:secret@h/db") << "holds a password";
        QTest::newRow("password parameter") << QByteArray("postgresql://h/db?password=x") << "holds a password";
        QTest::newRow("password parameter escaped")
            << QByteArray("postgresql://h/db?%70assword=x") << "holds a password";
        QTest::newRow("a second line") << QByteArray("postgresql://h/db\npostgresql://h/db?password=x")
                                       << "holds more than one line";
        QTest::newRow("unknown parameter") << QByteArray("postgresql://h/db?frobnicate=1") << "frobnicate";
        QTest::newRow("not an address") << QByteArray("host=h dbname=db") << "is not a postgresql:// address";
        QTest::newRow("nothing") << QByteArray("# moved for now\n") << "names no server";
    }
    void serverFilesAreReadAsLibpqReadsThem() {
        QFETCH(QByteArray, content);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("vnrdata.server"));
        writeFile(path, content);
        QString read;
        const QString error = errorOf([&] { read = readServerFile(path); });
        if (expected.startsWith(QLatin1String("postgresql://"))) {
            QCOMPARE(error, QString());
            QCOMPARE(read, expected);
        } else {
            QVERIFY2(error.startsWith(QStringLiteral("The server file '%1'").arg(path)) && error.contains(expected),
                     qPrintable(error));
        }
    }

    void opensFromTheWorkingFolder() {
        TestRegister reg;
        const QString before = QDir::currentPath();
        QDir::setCurrent(reg.folder());
        Connection c;
        c.open(QString::fromLatin1(kConnectionString));
        QDir::setCurrent(before);
        QVERIFY(c.isOpen());
        QCOMPARE(QFileInfo(c.filePath()).canonicalFilePath(), QFileInfo(reg.path()).canonicalFilePath());
    }

    // Every way a file at the register's name can be wrong fails with its own text naming the file, and the file
    // is left as it was: a missing one is not made, a damaged one not mended.
    void badFilesFailWithTheirOwnTextAndStayUntouched_data() {
        QTest::addColumn<QString>("kind"); // what is at the name: missing, bytes, a truncated or a changed register
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("sql"); // run on the register for the kind "changed"
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("expected");
        const QString password = QStringLiteral("kivelor");
        const auto row = [](const char* name, const QString& kind, const QByteArray& bytes, const QString& sql,
                            const QString& password, const QString& expected) {
            QTest::newRow(name) << kind << bytes << sql << password << expected;
        };
        row("missing", "missing", {}, {}, password, "does not exist");
        row("empty", "bytes", {}, {}, password, "is empty");
        row("old database format", "bytes",
            QByteArray("\x00\x01\x00\x00Standard Jet DB\x00", 19) + QByteArray(4000, 'x'), {}, password,
            "is not a Vantrel register");
        row("text", "bytes", "hello, world\n", {}, password, "is not a Vantrel register");
        row("truncated register", "truncated", {}, {}, password, "truncated");
        row("SQLite file that is not a register", "changed", {}, "PRAGMA application_id = 0", password,
            "is not a Vantrel register");
        row("newer schema", "changed", {}, QStringLiteral("PRAGMA user_version = %1").arg(kRegisterSchemaVersion + 1),
            password, "newer version");
        row("another file password", "changed", {}, {}, "KIVELOR", "another file password");
    }
    void badFilesFailWithTheirOwnTextAndStayUntouched() {
        QFETCH(QString, kind);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, sql);
        QFETCH(QString, password);
        QFETCH(QString, expected);
        TestRegister reg;
        const QString path = reg.path();
        if (!sql.isEmpty()) {
            reg.exec(sql);
        }
        reg.side().close();
        if (kind == QLatin1String("missing")) {
            QVERIFY(QFile::remove(path));
        } else if (kind == QLatin1String("bytes")) {
            QVERIFY(QFile::remove(path));
            QVERIFY(writeFile(path, bytes));
        } else if (kind == QLatin1String("truncated")) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::ReadWrite) && f.size() > 4096);
            QVERIFY(f.resize(f.size() - 4096));
        }
        const QByteArray before = fileHash(path);
        const QString error = openError(path, password);
        QVERIFY2(error.contains(expected) && error.contains(path), qPrintable(error));
        QCOMPARE(fileHash(path), before);
        QCOMPARE(QFile::exists(path), kind != QLatin1String("missing"));
        if (password != QLatin1String("kivelor")) {
            QCOMPARE(openError(path), QString()); // the file password it was made with still opens it
        }
    }

    // Another program in the middle of a save has written the header's new page count but not yet the
    // pages: the register is whole once that save ends, and is opened, not refused as truncated.
    void aSaveInProgressIsNotTakenForTruncation() {
        TestRegister reg;
        reg.addAsset(QStringLiteral("KLT1001"), QStringLiteral("1"));
        const QString password = QString::fromLatin1(kDefaultFilePassword);
        std::atomic<bool> saving = false;
        std::thread other([&] {
            Connection c;
            c.openFile(reg.path(), password);
            c.exec("BEGIN EXCLUSIVE");
            QFile f(reg.path());
            f.open(QIODevice::ReadWrite);
            f.seek(28);
            const QByteArray count = f.read(4);
            QByteArray more = count;
            more[3] = static_cast<char>(more[3] + 5);
            f.seek(28);
            f.write(more);
            f.flush();
            saving = true;
            QThread::msleep(400);
            f.seek(28);
            f.write(count);
            f.close();
            c.exec("ROLLBACK");
        });
        while (!saving) {
            QThread::msleep(5);
        }
        const QString error = openError(reg.path(), password);
        other.join();
        QCOMPARE(error, QString());
    }

    // A new register holds one empty settings record and nothing else, not even the file password, keeps no
    // journal between saves, and is never made over an existing file.
    void aNewRegisterHoldsOneEmptySettingsRecord() {
        TestRegister reg;
        QVERIFY(!readFile(reg.path()).contains("kivelor"));
        QCOMPARE(reg.count(QStringLiteral("SELECT COUNT(*) FROM System")), 1);
        QCOMPARE(reg.count(QStringLiteral("SELECT COUNT(*) FROM Groups")), 0);
        QCOMPARE(reg.count(QStringLiteral("SELECT COUNT(*) FROM assets")), 0);
        QCOMPARE(reg.count(QStringLiteral("SELECT PromptPasswordToStart FROM System")), 0);
        QCOMPARE(reg.text(QStringLiteral("SELECT CompanyAbbr FROM System")), QString());
        QCOMPARE(reg.text(QStringLiteral("PRAGMA journal_mode")), QStringLiteral("delete"));
        reg.side().close();
        const QByteArray before = fileHash(reg.path());
        QVERIFY_THROWS_EXCEPTION(DatabaseError, createRegister(reg.path()));
        QCOMPARE(fileHash(reg.path()), before);
    }

    void duplicateIdentifierIsRefusedByTheEngine() {
        TestRegister reg;
        reg.addAsset(QStringLiteral("KLT1001"), QStringLiteral("1"));
        QVERIFY_THROWS_EXCEPTION(DatabaseError, reg.addAsset(QStringLiteral("klt1001"), QStringLiteral("1")));
        QCOMPARE(reg.count(QStringLiteral("SELECT COUNT(*) FROM assets")), 1);
    }
};

QTEST_GUILESS_MAIN(TestOpen)
#include "tst_open.moc"
