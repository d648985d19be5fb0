// Report text as 8-bit Latin-1. The encoding is done in place in the output buffer: a report writes
// hundreds of thousands of cells, nearly all of them plain Latin-1, so the common case is one tight copy with
// no string built on the way.
#include "reporting/latin1text.h"

#include <QByteArray>
#include <QString>
#include <cstring>

namespace {

// The HTML entity for c where QString::toHtmlEscaped writes one; null for any other character.
const char* htmlEntity(char16_t c) {
    switch (c) {
    case u'<':
        return "&lt;";
    case u'>':
        return "&gt;";
    case u'&':
        return "&amp;";
    case u'"':
        return "&quot;";
    default:
        return nullptr;
    }
}

} // namespace

void appendEightBit(QByteArray& out, const QString& text, bool escapeHtml) {
    const qsizetype n = text.size();
    const auto* chars = reinterpret_cast<const char16_t*>(text.utf16());
    const auto special = [escapeHtml](char16_t c) { return c >= 256 || (escapeHtml && htmlEntity(c) != nullptr); };
    // Nearly every line is plain Latin-1 through and through: copied in one tight pass.
    const qsizetype start = out.size();
    out.resize(start + n);
    char* bytes = out.data() + start;
    qsizetype i = 0;
    while (i < n && !special(chars[i])) {
        bytes[i] = static_cast<char>(chars[i]);
        ++i;
    }
    if (i == n) {
        return;
    }
    out.resize(start + i);
    for (; i < n; ++i) {
        const char16_t c = chars[i];
        if (const char* entity = escapeHtml ? htmlEntity(c) : nullptr) {
            out.append(entity);
            continue;
        }
        if (c < 256) {
            out.append(static_cast<char>(c));
            continue;
        }
        char32_t code = c;
        if (QChar::isHighSurrogate(c) && i + 1 < n && QChar::isLowSurrogate(chars[i + 1])) {
            code = QChar::surrogateToUcs4(c, chars[i + 1]);
            ++i;
        }
        out.append("&#", 2);
        out.append(QByteArray::number(static_cast<uint>(code)));
        out.append(';');
    }
}

void appendEightBit(QByteArray& out, QByteArrayView utf8, bool escapeHtml) {
    // Plain ASCII, the bulk of a register's texts, is the same bytes in UTF-8 and in Latin-1: copied as it
    // is. Anything else takes the way through QString, so that malformed UTF-8 reads as it does everywhere.
    const qsizetype n = utf8.size();
    qsizetype i = 0;
    while (i < n) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        if (c >= 0x80 || (escapeHtml && htmlEntity(c) != nullptr)) {
            break;
        }
        ++i;
    }
    if (i < n) {
        appendEightBit(out, QString::fromUtf8(utf8), escapeHtml);
        return;
    }
    appendBytes(out, utf8.data(), n);
}

void appendBytes(QByteArray& out, const char* bytes, qsizetype n) {
    const qsizetype at = out.size();
    out.resize(at + n);
    if (n > 0) {
        std::memcpy(out.data() + at, bytes, static_cast<size_t>(n));
    }
}
