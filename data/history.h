// The register's history: an entry for every change saved through the program or vnrdb, written in the same
// transaction as the change. Each entry says when (UTC, to the second), who, which asset (or the settings, or a
// group), what was done, and each changed column's old and new value as text in the register's own forms. The
// entries form a chain: each carries a SHA-256 over its own content and the hash of the entry before it, so an
// entry edited, removed or moved behind the program's back breaks the chain where it stood. The program only
// ever adds entries; verifyHistory tells whether the chain is whole and whether what is stored is what the
// entries say.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <functional>
#include <vector>

class Connection;

// One column a change changed, each value as historyValueText gives it.
struct HistoryChange {
    QString column;
    QString before;
    QString after;
    bool operator==(const HistoryChange&) const = default;
};

// A change to one row, to be written when its transaction commits (Connection::recordHistory).
struct HistoryRecord {
    QString table;   // "assets", "System" or "Groups"
    QString subject; // the asset's identifier, "settings" or "group N"
    QString action;  // one of the actions below
    std::vector<HistoryChange> changes;
};

// One stored entry, as the table History holds it.
struct HistoryEntry {
    long long number = 0; // its place in the chain (the row id): the order the changes were saved in
    QString when;         // UTC, "yyyy-MM-dd HH:mm:ss"
    QString who;          // on a file "login@machine", on a server the server login
    QString table;
    QString subject;
    QString action;
    QString changes; // the changed columns, encoded (encodeHistoryChanges)
    QString hash;    // SHA-256 in hex over the entry before's hash and this entry's content
};

// What was done, as entries name it.
namespace HistoryAction {
inline const QString Added = QStringLiteral("Added");
inline const QString Edited = QStringLiteral("Edited");
inline const QString Lent = QStringLiteral("Lent");
inline const QString Returned = QStringLiteral("Returned");
inline const QString WrittenOff = QStringLiteral("Written off");
inline const QString WrittenOffAgain = QStringLiteral("Written off again");
inline const QString Deleted = QStringLiteral("Deleted");
inline const QString Imported = QStringLiteral("Imported");
inline const QString UpdatedByImport = QStringLiteral("Updated by import");
// An asset a stock-take found at its own location, recorded elsewhere, moved there as the stock-take closed.
inline const QString MovedByStockTake = QStringLiteral("Moved by stock-take");
// The state of every row when a register of an older version started keeping history.
inline const QString HistoryBegins = QStringLiteral("History begins");
} // namespace HistoryAction

// Whether rows of table get history entries: assets, System and Groups.
bool tableKeepsHistory(const QString& table);
// The column whose value names a row of table in its entries ("ASSETID", "GroupNumber"); empty for System.
QString historyKeyColumn(const QString& table);
// What entries call a row of table whose key column holds key: the identifier, "settings", "group N".
QString historySubject(const QString& table, const QString& key);

// A stored value of column of table as text in the register's own forms, the same whichever engine holds it:
// no value is empty, yes/no "True" or "False", an amount its shortest exact decimal with '.', a date as stored
// (yyyy-mm-dd), a text as it is.
QString historyValueText(const QString& table, const QString& column, const QVariant& stored);
// The text of a column that holds nothing yet: "False" for yes/no, else empty. A new row starts so, and a
// deleted one ends so.
QString historyBlankText(const QString& table, const QString& column);
// The change of column from before to after (stored values), or false when their texts are the same. The
// access password's values are never written out, only that it changed.
bool historyChange(const QString& table, const QString& column, const QVariant& before, const QVariant& after,
                   HistoryChange* change);
// A column of a table as its history entries write it, looked up once: for a change of many rows, which asks the
// same of every row.
struct HistoryColumn {
    enum class Kind { Text, Boolean, Money };
    QString name; // the register's spelling
    Kind kind = Kind::Text;
    bool hidden = false; // only that it changed is written
};
HistoryColumn historyColumn(const QString& table, const QString& column);
// historyChange of the column looked up.
bool historyChange(const HistoryColumn& column, const QVariant& before, const QVariant& after, HistoryChange* change);
// The action of an edit of a row of table that made changes: on an asset, a write-off, a second write-off, a
// loan or a return, told by the columns it changed; afterText gives a column's text after the edit.
QString historyEditAction(const QString& table, const std::vector<HistoryChange>& changes,
                          const std::function<QString(const QString& column)>& afterText);

// The changed columns as the entry stores them, and back; decode throws DatabaseError for a text that is not
// such a list.
QString encodeHistoryChanges(const std::vector<HistoryChange>& changes);
// The same list in UTF-8, as it is stored and hashed.
QByteArray encodeHistoryChangesUtf8(const std::vector<HistoryChange>& changes);
std::vector<HistoryChange> decodeHistoryChanges(const QString& encoded);
// One change as a person reads it: "Borrower: '' -> 'Zoë Nowak'".
QString describeHistoryChange(const HistoryChange& change);
// The hash an entry must carry after the entry whose hash is previous (empty for the first entry): the SHA-256, in
// lower-case hex, of previous, when, who, table, subject, action and changes in UTF-8, each as its length in bytes
// in decimal, a colon and its bytes. An engine that makes the hash itself makes it of the same text.
QString historyHash(const QString& previous, const HistoryEntry& entry);

// Requires: a transaction is open on c. Writes records as the next entries of the chain, stamped with the
// register's time and user now (through its engine, Engine::appendHistory).
void appendHistory(Connection& c, const std::vector<HistoryRecord>& records);
// Requires: a transaction on c that holds the register's write lock, so that nobody else adds entries until it
// ends. Writes records as the next entries of the chain, as who at when, each hash made here: how the file
// engine writes them.
void writeHistoryEntries(Connection& c, const std::vector<HistoryRecord>& records, const QString& who,
                         const QString& when);

// Requires: a transaction is open on c. An entry "History begins" for the settings, every group and every asset,
// holding each column that is not blank: the point the chain starts from for a register that kept no history.
void recordExistingRows(Connection& c);

// Which entries readHistory gives, and in which order.
struct HistoryFilter {
    QString asset; // only the entries of the asset with this identifier; all when empty
    QString since; // only entries saved at or after this UTC time ("yyyy-MM-dd[ HH:mm[:ss]]"); all when empty
    bool newestFirst = false;
};
std::vector<HistoryEntry> readHistory(const Connection& c, const HistoryFilter& filter);

// What verifyHistory found. Each finding is a sentence naming the entry or the row it is about.
struct HistoryVerdict {
    long long entries = 0;
    long long firstBreak = 0;    // the first entry whose hash does not follow; 0 when the chain is whole
    long long breaks = 0;        // how many entries do not follow the one before them
    long long disagreements = 0; // rows, and entries, that disagree with what the entries before them say
    QStringList findings;        // at most kHistoryFindingsListed of each kind
    bool whole() const { return breaks == 0 && disagreements == 0; }
};
constexpr int kHistoryFindingsListed = 20;
// Requires: c holds a register that keeps history, and no transaction is open on it. Reads every entry once, in
// order, and checks that each follows the one before it; replays them to tell an entry whose old value is not
// what the entries before it left (a change made behind the program's back in between), a stored row whose
// values are not what its last entry says, a row without an entry that adds it, and a row its entries say is
// there that is not. Reads one consistent state of the register.
HistoryVerdict verifyHistory(Connection& c);
