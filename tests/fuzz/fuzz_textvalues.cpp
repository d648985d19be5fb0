// Fuzzes the text forms of values, in a locale the first byte picks. Typed text either converts or is
// refused with a ConversionError. What converts must survive being shown and typed back unchanged, as a
// bound control does on every leaving: a date reads back as the same date, a number as the same number to
// the fifteen significant digits it is shown with, and a shown number is never in scientific notation.
#include "data/errors.h"
#include "data/textvalues.h"

#include <QLocale>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void fault(const char* what, const QString& typed, const QString& shown) {
    std::fprintf(stderr, "%s (locale %s): typed \"%s\", shown \"%s\"\n", what, QLocale().name().toUtf8().constData(),
                 typed.toUtf8().constData(), shown.toUtf8().constData());
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    static const QLocale kLocales[] = {
        QLocale(QLocale::English, QLocale::UnitedStates), QLocale(QLocale::German, QLocale::Germany),
        QLocale(QLocale::French, QLocale::France),        QLocale(QLocale::English, QLocale::UnitedKingdom),
        QLocale(QLocale::Japanese, QLocale::Japan),       QLocale::c(),
    };
    QLocale::setDefault(kLocales[data[0] % std::size(kLocales)]);
    const QString typed = QString::fromUtf8(reinterpret_cast<const char*>(data + 1), static_cast<qsizetype>(size - 1));

    try {
        const QDate d = parseDate(typed);
        if (!d.isValid()) {
            fault("an invalid date was accepted", typed, QString());
        }
        const QString shown = dateToText(d);
        QDate back;
        try {
            back = parseDate(shown);
        } catch (const ConversionError&) {
        }
        if (back != d) {
            fault("a shown date does not read back", typed, shown);
        }
    } catch (const ConversionError&) {
    }

    try {
        const double v = parseFloat(typed);
        if (!std::isfinite(v)) {
            fault("a number that is not finite was accepted", typed, QString());
        }
        const QString shown = numberToText(v);
        if (shown.contains(QLatin1Char('e'), Qt::CaseInsensitive)) {
            fault("a number is shown in scientific notation", typed, shown);
        }
        double back = NAN;
        try {
            back = parseFloat(shown);
        } catch (const ConversionError&) {
        }
        if (!(std::fabs(back - v) <= std::fabs(v) * 1e-14)) {
            fault("a shown number does not read back", typed, shown);
        }
    } catch (const ConversionError&) {
    }

    try {
        const int v = parseInteger(typed);
        if (parseInteger(QString::number(v)) != v) {
            fault("an integer does not read back", typed, QString::number(v));
        }
    } catch (const ConversionError&) {
    }

    try {
        parseBoolean(typed);
    } catch (const ConversionError&) {
    }
    return 0;
}
