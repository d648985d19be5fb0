// Test fixtures shared by every test executable.
#include "tests/support/testregister.h"

#include "data/datamodule.h"
#include "data/errors.h"
#include "data/newregister.h"
#include "data/schema.h"

#include <QDir>
#include <QFile>
#include <QtTest>

TestRegister::TestRegister() : path_(dir_.filePath(QStringLiteral("vnrdata.mdb"))) {
    createRegister(path_);
}

TestRegister::TestRegister(const NewRegister& settings) : path_(dir_.filePath(QStringLiteral("vnrdata.mdb"))) {
    createRegister(path_, settings);
}

Connection& TestRegister::side() {
    if (!side_ || !side_->isOpen()) {
        side_ = std::make_unique<Connection>();
        side_->openFile(path_, QString::fromLatin1(kDefaultFilePassword));
    }
    return *side_;
}

void TestRegister::exec(const QString& sql) {
    side().exec(sql.toStdString());
}

void TestRegister::addAsset(const QString& id, const QString& group, const QString& extraColumns,
                            const QString& extraValues) {
    QString sql = QStringLiteral("INSERT INTO assets (ASSETID, ItemGroup%1) VALUES ('%2', '%3'%4)")
                      .arg(extraColumns.isEmpty() ? QString() : QStringLiteral(", ") + extraColumns, id, group,
                           extraValues.isEmpty() ? QString() : QStringLiteral(", ") + extraValues);
    exec(sql);
}

long long TestRegister::count(const QString& sql) {
    Statement s(side(), sql.toStdString());
    const long long n = s.step() ? s.columnInt64(0) : -1;
    s.reset();
    return n;
}

QString TestRegister::text(const QString& sql) {
    Statement s(side(), sql.toStdString());
    const QString t = s.step() ? s.column(0).toString() : QString();
    s.reset();
    return t;
}

QStringList filesIn(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

QString reportsSourceFolder() {
    return QStringLiteral(VANTREL_REPORTS_SOURCE);
}

QString makeProgramFolder(const QString& folder) {
    QDir(folder).mkpath(QStringLiteral("reports"));
    const QDir source(reportsSourceFolder());
    for (const QString& name : source.entryList(QDir::Files)) {
        QFile::copy(source.filePath(name), folder + QStringLiteral("/reports/") + name);
    }
    return folder + QLatin1Char('/');
}

std::unique_ptr<DataModule> openDataModule(const TestRegister& reg) {
    auto dm = std::make_unique<DataModule>();
    dm->ADOConnection1.openFile(reg.path(), QString::fromLatin1(kDefaultFilePassword));
    dm->GroupsTable.open();
    dm->SystemTable.open();
    return dm;
}

QString errorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const VantrelError& e) {
        return e.text();
    }
    return QString();
}

void damagePage(const QString& path, long long page, int offset, int length) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadWrite));
    QVERIFY(f.seek((page - 1) * 4096 + offset));
    QCOMPARE(f.write(QByteArray(length, '\xff')), qint64(length));
    for (const qint64 at : {24, 92}) {
        QVERIFY(f.seek(at));
        QByteArray counter = f.read(4);
        counter[3] = static_cast<char>(counter[3] + 1);
        QVERIFY(f.seek(at));
        f.write(counter);
    }
}
