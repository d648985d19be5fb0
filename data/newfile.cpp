// Moving a finished file into place without ever replacing another: a hard link fails when the name is taken,
// in one step, so two programs making the same file cannot both succeed. On a file system without hard links
// the rename that Qt does refuses an existing name too.
// Whatever wrote the file chose its mode: a register is built private (0600), and SQLite left to itself makes
// a database 0644 less the umask, never writable by the group however the user's umask is set. The mode is
// therefore given to the finished file before it is moved into place.
#include "data/newfile.h"

#include "data/errors.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The umask as Linux reports it ("Umask:\t0002"); nullopt where the line is missing (before Linux 4.7, or
// without /proc).
std::optional<mode_t> reportedUmask() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    for (QByteArray line = status.readLine(); !line.isEmpty(); line = status.readLine()) {
        if (line.startsWith("Umask:")) {
            bool ok = false;
            const uint mask = line.mid(6).trimmed().toUInt(&ok, 8);
            return ok ? std::optional<mode_t>(mask & 0777) : std::nullopt;
        }
    }
    return std::nullopt;
}

} // namespace

mode_t newFileMode() {
    std::optional<mode_t> mask = reportedUmask();
    if (!mask) {
        // The umask can only be read by setting it; a file another thread makes in that moment gets mode 0666,
        // which is why this is the last resort.
        mask = ::umask(0);
        ::umask(*mask);
    }
    return 0666 & ~*mask;
}

bool giveNewFileMode(const QString& path) {
    // Opened without following a link, and changed through the open file: what is changed is the file at
    // path, even if someone else with a say in the folder puts a link there meanwhile.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool given = ::fchmod(fd, newFileMode()) == 0 || errno == EPERM || errno == ENOTSUP;
    const int error = errno;
    ::close(fd);
    errno = error;
    return given;
}

QString temporaryNameBeside(const QString& path) {
    const QFileInfo info(path);
    for (;;) {
        const QString name = info.absolutePath() + QStringLiteral("/.") + info.fileName() +
                             QStringLiteral(".%1.partial").arg(QRandomGenerator::system()->generate64(), 0, 36);
        if (!QFileInfo::exists(name) && !QFileInfo(name).isSymLink()) {
            return name;
        }
    }
}

void moveIntoPlace(const QString& temporary, const QString& path) {
    const auto taken = [&] {
        return DatabaseError(QStringLiteral("The file '%1' already exists; it is never written over.")
                                 .arg(QDir::toNativeSeparators(path)));
    };
    if (!giveNewFileMode(temporary)) {
        const int error = errno;
        throw DatabaseError(QStringLiteral("The file '%1' could not be made: %2")
                                .arg(QDir::toNativeSeparators(path), QString::fromLocal8Bit(std::strerror(error))));
    }
    if (::link(QFile::encodeName(temporary).constData(), QFile::encodeName(path).constData()) == 0) {
        ::unlink(QFile::encodeName(temporary).constData());
        return;
    }
    const int error = errno;
    if (error == EEXIST) {
        throw taken();
    }
    if (error != EPERM && error != ENOTSUP && error != ENOSYS) {
        throw DatabaseError(QStringLiteral("The file '%1' could not be made: %2")
                                .arg(QDir::toNativeSeparators(path), QString::fromLocal8Bit(std::strerror(error))));
    }
    if (QFileInfo::exists(path) || QFileInfo(path).isSymLink()) {
        throw taken();
    }
    QFile file(temporary);
    if (!file.rename(path)) {
        throw DatabaseError(QStringLiteral("The file '%1' could not be made: %2")
                                .arg(QDir::toNativeSeparators(path), file.errorString()));
    }
}

void discardPartialFile(const QString& temporary) {
    QFile::remove(temporary);
    QFile::remove(temporary + QStringLiteral("-journal"));
}
