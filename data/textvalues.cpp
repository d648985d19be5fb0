// Text forms of dates, numbers and booleans, as the user types and reads them.
#include "data/textvalues.h"

#include "data/errors.h"

#include <QLocale>
#include <QRegularExpression>
#include <QStringList>
#include <algorithm>
#include <charconv>
#include <cmath>

namespace {

QString invalid(const char* pattern, const QString& text) {
    return QString::fromLatin1(pattern).arg(text);
}

} // namespace

QString shortDateFormat() {
    QString f = QLocale().dateFormat(QLocale::ShortFormat);
    // Registers live for decades: always show four-digit years.
    if (!f.contains(QLatin1String("yyyy"))) {
        f.replace(QLatin1String("yy"), QLatin1String("yyyy"));
    }
    return f;
}

QString longTimeFormat() {
    QString f = QLocale().timeFormat(QLocale::LongFormat);
    // The long format may carry a time zone name; a stored time has none.
    f.remove(QLatin1Char('t'));
    return f.trimmed();
}

QString dateToText(const QDate& date) {
    return date.isValid() ? QLocale().toString(date, shortDateFormat()) : QString();
}

QString dateTimeToText(const QDateTime& value, bool hasTime) {
    if (!value.isValid()) {
        return QString();
    }
    QString text = dateToText(value.date());
    if (hasTime) {
        text += QLatin1Char(' ') + QLocale().toString(value.time(), longTimeFormat());
    }
    return text;
}

namespace {

// The order in which the locale's short date writes day, month and year, e.g. "dMy" or "Mdy".
QString dateOrder() {
    const QString f = QLocale().dateFormat(QLocale::ShortFormat);
    QString order;
    for (const QChar c : f) {
        const QChar k = c == QLatin1Char('M') ? c : c.toLower();
        if ((k == QLatin1Char('d') || k == QLatin1Char('M') || k == QLatin1Char('y')) && !order.contains(k)) {
            order += k;
        }
    }
    return order.size() == 3 ? order : QStringLiteral("Mdy");
}

// Day, month and year written as numbers in the locale's order: one or two digits for day and month, two or
// four for the year, separated by '/', '.' or '-'. A two-digit year is 1950 to 2049.
QDate parseNumericDate(const QString& t) {
    const QStringList parts = t.split(QRegularExpression(QStringLiteral("[/.\\-]")));
    if (parts.size() != 3) {
        return QDate();
    }
    const QString order = dateOrder();
    int day = 0;
    int month = 0;
    int year = 0;
    for (int i = 0; i < 3; ++i) {
        const QString& p = parts[i];
        const bool digits = !p.isEmpty() && std::all_of(p.begin(), p.end(), [](QChar c) {
            return c >= QLatin1Char('0') && c <= QLatin1Char('9');
        });
        if (!digits) {
            return QDate();
        }
        const int v = p.toInt();
        switch (order[i].unicode()) {
        case 'd':
            if (p.size() > 2) {
                return QDate();
            }
            day = v;
            break;
        case 'M':
            if (p.size() > 2) {
                return QDate();
            }
            month = v;
            break;
        default:
            if (p.size() == 2) {
                year = v < 50 ? 2000 + v : 1900 + v;
            } else if (p.size() == 4) {
                year = v;
            } else {
                return QDate();
            }
        }
    }
    return QDate(year, month, day);
}

} // namespace

QDate parseDate(const QString& text) {
    const QString t = text.trimmed();
    QDate d;
    static const QRegularExpression iso(QStringLiteral("^\\d{4}-\\d{2}-\\d{2}$"));
    if (iso.match(t).hasMatch()) {
        d = QDate::fromString(t, Qt::ISODate);
    } else {
        d = parseNumericDate(t);
        if (!d.isValid()) {
            // The locale's own short form, which may name the month ("15 Mar 2026").
            d = QLocale().toDate(t, shortDateFormat());
        }
    }
    // Stored dates are ISO text, which has room for years 1 to 9999 only.
    if (!d.isValid() || d.year() < 1 || d.year() > 9999) {
        throw ConversionError(invalid("'%1' is not a valid date", text));
    }
    return d;
}

double parseFloat(const QString& text) {
    bool ok = false;
    const QString t = text.trimmed();
    double v = QLocale().toDouble(t, &ok);
    if (!ok) {
        // A plain C-form number is accepted whatever the locale's separator.
        v = t.toDouble(&ok);
    }
    if (!ok || !std::isfinite(v)) {
        throw ConversionError(invalid("'%1' is not a valid floating point value", text));
    }
    return v;
}

int parseInteger(const QString& text) {
    bool ok = false;
    const int v = text.trimmed().toInt(&ok, 10);
    if (!ok) {
        throw ConversionError(invalid("'%1' is not a valid integer value", text));
    }
    return v;
}

bool parseBoolean(const QString& text) {
    const QString t = text.trimmed();
    if (t.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0) {
        return true;
    }
    if (t.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0) {
        return false;
    }
    throw ConversionError(invalid("'%1' is not a valid boolean value", text));
}

QString numberToText(double value) {
    if (value == 0 || !std::isfinite(value)) {
        return value == 0 ? QStringLiteral("0") : QString::number(value);
    }
    // Fifteen significant digits, written out in full: a register shows amounts, never "1e+15".
    const int exponent = static_cast<int>(std::floor(std::log10(std::fabs(value))));
    QString s = QString::number(value, 'f', std::max(0, 14 - exponent));
    if (s.contains(QLatin1Char('.'))) {
        while (s.endsWith(QLatin1Char('0'))) {
            s.chop(1);
        }
        if (s.endsWith(QLatin1Char('.'))) {
            s.chop(1);
        }
    }
    const QString point = QLocale().decimalPoint();
    if (point != QLatin1String(".")) {
        s.replace(QLatin1Char('.'), point);
    }
    return s;
}

QString plainNumberText(double value) {
    char buffer[400];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
    return QString::fromLatin1(buffer, result.ptr - buffer);
}

QString dateToStored(const QDate& date) {
    return date.toString(Qt::ISODate);
}

QDateTime storedToDateTime(const QString& stored, bool* hasTime) {
    if (hasTime) {
        *hasTime = false;
    }
    if (stored.size() == 10) {
        const QDate d = QDate::fromString(stored, Qt::ISODate);
        return d.isValid() ? QDateTime(d, QTime(0, 0)) : QDateTime();
    }
    QDateTime dt = QDateTime::fromString(stored, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    if (!dt.isValid()) {
        dt = QDateTime::fromString(stored, Qt::ISODate);
    }
    if (dt.isValid() && hasTime) {
        *hasTime = true;
    }
    return dt;
}
