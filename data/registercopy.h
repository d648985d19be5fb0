// Moving a register between a file and a server, and telling whether two registers hold the same.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVariant>

class Connection;

// What a register holds, engine aside: its rows per table and a digest over every row and value.
struct RegisterSummary {
    long long assets = 0;
    long long groups = 0;
    long long settings = 0;
    long long history = 0;    // entries
    long long stockTakes = 0; // stock-takes, open or closed
    long long scans = 0;      // their scans
    QByteArray digest;        // SHA-256, hex

    bool operator==(const RegisterSummary&) const = default;
};

// A stored value as registerRows writes it.
QString registerValueText(const QVariant& value);
// One line per row of the register's tables (RegisterFile, System, Groups, assets, History, StockTakes,
// StockTakeScans, in row id order), each value written the same way whichever engine holds it: NULL, a number in
// its shortest exact form (a whole number without a point), a text with its length. Two registers with the same
// lines hold the same.
QStringList registerRows(const Connection& c);
// The counts and the digest of registerRows.
RegisterSummary summariseRegister(const Connection& c);

// Copies the register at from to to (each a register file's path, a server file's path or a server's
// postgresql:// address): every row of every table with its row id, and the file password. A file is made
// new (never over an existing one) and a server database must exist and hold no register. The copy is
// written in one transaction, read from one consistent state of from, and checked afterwards by counting
// and by comparing digests; the summary of both. Throws DatabaseError and leaves nothing at to.
RegisterSummary copyRegister(const QString& from, const QString& to);
