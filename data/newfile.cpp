// Moving a finished file into place without ever replacing another: a hard link fails when the name is taken,
// in one step, so two programs making the same file cannot both succeed. On a file system without hard links
// the rename that Qt does refuses an existing name too.
// Whatever wrote the file chose its mode: a register is built private (0600), and SQLite left to itself makes
// a database 0644 less the umask, never writable by the group however the user's umask is set. The mode is
// therefore given to the finished file before it is moved into place.
#include "data/newfile.h"

#include "data/errors.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <signal.h>
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

namespace {

// The machine's name, as it appears in the names of the files being built here.
QString thisHost() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || !*name) {
        return QStringLiteral("localhost");
    }
    return QString::fromLocal8Bit(name).replace(QLatin1Char('.'), QLatin1Char('_'));
}

// When this process started, in seconds since the epoch: its boot-relative start in /proc/self/stat.
qint64 processStart() {
    QFile stat(QStringLiteral("/proc/self/stat"));
    QFile boot(QStringLiteral("/proc/stat"));
    if (!stat.open(QIODevice::ReadOnly) || !boot.open(QIODevice::ReadOnly)) {
        return 0;
    }
    const QList<QByteArray> fields = stat.readAll().split(')').last().trimmed().split(' ');
    qint64 bootTime = 0;
    for (QByteArray line = boot.readLine(); !line.isEmpty(); line = boot.readLine()) {
        if (line.startsWith("btime ")) {
            bootTime = line.mid(6).trimmed().toLongLong();
        }
    }
    // starttime is the 22nd field of the line, the 20th after the name.
    return bootTime + fields.value(19).toLongLong() / ::sysconf(_SC_CLK_TCK);
}

// Removes, from folder, the files a writer of this machine was building when it was killed: older than this
// process, made by a process that no longer runs. A file of another machine (a shared folder), of a process
// that still runs, or of a name this program does not give is never touched.
void removeAbandonedPartials(const QString& folder) {
    static const QRegularExpression made(QStringLiteral("^\\..+\\.(.+)-(\\d+)\\.[0-9a-z]+\\.partial(-journal)?$"));
    static const QString host = thisHost();
    static const qint64 started = processStart();
    const QDir dir(folder);
    for (const QFileInfo& file : dir.entryInfoList({QStringLiteral(".*.partial"), QStringLiteral(".*.partial-journal")},
                                                   QDir::Files | QDir::Hidden | QDir::System)) {
        const QRegularExpressionMatch m = made.match(file.fileName());
        if (!m.hasMatch() || m.captured(1) != host || file.isSymLink()) {
            continue;
        }
        const qint64 pid = m.captured(2).toLongLong();
        const bool gone = pid > 0 && pid != ::getpid() && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
        if (gone && file.lastModified().toSecsSinceEpoch() < started) {
            QFile::remove(file.absoluteFilePath());
        }
    }
}

} // namespace

QString temporaryNameBeside(const QString& path) {
    const QFileInfo info(path);
    removeAbandonedPartials(info.absolutePath());
    for (;;) {
        // The machine and the process that builds the file are in its name, so that a later writer can tell
        // one abandoned by a killed process from one still being written.
        const QString name = info.absolutePath() + QStringLiteral("/.") + info.fileName() +
                             QStringLiteral(".%1-%2.%3.partial")
                                 .arg(thisHost())
                                 .arg(::getpid())
                                 .arg(QRandomGenerator::system()->generate64(), 0, 36);
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
