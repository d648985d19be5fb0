// Refusing a change before any typing is lost to it.
#include "app/writeaccess.h"

#include "data/connection.h"
#include "widgets/dialogs.h"

bool mayChangeRegister(Connection& connection) {
    const QString refusal = connection.writeRefusal();
    if (refusal.isEmpty()) {
        return true;
    }
    Dialogs::showMessage(refusal);
    return false;
}
