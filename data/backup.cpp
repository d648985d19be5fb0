// Register backups through SQLite's online backup. The whole file is copied in one step: the source stays
// readable by others throughout, and a program that wants to save waits at most as long as the copy takes
// (well within its lock wait for registers of any size we keep), so the copy never has to start over.
#include "data/backup.h"

#include "data/connection.h"
#include "data/errors.h"
#include "data/newfile.h"
#include "data/registercopy.h"
#include "data/schema.h"
#include "data/server.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <sqlite3.h>

void OnlineBackup::Finisher::operator()(sqlite3_backup* b) const {
    sqlite3_backup_finish(b);
}

OnlineBackup::OnlineBackup(Connection& destination, const Connection& source) {
    backup_.reset(sqlite3_backup_init(destination.handle(), "main", source.handle(), "main"));
    if (!backup_) {
        throw DatabaseError(QStringLiteral("The copy of the register cannot start: %1")
                                .arg(QString::fromUtf8(sqlite3_errmsg(destination.handle()))));
    }
}

OnlineBackup::~OnlineBackup() = default;

bool OnlineBackup::step(int pages, int waitMilliseconds) {
    QDeadlineTimer deadline(waitMilliseconds);
    for (;;) {
        const int rc = sqlite3_backup_step(backup_.get(), pages);
        if (rc == SQLITE_DONE) {
            return true;
        }
        if (rc == SQLITE_OK) {
            return false;
        }
        const int primary = rc & 0xff;
        if ((primary == SQLITE_BUSY || primary == SQLITE_LOCKED) && !deadline.hasExpired()) {
            // Another program is saving; its commit takes moments.
            sqlite3_sleep(20);
            continue;
        }
        // The error lives on the backup, not on either connection: say it by its code.
        const QString reason = primary == SQLITE_BUSY || primary == SQLITE_LOCKED
                                   ? QStringLiteral("the register stayed locked by another program")
                                   : QString::fromUtf8(sqlite3_errstr(rc));
        backup_.reset();
        throw DatabaseError(QStringLiteral("The copy of the register failed: %1.").arg(reason));
    }
}

void backupRegister(const QString& source, const QString& destination) {
    if (QFileInfo::exists(destination) || QFileInfo(destination).isSymLink()) {
        throw DatabaseError(
            QStringLiteral("The file '%1' already exists; a backup is never written over a file.").arg(destination));
    }
    if (isServerUri(source) || source.endsWith(QLatin1String(".server"))) {
        // A server's register is backed up into a register file, row by row from one consistent state.
        copyRegister(source, destination);
        return;
    }
    Connection from;
    from.openFile(source, QString::fromLatin1(kDefaultFilePassword), false);
    PartialFile copy(temporaryNameBeside(destination));
    try {
        Connection to;
        to.createFile(copy.path());
        {
            OnlineBackup backup(to, from);
            backup.step();
        }
        Statement check(to, "PRAGMA quick_check(1)");
        if (!check.step() || check.column(0).toString() != QLatin1String("ok")) {
            throw DatabaseError(QStringLiteral("The copy of the register did not read back whole."));
        }
    } catch (const DatabaseError& e) {
        throw DatabaseError(QString(e.text()).replace(copy.path(), destination));
    }
    copy.placeAt(destination);
}
