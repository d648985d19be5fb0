// Errors are shown where the event entered; nothing below this boundary catches them.
#include "widgets/guard.h"

#include "data/errors.h"
#include "widgets/dialogs.h"

#include <exception>

bool runGuarded(const std::function<void()>& work) {
    try {
        work();
        return true;
    } catch (const VantrelError& e) {
        Dialogs::showError(e.text());
    } catch (const std::exception& e) {
        Dialogs::showError(QString::fromLocal8Bit(e.what()));
    }
    return false;
}
