// Test fixtures shared by every test executable.
#include "tests/support/testregister.h"

#include "data/datamodule.h"
#include "data/dataset.h"
#include "data/errors.h"
#include "data/history.h"
#include "data/newregister.h"
#include "data/schema.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QUrl>
#include <QtTest>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace {

// The cluster's maintenance database: VANTREL_TEST_SERVER, or the first line of VANTREL_TEST_SERVER_FILE.
QString testServer() {
    static const QString address = [] {
        if (!qEnvironmentVariableIsEmpty("VANTREL_TEST_SERVER")) {
            return qEnvironmentVariable("VANTREL_TEST_SERVER");
        }
        QFile f(qEnvironmentVariable("VANTREL_TEST_SERVER_FILE"));
        if (qEnvironmentVariableIsEmpty("VANTREL_TEST_SERVER_FILE")) {
            return QString();
        }
        if (!f.open(QIODevice::ReadOnly)) {
            qFatal("the test cluster's address cannot be read from %s", qPrintable(f.fileName()));
        }
        return QString::fromUtf8(f.readLine()).trimmed();
    }();
    return address;
}

} // namespace

bool testingOnServer() {
    return !testServer().isEmpty();
}

QString makeServerDatabase() {
    static int made = 0;
    const QString name = QStringLiteral("vt_%1_%2_%3")
                             .arg(QCoreApplication::applicationPid())
                             .arg(++made)
                             .arg(QRandomGenerator::global()->bounded(1000000));
    Connection admin;
    admin.connectServer(testServer());
    admin.exec("CREATE DATABASE " + name.toStdString());
    QUrl url(testServer());
    url.setPath(QLatin1Char('/') + name);
    return url.toString();
}

void dropServerDatabase(const QString& uri) {
    Connection admin;
    admin.connectServer(testServer());
    admin.exec("DROP DATABASE IF EXISTS " + QUrl(uri).path().mid(1).toStdString() + " WITH (FORCE)");
}

QString TestRegister::prepare() {
    if (!testingOnServer()) {
        path_ = dir_.filePath(QStringLiteral("vnrdata.mdb"));
        return path_;
    }
    server_ = makeServerDatabase();
    path_ = dir_.filePath(QStringLiteral("vnrdata.server"));
    QFile f(path_);
    if (!f.open(QIODevice::WriteOnly) || f.write(server_.toUtf8() + '\n') < 0) {
        qFatal("cannot write %s", qPrintable(path_));
    }
    return server_;
}

TestRegister::TestRegister() {
    createRegister(prepare());
}

TestRegister::TestRegister(const NewRegister& settings) {
    createRegister(prepare(), settings);
}

TestRegister::~TestRegister() {
    side_.reset();
    if (!server_.isEmpty()) {
        dropServerDatabase(server_);
    }
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
    Connection::Transaction t(side());
    exec(sql);
    // The entry says what the row holds as stored, defaults included.
    const std::string columns = registerColumnList("assets");
    Statement added(side(), "SELECT " + columns + " FROM assets WHERE ASSETID = ?");
    added.bindText(1, id);
    if (added.step()) {
        const QStringList names = QString::fromStdString(columns).split(QStringLiteral(", "));
        QVariantList values;
        for (int i = 0; i < names.size(); ++i) {
            values << added.column(i);
        }
        recordAdded(names, values);
    }
    added.reset();
    t.commit();
}

void TestRegister::recordAdded(const QStringList& columns, const QVariantList& values) {
    const QString assets = QStringLiteral("assets");
    HistoryRecord r{assets, QString(), HistoryAction::Added, {}};
    for (int i = 0; i < columns.size() && i < values.size(); ++i) {
        const QString column = registerName(columns[i].trimmed());
        if (column.compare(QLatin1String("ASSETID"), Qt::CaseInsensitive) == 0) {
            r.subject = historySubject(assets, historyValueText(assets, column, values[i]));
        }
        HistoryChange change;
        if (historyChange(assets, column, QVariant(), values[i], &change)) {
            r.changes.push_back(change);
        }
    }
    side().recordHistory(std::move(r));
}

void TestRegister::recordRowsAsTheyAre() {
    Connection::Transaction t(side());
    recordExistingRows(side());
    t.commit();
}

void TestRegister::lock() {
    exec(side().isServer() ? u"BEGIN; LOCK TABLE assets, System, Groups, RegisterFile IN ACCESS EXCLUSIVE MODE"_s
                           : u"BEGIN EXCLUSIVE"_s);
}

void TestRegister::lockForWriting() {
    exec(side().isServer() ? u"BEGIN; LOCK TABLE assets, System, Groups, RegisterFile IN EXCLUSIVE MODE"_s
                           : u"BEGIN IMMEDIATE"_s);
}

void TestRegister::unlock() {
    exec(u"ROLLBACK"_s);
}

