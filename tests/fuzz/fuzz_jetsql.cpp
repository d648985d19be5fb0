// Fuzzes the translation of statements from the Jet dialect. Any text is either translated or refused
// with a DatabaseError. A translation marked as reading one table lets a dataset run two statements in its
// place, the row ids in order and one row by id; whenever SQLite accepts the translation, it must accept
// those two as well, or the dataset would refuse a statement that is sound. The translation for a server
// must agree with it on both.
#include "data/connection.h"
#include "data/errors.h"
#include "data/jetsql.h"
#include "data/schema.h"

#include <QTemporaryDir>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

Connection* g_register = nullptr;

bool prepares(const std::string& sql, QString* error = nullptr) {
    try {
        Statement s(*g_register, sql);
        return true;
    } catch (const DatabaseError& e) {
        if (error) {
            *error = e.text();
        }
        return false;
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    static QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("vnrdata.mdb"));
    createRegister(path);
    static Connection c;
    c.openFile(path, QString::fromLatin1(kDefaultFilePassword));
    g_register = &c;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    TranslatedSelect t;
    try {
        t = translateJetSql(text);
    } catch (const DatabaseError&) {
        return 0;
    }
    // The server's translation reads the same tokens: it is refused only when the file's is, and finds a
    // one-table statement exactly when the file's does.
    try {
        if (translateJetSql(text, SqlDialect::PostgreSQL).singleTable != t.singleTable) {
            std::fprintf(stderr, "one table for one engine only: %s\n", t.sql.c_str());
            std::abort();
        }
    } catch (const DatabaseError& e) {
        std::fprintf(stderr, "refused for the server only: %s\n%s\n", t.sql.c_str(), e.text().toUtf8().constData());
        std::abort();
    }
    if (!t.singleTable || !prepares(t.sql)) {
        return 0;
    }
    const std::string ids = "SELECT rowid " + t.fromOn;
    const std::string byId = "SELECT rowid, " + t.selectList + " FROM " + t.table + " WHERE rowid = ?";
    for (const std::string& sql : {ids, byId}) {
        QString error;
        if (!prepares(sql, &error)) {
            std::fprintf(stderr, "translated:  %s\nruns whole, but not as: %s\nerror: %s\n", t.sql.c_str(), sql.c_str(),
                         error.toUtf8().constData());
            std::abort();
        }
    }
    return 0;
}
