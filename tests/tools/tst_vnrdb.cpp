// The register tool as a user runs it: what it prints and its exit codes.
#include "data/schema.h"
#include "tests/support/testregister.h"

#include <QProcess>
#include <QtTest>

namespace {

struct Run {
    int code;
    QString out;
};

Run vnrdb(const QStringList& args) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral(VNRDB_PATH), args);
    p.waitForFinished(60000);
    return {p.exitCode(), QString::fromUtf8(p.readAll())};
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
        QVERIFY2(sound.out.contains(QLatin1String(": ok: 2 assets, schema version 2")), qPrintable(sound.out));

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

        QCOMPARE(vnrdb({QStringLiteral("check")}).code, 2);
        QCOMPARE(vnrdb({QStringLiteral("check"), QStringLiteral("--help")}).code, 0);
        QCOMPARE(vnrdb({QStringLiteral("frobnicate")}).code, 2);
    }
};

QTEST_GUILESS_MAIN(TestVnrdb)
#include "tst_vnrdb.moc"
