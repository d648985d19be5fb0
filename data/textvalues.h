// The text forms of stored values: how dates, numbers and booleans are typed by the user and shown in grids,
// bound controls and reports. Formats follow the default QLocale, so a test can pin them with
// QLocale::setDefault; the year of the short date form always has four digits.
#pragma once

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QVariant>

// The short date format of the default locale, with a four-digit year ("M/d/yyyy" in the United States).
QString shortDateFormat();
// The long time format of the default locale ("h:mm:ss AP" in the United States).
QString longTimeFormat();

QString dateToText(const QDate& date);
// A stored date or date-time value as text: the short date, then a blank and the long time only when the
// value has a time of day.
QString dateTimeToText(const QDateTime& value, bool hasTime);

// Throws ConversionError "'%s' is not a valid date" unless text is a date of the years 1 to 9999: day, month
// and year as numbers in the locale's short-date order (one or two digits for day and month, two or four for
// the year, 1950 to 2049 for two; separated by '/', '.' or '-'), the locale's short form, or ISO yyyy-MM-dd.
QDate parseDate(const QString& text);
// Throws ConversionError "'%s' is not a valid floating point value".
double parseFloat(const QString& text);
// Throws ConversionError "'%s' is not a valid integer value". Surrounding blanks are allowed.
int parseInteger(const QString& text);
// Throws ConversionError "'%s' is not a valid boolean value"; accepts True/False in any case.
bool parseBoolean(const QString& text);

// Plain digits with the locale's decimal separator and at most 15 significant digits (0.1 + 0.2 reads 0.3),
// never in scientific notation.
QString numberToText(double value);
// The shortest text that reads back as exactly value, in plain digits with '.' before the decimals, whatever
// the locale: never an exponent, never rounded. The form amounts take outside the windows (CSV, history).
QString plainNumberText(double value);
// The largest amount of money a register holds is below 10^12 (twelve digits before the point).
constexpr double kMoneyLimit = 1e12;

// Stored form of dates: ISO "yyyy-MM-dd", with " hh:mm:ss" only when a time of day was given.
QString dateToStored(const QDate& date);
// Parses the stored form; returns an invalid QDateTime for anything else. hasTime tells whether a time was stored.
QDateTime storedToDateTime(const QString& stored, bool* hasTime = nullptr);
