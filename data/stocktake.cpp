// Stock-takes and their scans in the register. The statements run on either engine: the raw ones are written in
// the SQL both take, the lists in the Jet dialect and translated. A location is compared as lower(trim(...)) on
// both sides, which is each engine's own comparison of the register's texts without regard to case (SQLite's
// lower and NOCASE fold ASCII letters, a server's lower and citext every alphabet).
#include "data/stocktake.h"

#include "data/connection.h"
#include "data/errors.h"
#include "data/history.h"
#include "data/jetsql.h"
#include "data/schema.h"

#include <QDateTime>
#include <QSysInfo>
#include <pwd.h>
#include <unistd.h>

namespace {

const char* const kStockTakeColumns =
    "SELECT rowid, Name, Location, ItemGroups, StartedAt, StartedBy, ClosedAt, ClosedBy FROM StockTakes";

struct OutcomeName {
    ScanOutcome outcome;
    const char* key;
};
constexpr OutcomeName kOutcomes[] = {{ScanOutcome::Found, "found"},
                                     {ScanOutcome::Elsewhere, "elsewhere"},
                                     {ScanOutcome::WrittenOff, "written off"},
                                     {ScanOutcome::NotExpected, "not expected"},
                                     {ScanOutcome::Repeat, "repeat"},
                                     {ScanOutcome::Unknown, "unknown"}};

QString nowUtc() {
    return QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

// Who is scanning: the login and the machine, as a file's history names them. A desk's scans are told apart by
// it on a server too, where several desks may share one server login.
QString deskUser() {
    static const QString user = [] {
        const passwd* pw = ::getpwuid(::geteuid());
        return (pw ? QString::fromLocal8Bit(pw->pw_name) : QString::number(::geteuid())) + QLatin1Char('@') +
               QSysInfo::machineHostName();
    }();
    return user;
}

QString textOf(const Statement& s, int column) {
    return s.columnText(column).value_or(s.column(column).toString());
}

StockTake stockTakeFrom(const Statement& s) {
    StockTake t;
    t.id = s.columnInt64(0);
    t.name = textOf(s, 1);
    t.location = textOf(s, 2);
    t.groups = textOf(s, 3).split(QLatin1Char(','), Qt::SkipEmptyParts);
    t.startedAt = textOf(s, 4);
    t.startedBy = textOf(s, 5);
    t.closedAt = textOf(s, 6);
    t.closedBy = textOf(s, 7);
    return t;
}

std::vector<StockTake> readStockTakes(const Connection& c, const std::string& condition, const QString& bound) {
    Statement s(c, std::string(kStockTakeColumns) + condition + " ORDER BY rowid DESC");
    if (!bound.isNull()) {
        s.bindText(1, bound);
    }
    std::vector<StockTake> found;
    while (s.step()) {
        found.push_back(stockTakeFrom(s));
    }
    return found;
}

// The expected set as a Jet condition on assets, prefix naming the table where a statement reads two.
QString expectedCondition(const StockTake& t, const QString& prefix) {
    QString condition = prefix + QStringLiteral("WrittenOff = FALSE");
    if (!t.location.isEmpty()) {
        condition += QStringLiteral(" AND lower(trim(%1Location)) = lower(trim(%2))").arg(prefix, jetQuote(t.location));
    }
    if (!t.groups.isEmpty()) {
        QStringList quoted;
        for (const QString& g : t.groups) {
            quoted << jetQuote(g);
        }
        condition += QStringLiteral(" AND trim(%1ItemGroup) IN (%2)").arg(prefix, quoted.join(QStringLiteral(", ")));
    }
    return condition;
}

std::string translated(const Connection& c, const QString& jet) {
    return translateJetSql(jet, c.dialect()).sql;
}

void insertScan(Connection& c, long long stockTake, const ScanAnswer& a, bool counted, const QString& when) {
    Statement insert(c,
                     std::string("INSERT INTO StockTakeScans (StockTake, Scanned, AssetId, Outcome, "
                                 "RecordedLocation, Counted, ScannedAt, ScannedBy) VALUES (?, ?, ?, ?, ?, ?, ?, ?)") +
                         (counted ? " ON CONFLICT DO NOTHING" : ""));
    insert.bindInt64(1, stockTake);
    insert.bindText(2, a.scanned);
    insert.bind(3, a.assetId.isEmpty() ? QVariant() : QVariant(a.assetId));
    insert.bindText(4, outcomeKey(a.outcome));
    insert.bind(5, a.assetId.isEmpty() || a.location.isNull() ? QVariant() : QVariant(a.location));
    insert.bindInt64(6, counted ? 1 : 0);
    insert.bindText(7, when);
    insert.bindText(8, deskUser());
    insert.step();
}

// The assets closing would move, with their Location exactly as stored, for the guard of the move.
struct StoredRelocation {
    QString assetId;
    QVariant from;
};

std::vector<StoredRelocation> readRelocations(const Connection& c, const StockTake& t) {
    std::vector<StoredRelocation> found;
    if (t.location.isEmpty()) {
        return found;
    }
    Statement s(c, "SELECT assets.ASSETID, assets.Location FROM StockTakeScans JOIN assets ON assets.ASSETID = "
                   "StockTakeScans.AssetId WHERE StockTakeScans.StockTake = ? AND StockTakeScans.Counted = 1 AND "
                   "assets.WrittenOff = 0 AND (assets.Location IS NULL OR lower(trim(assets.Location)) <> "
                   "lower(trim(?))) ORDER BY assets.ASSETID");
    s.bindInt64(1, t.id);
    s.bindText(2, t.location);
    while (s.step()) {
        found.push_back({textOf(s, 0), s.column(1)});
    }
    return found;
}

// A stock-take's state as stored now: throws when it has gone or has been closed since t was read.
void requireOpen(const Connection& c, const StockTake& t, const QString& refused) {
    Statement s(c, "SELECT ClosedAt, ClosedBy FROM StockTakes WHERE rowid = ?");
    s.bindInt64(1, t.id);
    if (!s.step()) {
        throw DatabaseError(
            QStringLiteral("The stock-take '%1' is no longer in the register; %2").arg(t.name, refused));
    }
    if (const QString closedAt = textOf(s, 0); !closedAt.isEmpty()) {
        throw DatabaseError(QStringLiteral("The stock-take '%1' was closed by %2 at %3 UTC; %4")
                                .arg(t.name, textOf(s, 1), closedAt, refused));
    }
}

} // namespace

QString outcomeKey(ScanOutcome outcome) {
    for (const OutcomeName& o : kOutcomes) {
        if (o.outcome == outcome) {
            return QLatin1String(o.key);
        }
    }
    return QString();
}

std::optional<ScanOutcome> outcomeFromKey(const QString& key) {
    for (const OutcomeName& o : kOutcomes) {
        if (key == QLatin1String(o.key)) {
            return o.outcome;
        }
    }
    return std::nullopt;
}

QString scannedIdentifier(const QString& typed) {
    QString kept;
    kept.reserve(typed.size());
    for (const QChar ch : typed) {
        if (ch.category() != QChar::Other_Control && ch.category() != QChar::Other_Format) {
            kept += ch;
        }
    }
    return kept.trimmed().left(kMaxTextLength);
}

std::vector<StockTake> stockTakes(const Connection& c, bool openOnly) {
    return readStockTakes(c, openOnly ? " WHERE ClosedAt IS NULL" : "", QString());
}

std::optional<StockTake> findStockTake(const Connection& c, const QString& name) {
    std::vector<StockTake> found = readStockTakes(c, " WHERE Name = ?", name.trimmed());
    if (found.empty()) {
        return std::nullopt;
    }
    return found.front();
}

StockTake startStockTake(Connection& c, const QString& name, const QString& location, const QStringList& groups) {
    StockTake t;
    t.name = name.trimmed();
    t.location = location.trimmed();
    if (t.name.isEmpty()) {
        throw ConversionError(QStringLiteral("A stock-take needs a name."));
    }
    for (const auto& [text, what] : {std::pair{&t.name, "name"}, std::pair{&t.location, "location"}}) {
        if (text->size() > kMaxTextLength || text->contains(QChar(0))) {
            throw ConversionError(QStringLiteral("A stock-take's %1 holds at most %2 characters, and never NUL.")
                                      .arg(QLatin1String(what))
                                      .arg(kMaxTextLength));
        }
    }
    for (const QString& g : groups) {
        const QString digit = g.trimmed();
        if (digit.size() != 1 || !digit[0].isDigit() || digit[0].unicode() > '9') {
            throw ConversionError(QStringLiteral("'%1' is not a group: groups are the digits 0 to 9.").arg(g));
        }
        if (!t.groups.contains(digit)) {
            t.groups << digit;
        }
    }
    t.groups.sort();
    t.startedAt = nowUtc();
    t.startedBy = deskUser();
    const auto taken = [&c, &t] {
        if (const std::optional<StockTake> other = findStockTake(c, t.name)) {
            throw DatabaseError(QStringLiteral("There is a stock-take named '%1' already, started by %2 at %3 UTC; "
                                               "give this one another name.")
                                    .arg(other->name, other->startedBy, other->startedAt));
        }
    };
    taken();
    try {
        Connection::Transaction tr(c);
        Statement insert(c, "INSERT INTO StockTakes (Name, Location, ItemGroups, StartedAt, StartedBy) VALUES (?, ?, "
                            "?, ?, ?)");
        insert.bindText(1, t.name);
        insert.bind(2, t.location.isEmpty() ? QVariant() : QVariant(t.location));
        insert.bind(3, t.groups.isEmpty() ? QVariant() : QVariant(t.groups.join(QLatin1Char(','))));
        insert.bindText(4, t.startedAt);
        insert.bindText(5, t.startedBy);
        insert.step();
        t.id = c.lastInsertRowid();
        tr.commit();
    } catch (const DatabaseError&) {
        taken(); // another program started one of that name since the look: say so in words
        throw;
    }
    return t;
}

ScanAnswer recordScan(Connection& c, const StockTake& t, const QString& typed) {
    ScanAnswer a;
    a.scanned = scannedIdentifier(typed);
    if (a.scanned.isEmpty()) {
        throw ConversionError(QStringLiteral("Nothing was scanned."));
    }
    const QString when = nowUtc();
    Connection::Transaction tr(c);
    requireOpen(c, t, QStringLiteral("the scan of %1 was not recorded.").arg(a.scanned));
    bool here = true;
    bool writtenOff = false;
    {
        Statement asset(
            c,
            std::string("SELECT ASSETID, Description, Location, ItemGroup, WrittenOff") +
                (t.location.isEmpty() ? "" : ", CASE WHEN lower(trim(Location)) = lower(trim(?)) THEN 1 ELSE 0 END") +
                " FROM assets WHERE ASSETID = ?");
        int next = 1;
        if (!t.location.isEmpty()) {
            asset.bindText(next++, t.location);
        }
        asset.bindText(next, a.scanned);
        if (asset.step()) {
            a.assetId = textOf(asset, 0);
            a.description = textOf(asset, 1);
            a.location = textOf(asset, 2);
            a.group = textOf(asset, 3).trimmed();
            writtenOff = asset.columnInt64(4) != 0;
            here = t.location.isEmpty() || asset.columnInt64(5) != 0;
        }
        asset.reset();
    }
    if (a.assetId.isEmpty()) {
        a.outcome = ScanOutcome::Unknown;
        insertScan(c, t.id, a, false, when);
    } else {
        a.outcome = writtenOff                                           ? ScanOutcome::WrittenOff
                    : !here                                              ? ScanOutcome::Elsewhere
                    : !t.groups.isEmpty() && !t.groups.contains(a.group) ? ScanOutcome::NotExpected
                                                                         : ScanOutcome::Found;
        insertScan(c, t.id, a, true, when);
        if (c.changes() == 0) {
            // Counted before, by this program or another: the unique index kept this one from counting again.
            Statement first(c, "SELECT Outcome, ScannedAt, ScannedBy FROM StockTakeScans WHERE StockTake = ? AND "
                               "AssetId = ? AND Counted = 1");
            first.bindInt64(1, t.id);
            first.bindText(2, a.assetId);
            if (first.step()) {
                a.counted = outcomeFromKey(textOf(first, 0)).value_or(ScanOutcome::Found);
                a.countedAt = textOf(first, 1);
                a.countedBy = textOf(first, 2);
            }
            first.reset();
            a.outcome = ScanOutcome::Repeat;
            insertScan(c, t.id, a, false, when);
        }
    }
    tr.commit();
    return a;
}

long long countExpected(const Connection& c, const StockTake& t) {
    Statement s(c, translated(c, QStringLiteral("SELECT count(*) FROM assets WHERE ") + expectedCondition(t, {})));
    return s.step() ? s.columnInt64(0) : 0;
}

StockTakeCounts countScans(const Connection& c, const StockTake& t) {
    StockTakeCounts n;
    Statement s(c, "SELECT Outcome, Counted, count(*) FROM StockTakeScans WHERE StockTake = ? GROUP BY Outcome, "
                   "Counted");
    s.bindInt64(1, t.id);
    while (s.step()) {
        const long long count = s.columnInt64(2);
        switch (outcomeFromKey(textOf(s, 0)).value_or(ScanOutcome::Unknown)) {
        case ScanOutcome::Found:
            n.found += count;
            break;
        case ScanOutcome::Elsewhere:
            n.elsewhere += count;
            break;
        case ScanOutcome::WrittenOff:
            n.writtenOff += count;
            break;
        case ScanOutcome::NotExpected:
            n.notExpected += count;
            break;
        case ScanOutcome::Repeat:
            n.repeats += count;
            break;
        case ScanOutcome::Unknown:
            n.unknown += count;
            break;
        }
    }
    return n;
}

std::vector<ScanLine> latestScans(const Connection& c, const StockTake& t, int limit) {
    Statement s(c, "SELECT ScannedAt, ScannedBy, Scanned, AssetId, Outcome FROM StockTakeScans WHERE StockTake = ? "
                   "ORDER BY rowid DESC LIMIT " +
                       std::to_string(std::max(0, limit)));
    s.bindInt64(1, t.id);
    std::vector<ScanLine> lines;
    while (s.step()) {
        lines.push_back({textOf(s, 0), textOf(s, 1), textOf(s, 2), textOf(s, 3),
                         outcomeFromKey(textOf(s, 4)).value_or(ScanOutcome::Unknown)});
    }
    return lines;
}

QStringList stockTakeListStatement(const StockTake& t, StockTakeList list) {
    const QString id = QString::number(t.id);
    const QString scansOfThis = QStringLiteral("StockTakeScans.StockTake = ") + id;
    const QString fromScans = QStringLiteral("FROM StockTakeScans LEFT JOIN assets ON assets.ASSETID = "
                                             "StockTakeScans.AssetId");
    switch (list) {
    case StockTakeList::Missing:
        return {
            QStringLiteral("SELECT ASSETID, Description, Make, Model, SerialNumber, ItemGroup, Location"),
            QStringLiteral("FROM assets"), QStringLiteral("WHERE ") + expectedCondition(t, QStringLiteral("assets.")),
            QStringLiteral("AND NOT EXISTS (SELECT StockTakeScans.AssetId FROM StockTakeScans WHERE ") + scansOfThis +
                QStringLiteral(" AND StockTakeScans.Counted = 1 AND StockTakeScans.AssetId = assets.ASSETID)"),
            QStringLiteral("ORDER BY ASSETID")};
    case StockTakeList::Elsewhere:
        return {QStringLiteral("SELECT StockTakeScans.AssetId AS ASSETID, assets.Description, "
                               "StockTakeScans.RecordedLocation AS RecordedAt, assets.Location AS LocationNow, "
                               "StockTakeScans.ScannedAt AS ScannedUTC, StockTakeScans.ScannedBy"),
                fromScans,
                QStringLiteral("WHERE ") + scansOfThis +
                    QStringLiteral(" AND StockTakeScans.Counted = 1 AND StockTakeScans.Outcome = \"elsewhere\""),
                QStringLiteral("ORDER BY StockTakeScans.AssetId")};
    case StockTakeList::WrittenOff:
        return {QStringLiteral("SELECT StockTakeScans.AssetId AS ASSETID, assets.Description, assets.WrittenOffDate, "
                               "assets.WrittenOffReason, StockTakeScans.RecordedLocation AS RecordedAt, "
                               "StockTakeScans.ScannedAt AS ScannedUTC, StockTakeScans.ScannedBy"),
                fromScans,
                QStringLiteral("WHERE ") + scansOfThis +
                    QStringLiteral(" AND StockTakeScans.Counted = 1 AND StockTakeScans.Outcome = \"written off\""),
                QStringLiteral("ORDER BY StockTakeScans.AssetId")};
    case StockTakeList::Unknown: {
        // Each identifier once, as its first scan read it, since scans of it may differ in letter case.
        const QString unknownOf = QStringLiteral(".StockTake = %1 AND %2.Outcome = \"unknown\" AND %2.Scanned = "
                                                 "s1.Scanned");
        return {QStringLiteral("SELECT s1.Scanned, (SELECT count(*) FROM StockTakeScans s2 WHERE s2") +
                    unknownOf.arg(id, QStringLiteral("s2")) +
                    QStringLiteral(") AS Scans, s1.ScannedAt AS FirstScannedUTC, s1.ScannedBy"),
                QStringLiteral("FROM StockTakeScans s1"),
                QStringLiteral("WHERE s1.StockTake = ") + id + QStringLiteral(" AND s1.Outcome = \"unknown\""),
                QStringLiteral("AND NOT EXISTS (SELECT s3.Scanned FROM StockTakeScans s3 WHERE s3") +
                    unknownOf.arg(id, QStringLiteral("s3")) + QStringLiteral(" AND s3.rowid < s1.rowid)"),
                QStringLiteral("ORDER BY s1.Scanned")};
    }
    case StockTakeList::Found:
        return {QStringLiteral("SELECT StockTakeScans.AssetId AS ASSETID, assets.Description, StockTakeScans.Outcome, "
                               "StockTakeScans.RecordedLocation AS RecordedAt, StockTakeScans.ScannedAt AS ScannedUTC, "
                               "StockTakeScans.ScannedBy"),
                fromScans, QStringLiteral("WHERE ") + scansOfThis + QStringLiteral(" AND StockTakeScans.Counted = 1"),
                QStringLiteral("ORDER BY StockTakeScans.AssetId")};
    }
    return {};
}

std::string stockTakeListSql(const Connection& c, const StockTake& t, StockTakeList list) {
    return translated(c, stockTakeListStatement(t, list).join(QLatin1Char('\n')));
}

QString stockTakeListTitle(const StockTake& t, StockTakeList list) {
    const char* what = list == StockTakeList::Missing      ? "Missing"
                       : list == StockTakeList::Elsewhere  ? "Found, Recorded at Another Location"
                       : list == StockTakeList::WrittenOff ? "Written-off Items Found"
                       : list == StockTakeList::Unknown    ? "Unknown Identifiers"
                                                           : "Everything Found";
    return QStringLiteral("Stock-take %1: %2").arg(t.name, QLatin1String(what));
}

std::vector<Relocation> assetsToMove(const Connection& c, const StockTake& t) {
    std::vector<Relocation> moves;
    for (const StoredRelocation& r : readRelocations(c, t)) {
        moves.push_back({r.assetId, r.from.toString()});
    }
    return moves;
}

int closeStockTake(Connection& c, const StockTake& t, bool move) {
    Connection::Transaction tr(c);
    c.holdWriteLock();
    requireOpen(c, t, QStringLiteral("nothing was changed."));
    int moved = 0;
    if (move) {
        const QString assets = QStringLiteral("assets");
        const QString column = QStringLiteral("Location");
        Statement update(c, "UPDATE assets SET Location = ? WHERE ASSETID = ? AND " +
                                c.sameValueSql(c.quoteName(column), true));
        for (const StoredRelocation& r : readRelocations(c, t)) {
            update.bindText(1, t.location);
            update.bindText(2, r.assetId);
            update.bind(3, r.from);
            update.step();
            update.reset();
            if (c.changes() != 1) {
                throw StaleRowError(QStringLiteral("Another program changed the location of %1 while the stock-take "
                                                   "'%2' was being closed. Nothing was saved; close it again.")
                                        .arg(r.assetId, t.name));
            }
            HistoryRecord record{assets, r.assetId, HistoryAction::MovedByStockTake, {}};
            HistoryChange change;
            if (historyChange(assets, column, r.from, t.location, &change)) {
                record.changes.push_back(std::move(change));
            }
            c.recordHistory(std::move(record));
            ++moved;
        }
    }
    Statement close(c, "UPDATE StockTakes SET ClosedAt = ?, ClosedBy = ? WHERE rowid = ? AND ClosedAt IS NULL");
    close.bindText(1, nowUtc());
    close.bindText(2, deskUser());
    close.bindInt64(3, t.id);
    close.step();
    tr.commit();
    return moved;
}
