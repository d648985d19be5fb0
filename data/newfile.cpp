// Moving a finished file into place without ever replacing another: a hard link fails when the name is taken,
// in one step, so two programs making the same file cannot both succeed. On a file system without hard links
// the rename that Qt does refuses an existing name too.
#include "data/newfile.h"

#include "data/errors.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <cerrno>
#include <cstring>
#include <unistd.h>

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
