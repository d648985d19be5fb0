// The assets of a register as CSV, out and in. The file has a header row of column names and one record per
// asset, every column of table assets in table order: texts as stored, dates as yyyy-mm-dd (empty when
// there is none), yes/no as 0 or 1, amounts with '.' before their decimals. A text that starts with =, +, -, @,
// a tab, a CR or an apostrophe is written with an apostrophe before it, so a spreadsheet never runs it as a
// formula; reading takes one leading apostrophe off a text when one of those characters follows it. A text
// column that holds no value at all is an empty field, one that holds an empty text is "", as the two differ
// in a search. The same file reads the same in every locale, and exporting what was imported gives the same
// bytes.
#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QString>
#include <QStringList>

class QIODevice;

// Writes every asset of the register at path to out, in the order they were added. The register is opened
// with the program's own checks and nothing is written to it. Throws DatabaseError when it cannot be read,
// VantrelError when out refuses a write.
void exportAssets(const QString& path, QIODevice& out);
// The same, into the new file csvPath: written completely beside it first and moved into place only if
// csvPath still does not exist, so it never writes over a file and never leaves half a file.
void exportAssetsToNewFile(const QString& path, const QString& csvPath);

// What an import found. When problems is empty, rows records were read and (unless a dry run) added, and
// blankRows records of nothing but empty or blank fields were passed over.
struct ImportOutcome {
    QStringList problems; // "line N, COLUMN: message", or "line N: message" for the file's form; in line order
    int rows = 0;         // assets added
    int updated = 0;      // assets of the register updated (with update)
    QStringList changes;  // a dry run with update: "ID, COLUMN: 'old' -> 'new'" for each value it would change
    int blankRows = 0;
    QChar separator = QLatin1Char(','); // a semicolon or tab when the header row is separated by one
};

// Adds the assets of csv to the register at path, all in one transaction, or nothing when any value is
// refused. Header names are matched to the columns of assets without regard to case; a header row that names no
// column when split at commas but does when split at semicolons (or tabs) has the whole file read that way; values are
// read in the file's fixed forms (dates yyyy-mm-dd, '.' decimals, yes/no 0/1 or True/False, the fields' length limit);
// a record without an ASSETID gets the next identifier of its group, counting the records before it; a record of
// nothing but empty or blank fields is skipped, and one without a group is refused; an identifier already in the
// register or in the file (letter case aside) is refused, and so is a record that repeats the header row. With dryRun,
// everything is checked and nothing is written. Throws DatabaseError when the register cannot be opened or the change
// cannot be saved (nothing is then saved).
// With update, a record whose identifier the register holds updates that asset's columns the file gives (only
// those; its identifier stays as stored) with the same conversions and checks, in the same transaction.
// The file is read twice, a block at a time, so an import's memory does not grow with the file; csv must be open,
// seekable and unchanged in between (a change between the readings refuses the import).
ImportOutcome importAssets(const QString& path, QIODevice& csv, bool dryRun, bool update = false);
ImportOutcome importAssets(const QString& path, const QByteArray& csv, bool dryRun, bool update = false);
