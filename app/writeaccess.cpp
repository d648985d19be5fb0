// Refusing a change before any typing is lost to it.
#include "app/writeaccess.h"

#include "data/connection.h"
#include "widgets/dialogs.h"

#include <QCursor>
#include <QGuiApplication>

bool mayChangeRegister(Connection& connection) {
    // In the first seconds after a large register opens, its pages and values may still be being checked.
    {
        const QGuiApplication* gui = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
        if (gui) {
            QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
        }
        connection.awaitOpeningChecks();
        if (gui) {
            QGuiApplication::restoreOverrideCursor();
        }
    }
    const QString refusal = connection.writeRefusal();
    if (refusal.isEmpty()) {
        return true;
    }
    Dialogs::showMessage(refusal);
    return false;
}
