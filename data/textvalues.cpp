// Text forms of dates, numbers and booleans, as the user types and reads them.
#include "data/textvalues.h"

#include "data/errors.h"

#include <QLocale>
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

QDate parseDate(const QString& text) {
    const QString t = text.trimmed();
    QLocale locale;
    QDate d = locale.toDate(t, shortDateFormat());
    if (!d.isValid()) {
        QString twoDigit = shortDateFormat();
        twoDigit.replace(QLatin1String("yyyy"), QLatin1String("yy"));
        d = locale.toDate(t, twoDigit);
        if (d.isValid() && d.year() < 1950) {
            d = d.addYears(100);
        }
    }
    if (!d.isValid()) {
        d = QDate::fromString(t, Qt::ISODate);
    }
    if (!d.isValid()) {
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
    QString s = QString::number(value, 'g', 15);
    const QString point = QLocale().decimalPoint();
    if (point != QLatin1String(".")) {
        s.replace(QLatin1Char('.'), point);
    }
    return s;
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
