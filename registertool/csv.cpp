// CSV reading works on the decoded text, one character at a time, so a line end inside quotes stays part of
// its field exactly as written (CR LF stays CR LF) and line numbers count the lines a text editor shows.
// A field's QString is null for "no value" (nothing between the commas) and empty for "" (an empty text).
#include "registertool/csv.h"

namespace {

// The length of the UTF-8 sequence at bytes[i], or 0 when it is not one (overlong forms, surrogates and
// values past U+10FFFF included).
int utf8SequenceLength(const QByteArray& bytes, qsizetype i) {
    const auto at = [&](qsizetype k) { return static_cast<unsigned char>(bytes[k]); };
    const unsigned char b = at(i);
    if (b < 0x80) {
        return 1;
    }
    int length = 0;
    unsigned min = 0;
    unsigned value = 0;
    if ((b & 0xE0) == 0xC0) {
        length = 2, min = 0x80, value = b & 0x1F;
    } else if ((b & 0xF0) == 0xE0) {
        length = 3, min = 0x800, value = b & 0x0F;
    } else if ((b & 0xF8) == 0xF0) {
        length = 4, min = 0x10000, value = b & 0x07;
    } else {
        return 0;
    }
    if (i + length > bytes.size()) {
        return 0;
    }
    for (int k = 1; k < length; ++k) {
        if ((at(i + k) & 0xC0) != 0x80) {
            return 0;
        }
        value = (value << 6) | (at(i + k) & 0x3F);
    }
    if (value < min || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
        return 0;
    }
    return length;
}

// The lines holding bytes that are not UTF-8, each once.
std::vector<CsvFlaw> utf8Flaws(const QByteArray& bytes) {
    std::vector<CsvFlaw> flaws;
    int line = 1;
    int reported = 0;
    for (qsizetype i = 0; i < bytes.size();) {
        const char c = bytes[i];
        if (c == '\n' || (c == '\r' && (i + 1 == bytes.size() || bytes[i + 1] != '\n'))) {
            ++line;
        }
        const int length = utf8SequenceLength(bytes, i);
        if (length == 0) {
            if (reported != line) {
                flaws.push_back({line, QStringLiteral("the text is not UTF-8")});
                reported = line;
            }
            ++i;
        } else {
            i += length;
        }
    }
    return flaws;
}

bool isLineEnd(QChar c) {
    return c == QLatin1Char('\n') || c == QLatin1Char('\r');
}

} // namespace

CsvReader::CsvReader(const QByteArray& bytes, QChar separator) : separator_(separator) {
    flaws_ = utf8Flaws(bytes);
    if (!flaws_.empty()) {
        return; // nothing is read from a text that is not what it claims to be
    }
    text_ = QString::fromUtf8(bytes);
    if (text_.startsWith(QChar(0xFEFF))) {
        pos_ = 1;
    }
}

void CsvReader::endLine() {
    const QChar* s = text_.constData();
    const qsizetype n = text_.size();
    if (pos_ < n && s[pos_] == QLatin1Char('\r')) {
        ++pos_;
        if (pos_ < n && s[pos_] == QLatin1Char('\n')) {
            ++pos_;
        }
        ++line_;
    } else if (pos_ < n && s[pos_] == QLatin1Char('\n')) {
        ++pos_;
        ++line_;
    }
}

bool CsvReader::next(CsvRecord& record) {
    const QChar* s = text_.constData();
    const qsizetype n = text_.size();
    while (pos_ < n && isLineEnd(s[pos_])) {
        endLine();
    }
    if (pos_ >= n) {
        return false;
    }
    record.line = line_;
    record.fields.clear();
    record.flawed = false;
    for (;;) {
        if (s[pos_] == QLatin1Char('"')) {
            QString field(QLatin1String("")); // quoted, so an empty text even when nothing follows
            ++pos_;
            for (;;) {
                if (pos_ >= n) {
                    flaws_.push_back({record.line, QStringLiteral("the quoted field %1 is not closed before the end "
                                                                  "of the file")
                                                       .arg(record.fields.size() + 1)});
                    record.flawed = true;
                    return true;
                }
                const QChar c = s[pos_];
                if (c == QLatin1Char('"')) {
                    if (pos_ + 1 < n && s[pos_ + 1] == QLatin1Char('"')) {
                        field += c;
                        pos_ += 2;
                        continue;
                    }
                    ++pos_;
                    break;
                }
                if (c == QLatin1Char('\n') ||
                    (c == QLatin1Char('\r') && (pos_ + 1 == n || s[pos_ + 1] != QLatin1Char('\n')))) {
                    ++line_;
                }
                field += c;
                ++pos_;
            }
            record.fields << field;
            if (pos_ < n && s[pos_] != separator_ && !isLineEnd(s[pos_])) {
                flaws_.push_back(
                    {record.line,
                     QStringLiteral("text follows the closing quote of field %1").arg(record.fields.size())});
                record.flawed = true;
                while (pos_ < n && !isLineEnd(s[pos_])) {
                    ++pos_;
                }
            }
        } else {
            const qsizetype start = pos_;
            while (pos_ < n && s[pos_] != separator_ && !isLineEnd(s[pos_])) {
                ++pos_;
            }
            record.fields << (pos_ == start ? QString() : text_.mid(start, pos_ - start));
        }
        if (pos_ < n && s[pos_] == separator_) {
            ++pos_;
            if (pos_ == n || isLineEnd(s[pos_])) {
                record.fields << QString();
                break;
            }
            continue;
        }
        break;
    }
    endLine();
    return true;
}

void appendCsvField(QString& line, const QString& field) {
    if (field.isNull()) {
        return;
    }
    bool quote = field.isEmpty();
    for (const QChar c : field) {
        if (c == QLatin1Char('"') || c == QLatin1Char(',') || isLineEnd(c)) {
            quote = true;
            break;
        }
    }
    if (!quote) {
        line += field;
        return;
    }
    line += QLatin1Char('"');
    for (const QChar c : field) {
        if (c == QLatin1Char('"')) {
            line += QLatin1Char('"');
        }
        line += c;
    }
    line += QLatin1Char('"');
}

QString csvRecord(const QStringList& fields) {
    QString line;
    for (qsizetype i = 0; i < fields.size(); ++i) {
        if (i) {
            line += QLatin1Char(',');
        }
        appendCsvField(line, fields[i]);
    }
    line += QLatin1String("\r\n");
    return line;
}

// Whether a text starting a cell would be run by a spreadsheet as a formula (=, +, -, @, or a tab or CR before
// one), or starts with the apostrophe that marks such a text. Those texts leave with an apostrophe put before
// them, which a spreadsheet shows nothing of and takes as "this is text"; the import takes exactly that
// apostrophe off again, and only from a text it would have been put on, so every text reads back as it was.
bool needsApostrophe(QStringView text) {
    if (text.isEmpty()) {
        return false;
    }
    switch (text.front().unicode()) {
    case u'=':
    case u'+':
    case u'-':
    case u'@':
    case u'\t':
    case u'\r':
    case u'\'':
        return true;
    default:
        return false;
    }
}
