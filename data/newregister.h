// A new register with its settings and group names, made in one go. The register tool and the program's
// first-run window both make registers through this unit, so the two accept and refuse the same settings.
#pragma once

#include <QMap>
#include <QString>
#include <QStringList>
#include <functional>

class Connection;

// What a new register starts with: the company, its abbreviation (the asset identifiers' prefix), the access
// password (empty: none) and the names of the asset groups by their digit 0..9.
struct NewRegister {
    QString company;
    QString abbreviation;
    QString password;
    QMap<int, QString> groups;
};
// Makes the register at path holding settings, in one go: a failure leaves no file behind. Refuses
// (DatabaseError) to overwrite an existing file, and (ConversionError or DatabaseError, message naming the field) a
// setting the program's windows would refuse (too long a text, a group digit outside 0..9, ...).
void createRegister(const QString& path, const NewRegister& settings);
// Makes a new register at location (a register file's path, a server file's path or a server's postgresql://
// address) and runs fill on it, all in one transaction: a failure leaves no file behind, and a server's
// database as it was. Refuses (DatabaseError) an existing file, or a database that holds a register. Given
// verify, fill writes a whole register at once, and verify reads it back in the same transaction, after a
// server has made its indexes and statistics (createServerRegister).
void createRegisterWith(const QString& location, const std::function<void(Connection&)>& fill,
                        const std::function<void(Connection&)>& verify = {});
// Requires: a transaction on c, whose register holds none of these groups. Adds the groups named by their
// digit, each with its history entry.
void addGroups(Connection& c, const QMap<int, QString>& groups);
// Every problem with settings as "FIELD: message" lines; empty when they can be stored.
QStringList newRegisterProblems(const NewRegister& settings);
