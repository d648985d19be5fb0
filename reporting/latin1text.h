// Report pages are 8-bit Latin-1 text, as the templates are and the page view reads them; a character beyond
// Latin-1 is written as a numeric character reference, so every character of the register reaches the page.
#pragma once

#include <QByteArrayView>

class QByteArray;
class QString;

// Appends text to out as 8-bit text: Latin-1 characters as they are, every other character (a surrogate pair
// is one character) as a numeric character reference such as &#8364;, which the page view turns back into
// that character. With escapeHtml the characters QString::toHtmlEscaped escapes are written as its entities.
void appendEightBit(QByteArray& out, const QString& text, bool escapeHtml = false);
// Appends n bytes at the end of out, which keeps room for them: a long report appends millions of short
// pieces, and QByteArray::append takes several times as long for each.
void appendBytes(QByteArray& out, const char* bytes, qsizetype n);
// The same for text given as UTF-8, written exactly as appendEightBit writes QString::fromUtf8(utf8).
void appendEightBit(QByteArray& out, QByteArrayView utf8, bool escapeHtml = false);