void TestRegister::refuseInserts(const QString& table, const QString& condition, const QString& message) {
    if (side().isServer()) {
        exec(u"CREATE FUNCTION refuse_%1() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN IF %2 THEN RAISE "
             "EXCEPTION '%3'; END IF; RETURN NEW; END $$; CREATE TRIGGER refuse_%1 BEFORE INSERT ON %1 FOR EACH ROW "
             "EXECUTE FUNCTION refuse_%1()"_s.arg(table, condition, message));
    } else {
        exec(u"CREATE TRIGGER refuse_%1 BEFORE INSERT ON %1 WHEN %2 BEGIN SELECT RAISE(ABORT, '%3'); END"_s.arg(
            table, condition, message));
    }
}

void TestRegister::allowInserts(const QString& table) {
    exec(side().isServer() ? u"DROP TRIGGER refuse_%1 ON %1; DROP FUNCTION refuse_%1()"_s.arg(table)
                           : u"DROP TRIGGER refuse_%1"_s.arg(table));
}

void TestRegister::addAssets(const QString& columns, int count, const std::function<QVariantList(int)>& values) {
    constexpr int kRowsPerStatement = 500;
    const int width = static_cast<int>(columns.split(QLatin1Char(',')).size());
    const QString row =
        QLatin1Char('(') + QStringList(width, QStringLiteral("?")).join(QLatin1Char(',')) + QLatin1Char(')');
    Connection::Transaction t(side());
    for (int first = 1; first <= count; first += kRowsPerStatement) {
        const int rows = std::min(kRowsPerStatement, count - first + 1);
        Statement insert(side(), QStringLiteral("INSERT INTO assets (%1) VALUES %2")
                                     .arg(columns, QStringList(rows, row).join(QLatin1Char(',')))
                                     .toStdString());
        int at = 1;
        const QStringList names = columns.split(QLatin1Char(','));
        for (int i = first; i < first + rows; ++i) {
            const QVariantList row = values(i);
            for (const QVariant& v : row) {
                insert.bind(at++, v);
            }
            recordAdded(names, row);
        }
        insert.step();
    }
    t.commit();
}

long long TestRegister::count(const QString& sql) {
    Statement s(side(), sql.toStdString());
    const long long n = s.step() ? s.columnInt64(0) : -1;
    s.reset();
    return n;
}

QString TestRegister::text(const QString& sql) {
    return valueOf(side(), sql).toString();
}

QVariant valueOf(Connection& c, const QString& sql) {
    Statement s(c, sql.toStdString());
    const QVariant v = s.step() ? s.column(0) : QVariant();
    s.reset();
    return v;
}

QStringList filesIn(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

QString modeOf(const QString& path) {
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? QString::number(st.st_mode & 07777, 8) : QString();
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

void openOn(Dataset& ds, const QStringList& lines) {
    ds.close();
    ds.clearSql();
    for (const QString& line : lines) {
        ds.addSql(line);
    }
    ds.open();
}

QStringList columnTexts(const Dataset& ds, const QString& field) {
    QStringList texts;
    const int column = ds.findField(field);
    for (int r = 0; r < ds.recordCount(); ++r) {
        texts << ds.textAt(r, column);
    }
    return texts;
}

void setFields(Dataset& ds, const QList<std::pair<QString, QVariant>>& values) {
    for (const auto& [field, value] : values) {
        if (value.typeId() == QMetaType::Bool) {
            ds.fieldByName(field).setAsBoolean(value.toBool());
        } else if (value.typeId() == QMetaType::QDate) {
            ds.fieldByName(field).setAsDate(value.toDate());
        } else {
            ds.fieldByName(field).setAsString(value.toString());
        }
    }
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

QString errorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const VantrelError& e) {
        return e.text();
    }
    return QString();
}

void changeIndexEntry(const QString& path, const QString& index, const QByteArray& text,
                      const QByteArray& replacement) {
    QCOMPARE(text.size(), replacement.size());
    std::vector<long long> leaves;
    {
        Connection c;
        c.openForExamining(path);
        Statement pages(c, "SELECT pageno FROM dbstat WHERE name = ? AND pagetype = 'leaf'");
        pages.bindText(1, index);
        while (pages.step()) {
            leaves.push_back(pages.columnInt64(0));
        }
    }
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadWrite));
    for (const long long page : leaves) {
        QVERIFY(f.seek((page - 1) * 4096));
        const qsizetype at = f.read(4096).indexOf(text);
        if (at >= 0) {
            QVERIFY(f.seek((page - 1) * 4096 + at));
            QCOMPARE(f.write(replacement), qint64(replacement.size()));
            return;
        }
    }
    QFAIL(qPrintable(QStringLiteral("'%1' is not in the index %2").arg(QString::fromUtf8(text), index)));
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
