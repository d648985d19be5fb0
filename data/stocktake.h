// Stock-takes: the register checked against the things themselves, room by room. A stock-take names what it
// covers, a location and groups (either may be left open), and so what should be found, its expected set: the
// assets not written off whose Location is the stock-take's (compared trimmed and without regard to letter case, as
// the register compares texts) and whose group is among its groups. Every scan is matched to an asset by its
// identifier without regard to letter case, answered with its outcome and saved in a transaction of its own before
// the answer is given, so a program that is killed loses at most the scan being typed. An asset counts once in a
// stock-take, however often and by however many programs it is scanned: the register's unique index on the
// counted scans decides, and a later scan is kept as a repeat. A stock-take is open until someone closes it;
// closing may move the assets found there but recorded elsewhere to its location, each with its history entry.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>
#include <string>
#include <vector>

class Connection;

struct StockTake {
    long long id = 0; // its row id, which its scans name
    QString name;
    QString location;   // trimmed; empty: any location
    QStringList groups; // group digits; empty: every group
    QString startedAt;  // UTC, "yyyy-MM-dd HH:mm:ss"
    QString startedBy;  // "login@machine"
    QString closedAt;   // empty while it is open
    QString closedBy;
    bool isOpen() const { return closedAt.isEmpty(); }
};

// How a scan is answered, in the order it is decided: no asset has the identifier (Unknown); the asset counted in
// this stock-take already (Repeat); it is written off (WrittenOff); its Location is not the stock-take's
// (Elsewhere); its group is not among the stock-take's (NotExpected); otherwise it is one of the expected (Found).
enum class ScanOutcome { Found, Elsewhere, WrittenOff, NotExpected, Repeat, Unknown };

// The outcome as the register stores it: "found", "elsewhere", "written off", "not expected", "repeat",
// "unknown"; and back, nullopt for any other text.
QString outcomeKey(ScanOutcome outcome);
std::optional<ScanOutcome> outcomeFromKey(const QString& key);

struct ScanAnswer {
    ScanOutcome outcome = ScanOutcome::Unknown;
    QString scanned;     // what was read, as scannedIdentifier made it
    QString assetId;     // the asset's identifier as stored; empty when Unknown
    QString description; // the asset's
    QString location;    // the asset's Location as recorded
    QString group;       // its ItemGroup
    // For a Repeat: how the scan that counted it was answered, when and by whom.
    ScanOutcome counted = ScanOutcome::Found;
    QString countedAt;
    QString countedBy;
};

struct StockTakeCounts {
    long long expected = 0;    // the expected set as the register holds it now
    long long found = 0;       // expected assets scanned
    long long elsewhere = 0;   // assets scanned that are recorded at another location
    long long writtenOff = 0;  // written-off assets scanned
    long long notExpected = 0; // assets scanned at the location but of another group
    long long unknown = 0;     // scans no asset answered
    long long repeats = 0;     // scans of an asset counted already
};

// One scan as the register keeps it.
struct ScanLine {
    QString at; // UTC
    QString by;
    QString scanned;
    QString assetId;
    ScanOutcome outcome = ScanOutcome::Unknown;
};

// What a scanner or a person typed, as an identifier: control characters (a scanner may send a prefix, a
// suffix or a tab) removed wherever they are, blanks around it removed, and at most the longest text a register
// holds.
QString scannedIdentifier(const QString& typed);

// The stock-takes of the register, newest first; only the open ones when openOnly.
std::vector<StockTake> stockTakes(const Connection& c, bool openOnly);
// The stock-take named name, without regard to letter case; nullopt when there is none.
std::optional<StockTake> findStockTake(const Connection& c, const QString& name);
// Starts a stock-take in a transaction of its own. Throws ConversionError for a name that is empty or too long, a
// location too long or a group that is not a digit 0 to 9, and DatabaseError when a stock-take of that name
// exists already.
StockTake startStockTake(Connection& c, const QString& name, const QString& location, const QStringList& groups);
// Requires: typed holds an identifier (scannedIdentifier of it is not empty). Matches it to an asset, decides the
// outcome and saves the scan in a transaction of its own, then answers. Throws DatabaseError, saving nothing,
// when the stock-take has been closed meanwhile or the register refuses the change.
ScanAnswer recordScan(Connection& c, const StockTake& t, const QString& typed);
// How many assets t expects, as the register holds them now: a read of every asset.
long long countExpected(const Connection& c, const StockTake& t);
// The scans of t by outcome (expected left 0): a read of its scans alone.
StockTakeCounts countScans(const Connection& c, const StockTake& t);
// The newest limit scans of t, newest first.
std::vector<ScanLine> latestScans(const Connection& c, const StockTake& t, int limit);

// The lists of a stock-take, each one statement in the Jet dialect (literals, no parameters) for the report
// writer's scratch query and for vnrdb:
//  Missing     the expected assets not scanned, as the register holds them now;
//  Elsewhere   the assets found that were recorded at another location when scanned;
//  WrittenOff  the written-off assets found;
//  Unknown     each identifier no asset answered, with how often and when it was first scanned;
//  Found       every asset counted, with its outcome.
enum class StockTakeList { Missing, Elsewhere, WrittenOff, Unknown, Found };
QStringList stockTakeListStatement(const StockTake& t, StockTakeList list);
// The same statement in the SQL of c's engine, for reading the list without a dataset.
std::string stockTakeListSql(const Connection& c, const StockTake& t, StockTakeList list);
// The list's title, naming the stock-take ("Stock-take Room 4: Missing").
QString stockTakeListTitle(const StockTake& t, StockTakeList list);

// An asset closing would move: found in the stock-take, not written off, recorded at another location now.
struct Relocation {
    QString assetId;
    QString from; // its Location now
};
// The assets closing t with moving would move; none when t covers no location.
std::vector<Relocation> assetsToMove(const Connection& c, const StockTake& t);
// Closes t in one transaction; with move, sets the Location of every asset assetsToMove gives to t's location,
// each with a history entry "Moved by stock-take", changing nothing else. The number of assets moved. Throws
// DatabaseError, saving nothing, when t was closed meanwhile, and StaleRowError when another program changed an
// asset's Location between the look and the move.
int closeStockTake(Connection& c, const StockTake& t, bool move);
