// The run's page folder. It is named at random ("run-" and eight hex digits) and claimed by taking its lock
// file, which QLockFile keeps while the process lives; a lock whose process is gone can be taken at once,
// which is how a later start knows a folder was abandoned.
#include "reporting/runfolder.h"

#include "data/errors.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <filesystem>

namespace {

// Makes folder (and its parents) and leaves it to its owner alone. Returns the system's reason when the
// folder cannot be made, kept private or written into; empty when it can.
QString makePrivateFolder(const QString& folder) {
    namespace fs = std::filesystem;
    const fs::path path(QFile::encodeName(folder).toStdString());
    std::error_code error;
    fs::create_directories(path, error);
    if (!error) {
        fs::permissions(path, fs::perms::owner_all, fs::perm_options::replace, error);
    }
    if (error) {
        return QString::fromLocal8Bit(error.message());
    }
    // A folder on a read-only mount shows only when a file is created in it.
    QFile probe(folder + QStringLiteral("/.writable"));
    if (!probe.open(QIODevice::WriteOnly)) {
        return probe.errorString();
    }
    probe.remove();
    return QString();
}

} // namespace

QString RunFolder::root() {
    QString base = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (base.isEmpty()) {
        return QStandardPaths::writableLocation(QStandardPaths::CacheLocation) + QStringLiteral("/pages");
    }
    return base + QStringLiteral("/vantrel");
}

void RunFolder::removeAbandoned() {
    const QDir dir(root());
    QStringList runs;
    for (const QString& name : dir.entryList({QStringLiteral("run-*")}, QDir::AllEntries | QDir::NoDotAndDotDot)) {
        const QString run = name.endsWith(QStringLiteral(".lock")) ? name.chopped(5) : name;
        if (!runs.contains(run)) {
            runs.append(run);
        }
    }
    for (const QString& run : runs) {
        QLockFile lock(dir.filePath(run + QStringLiteral(".lock")));
        lock.setStaleLockTime(0);
        if (lock.tryLock(0)) {
            QDir(dir.filePath(run)).removeRecursively();
            lock.unlock();
        }
    }
}

RunFolder::RunFolder() = default;

RunFolder::~RunFolder() {
    if (!path_.isEmpty()) {
        QDir(path_).removeRecursively();
    }
}

void RunFolder::prepare(const QString& picturesFolder) {
    if (!path_.isEmpty()) {
        return;
    }
    const QString root = RunFolder::root();
    const auto fail = [](const QString& folder, const QString& reason) {
        return ControlError(QStringLiteral("Cannot create the folder for report pages %1: %2")
                                .arg(QDir::toNativeSeparators(folder), reason));
    };
    if (const QString reason = makePrivateFolder(root); !reason.isEmpty()) {
        throw fail(root, reason);
    }
    for (int attempt = 0; attempt < 100 && path_.isEmpty(); ++attempt) {
        const QString run =
            root + QStringLiteral("/run-%1").arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
        auto lock = std::make_unique<QLockFile>(run + QStringLiteral(".lock"));
        lock->setStaleLockTime(0);
        if (!lock->tryLock(0)) {
            if (lock->error() == QLockFile::LockFailedError) {
                continue; // the name of a run that is still running
            }
            throw fail(root, QStringLiteral("the lock file %1 cannot be made").arg(lock->error()));
        }
        if (QFileInfo::exists(run)) {
            continue;
        }
        if (const QString reason = makePrivateFolder(run); !reason.isEmpty()) {
            throw fail(run, reason);
        }
        lock_ = std::move(lock);
        path_ = run;
    }
    if (path_.isEmpty()) {
        throw fail(root, QStringLiteral("every name is taken"));
    }
    const QDir installed(picturesFolder);
    const QStringList pictures = installed.entryList(QDir::Files | QDir::Readable);
    for (const QString& name : pictures) {
        if (name.endsWith(QStringLiteral(".htm"), Qt::CaseInsensitive) || name.startsWith(QLatin1Char('~'))) {
            continue;
        }
        // A picture that cannot be copied shows as a gap on the page; the report itself is still whole.
        QFile::copy(installed.filePath(name), path_ + QLatin1Char('/') + name);
    }
}
