// What a register must still be after a write failed or the program was killed in the middle of one: a
// sound file, and rows that are each either as before or as after the change, never a mixture.
#pragma once

#include <QMap>
#include <QString>

class Connection;

// The lines of PRAGMA integrity_check joined by line breaks; "ok" for a sound file, and for a server register
// whose rows all read.
QString integrityCheck(const Connection& c);

// Every row of assets, System and Groups as one text of all its columns (as registerValueText writes them), keyed by
// table and identifier ("assets/KLT1001#1", "System#1", "Groups/3#1"); a second row with the same key gets #2.
using RegisterContents = QMap<QString, QString>;
RegisterContents registerContents(const Connection& c);

// The keys whose rows differ between a and b, each with both texts, for a failure message; empty when equal.
QString contentDifferences(const RegisterContents& a, const RegisterContents& b, int limit = 5);

// Opens path with plain SQLite and none of the program's checks, which rolls back a journal left behind by
// a killed writer, and returns integrity_check. For putting a register the program refused back in order.
QString recoverWithPlainSqlite(const QString& path);
