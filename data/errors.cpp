// The texts of the register's failures, the same for either engine.
#include "data/errors.h"

const QString kRestoreDamaged = QStringLiteral("Restore the register from a backup copy, or examine it with the "
                                               "register tool (vnrdb check).");

QString failureText(Failure failure, const QString& file, bool writing, const QString& detail) {
    const QString outcome = writing ? QStringLiteral(" Nothing was saved.") : QString();
    switch (failure) {
    case Failure::Busy:
        if (!writing) {
            return QStringLiteral("The register '%1' is busy: another program is saving a change to it. Try again "
                                  "in a moment.")
                .arg(file);
        }
        return QStringLiteral("The register '%1' is locked by another program. Nothing was saved; try again in a "
                              "moment.")
            .arg(file);
    case Failure::Full:
        return QStringLiteral("The disk that holds the register '%1' is full.%2 Make room on it and try again.")
            .arg(file, outcome);
    case Failure::Io:
        return QStringLiteral("The register '%1' could not be %2 (a disk or network error).%3 Check that its disk or "
                              "network folder is reachable and try again.")
            .arg(file, writing ? QStringLiteral("written") : QStringLiteral("read"), outcome);
    case Failure::Unreachable:
        return QStringLiteral("The server of the register '%1' cannot be reached (a network error, or the server "
                              "stopped).%2 Check the network and that the server is running, and try again.")
            .arg(file, outcome);
    case Failure::ReadOnly:
        return QStringLiteral("The register '%1' cannot be changed: the file or its folder is read-only for you.%2")
            .arg(file, outcome);
    case Failure::Damaged:
        return QStringLiteral("The register '%1' is damaged.%2 %3").arg(file, outcome, kRestoreDamaged);
    case Failure::CantOpen:
        return QStringLiteral("The register '%1' or its journal cannot be opened.%2 Check that its folder is "
                              "reachable and that you may write in it.")
            .arg(file, outcome);
    case Failure::Constraint:
        return detail;
    case Failure::Statement:
    case Failure::Other:
        break;
    }
    return file.isEmpty() ? detail : QStringLiteral("The register '%1': %2").arg(file, detail);
}
