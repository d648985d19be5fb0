// Register backups. A file is copied byte for byte under a read of it, which no save can come through, while
// its pages are checked: the source stays readable by others throughout, and a program that wants to save
// waits at most as long as the copy takes (well within its lock wait for registers of any size we keep).
// SQLite's online backup, page by page, serves the whole-file checks' copies.
#include "data/backup.h"

#include "data/connection.h"
#include "data/errors.h"
#include "data/newfile.h"
#include "data/registercheck.h"
#include "data/registercopy.h"
#include "data/schema.h"
#include "data/server.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <future>
#include <optional>
#include <sqlite3.h>
#include <unistd.h>
#include <vector>

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

namespace {

// Copies the file at from to the new file to, byte for byte, and flushes it to the disk. The caller holds a
// read of from, so no save can change it meanwhile: a save writes the file only once every read has ended.
void copyBytes(const QString& from, const QString& to) {
    const auto failed = [&](const QString& file) {
        return DatabaseError(QStringLiteral("The copy of the register to '%1' failed: %2")
                                 .arg(file, QString::fromLocal8Bit(std::strerror(errno))));
    };
    const int in = ::open(QFile::encodeName(from).constData(), O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        throw failed(from);
    }
    const std::unique_ptr<int, void (*)(int*)> closeIn(new int(in), [](int* fd) {
        ::close(*fd);
        delete fd;
    });
    const int out = ::open(QFile::encodeName(to).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (out < 0) {
        throw failed(to);
    }
    const std::unique_ptr<int, void (*)(int*)> closeOut(new int(out), [](int* fd) {
        ::close(*fd);
        delete fd;
    });
    // The kernel copies within the file system (copy_file_range); across file systems, or where it cannot,
    // the bytes go through this process a few megabytes at a time.
    bool inKernel = true;
    std::vector<char> buffer;
    for (;;) {
        ssize_t n = 0;
        if (inKernel) {
            n = ::copy_file_range(in, nullptr, out, nullptr, 1 << 30, 0);
            if (n < 0 && (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP)) {
                inKernel = false;
                buffer.resize(4 << 20);
                continue;
            }
        } else {
            n = ::read(in, buffer.data(), buffer.size());
            for (ssize_t done = 0; n > 0 && done < n;) {
                const ssize_t w = ::write(out, buffer.data() + done, static_cast<size_t>(n - done));
                if (w < 0) {
                    throw failed(to);
                }
                done += w;
            }
        }
        if (n < 0) {
            throw failed(inKernel ? to : from);
        }
        if (n == 0) {
            break;
        }
    }
    if (::fdatasync(out) != 0) {
        throw failed(to);
    }
}

// The quick pass of the whole-file checks on the copy at path, when the source could not be checked while
// it was copied.
Damage checkedCopy(const QString& path) {
    Connection copy;
    copy.openForExamining(path);
    return wholeFileDamage(copy, false);
}

} // namespace

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
    // One read of the source, held from before the copy until after it: no other program's save can write
    // the file meanwhile, so the file's bytes are one committed state, and they are copied as they are. That
    // state's pages are checked (quick_check) on a second connection, on the other core, while they are
    // copied. Should the second read not start at once (another program is about to save), the copy is
    // checked after it is made instead.
    Connection from;
    from.openFile(source, QString::fromLatin1(kDefaultFilePassword), false, Connection::WholeFileChecks::Later);
    from.exec("BEGIN");
    Statement fromRead(from, "SELECT count(*) FROM sqlite_master");
    fromRead.step();
    Connection checked;
    checked.openForExamining(source);
    checked.setBusyTimeout(0);
    std::optional<Statement> checkedRead;
    std::future<Damage> damage;
    try {
        checked.exec("BEGIN");
        checkedRead.emplace(checked, "SELECT count(*) FROM sqlite_master");
        checkedRead->step();
        damage = std::async(std::launch::async, [&checked] { return wholeFileDamage(checked, false); });
    } catch (const DatabaseError&) {
        checkedRead.reset();
    }
    const auto stopChecking = [&] {
        if (damage.valid()) {
            checked.interrupt();
            damage.wait();
        }
    };
    PartialFile copy(temporaryNameBeside(destination));
    try {
        copyBytes(source, copy.path());
        const Damage found = damage.valid() ? damage.get() : checkedCopy(copy.path());
        if (found.found()) {
            throw DatabaseError(QStringLiteral("The register file '%1' is damaged: %2. No backup was made. %3")
                                    .arg(source, found.phrases.join(QStringLiteral("; ")), kRestoreDamaged));
        }
    } catch (const DatabaseError& e) {
        stopChecking();
        throw DatabaseError(QString(e.text()).replace(copy.path(), destination));
    }
    copy.placeAt(destination);
}
