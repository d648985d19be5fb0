// The register file's schema: the tables assets, System and Groups, the indexes the search walks, and the
// marks that tell our files from any other SQLite file.
#pragma once

#include <QString>

// The password the program's connection string gives for the register file.
extern const char* const kDefaultFilePassword;
// SQLite application_id of a register ("VNTR").
constexpr int kRegisterApplicationId = 0x564E5452;
// The schema version this program writes and reads (SQLite user_version).
constexpr int kRegisterSchemaVersion = 1;
// The longest text a text column holds.
constexpr int kMaxTextLength = 255;

// Makes a new, empty register: the tables, one settings record of empty texts and false, no groups.
// Refuses (DatabaseError) to overwrite an existing file.
void createRegister(const QString& path, const QString& filePassword = QString::fromLatin1(kDefaultFilePassword));

// The salted hash stored for a file password; never the password itself.
QString hashFilePassword(const QString& password, const QString& salt);
