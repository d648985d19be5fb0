// CSV reading works on the decoded text, one character at a time, so a line end inside quotes stays part of
// its field exactly as written (CR LF stays CR LF) and line numbers count the lines a text editor shows.
// A field's QString is null for "no value" (nothing between the commas) and empty for "" (an empty text).
#include "registertool/csv.h"

#include <QHashFunctions>

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

constexpr qint64 kBlock = 1 << 20;

// The length a UTF-8 sequence starting with byte b claims, 1 for a byte that cannot start one.
int claimedLength(unsigned char b) {
    return (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 1;
}

// The lines holding bytes that are not UTF-8, each once, read from the device's start a block at a time; a
// sequence or a CR LF cut by a block's end is completed from the next. A read that fails is a flaw of its line.
std::vector<CsvFlaw> utf8Flaws(QIODevice& device) {
    std::vector<CsvFlaw> flaws;
    int line = 1;
    int reported = 0;
    QByteArray bytes;
    device.seek(0);
    for (bool last = false; !last;) {
        const QByteArray block = device.read(kBlock);
        if (block.isEmpty() && !device.atEnd()) {
            flaws.push_back({line, QStringLiteral("the file could not be read: %1").arg(device.errorString())});
            return flaws;
        }
        last = device.atEnd() || block.isEmpty();
        bytes += block;
        qsizetype i = 0;
        while (i < bytes.size()) {
            const char c = bytes[i];
            if (!last &&
                (c == '\r' ? i + 1 == bytes.size() : i + claimedLength(static_cast<unsigned char>(c)) > bytes.size())) {
                break; // the rest is in the next block
            }
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
        bytes.remove(0, i);
    }
    return flaws;
}

bool isLineEnd(QChar c) {
    return c == QLatin1Char('\n') || c == QLatin1Char('\r');
}

} // namespace

CsvReader::CsvReader(const QByteArray& bytes, QChar separator)
    : owned_(std::make_unique<QBuffer>()), device_(owned_.get()), separator_(separator) {
    owned_->setData(bytes);
    owned_->open(QIODevice::ReadOnly);
    start();
}

CsvReader::CsvReader(QIODevice& device, QChar separator) : device_(&device), separator_(separator) {
    start();
}

CsvReader::CsvReader(CsvReader&&) noexcept = default;
CsvReader& CsvReader::operator=(CsvReader&&) noexcept = default;
CsvReader::~CsvReader() = default;

void CsvReader::start() {
    flaws_ = utf8Flaws(*device_);
    if (!flaws_.empty()) {
        exhausted_ = true; // nothing is read from a text that is not what it claims to be
        return;
    }
    skipByteOrderMark();
}

void CsvReader::rewind() {
    offset_ = 0;
    exhausted_ = false;
    digest_ = 0;
    text_.clear();
    pos_ = 0;
    line_ = 1;
    flaws_.clear();
    skipByteOrderMark();
}

void CsvReader::skipByteOrderMark() {
    // The byte order mark is kept as a character, so that it is seen and passed over here, whatever the decoder's
    // defaults.
    decoder_ = QStringDecoder(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
    if (has(0) && text_.front() == QChar(0xFEFF)) {
        pos_ = 1;
    }
}

bool CsvReader::readBlock(qsizetype i) {
    while (i >= text_.size() && !exhausted_) {
        device_->seek(offset_);
        const QByteArray block = device_->read(kBlock);
        if (block.isEmpty()) {
            if (!device_->atEnd()) {
                flaws_.push_back({line_, QStringLiteral("the file could not be read: %1").arg(device_->errorString())});
            }
            exhausted_ = true;
            break;
        }
        offset_ += block.size();
        digest_ = qHashBits(block.constData(), static_cast<size_t>(block.size()), digest_);
        text_ += decoder_(block);
    }
    return i < text_.size();
}

void CsvReader::endLine() {
    if (has(pos_) && text_[pos_] == QLatin1Char('\r')) {
        ++pos_;
        if (has(pos_) && text_[pos_] == QLatin1Char('\n')) {
            ++pos_;
        }
        ++line_;
    } else if (has(pos_) && text_[pos_] == QLatin1Char('\n')) {
        ++pos_;
        ++line_;
    }
}

bool CsvReader::next(CsvRecord& record) {
    // The records read are dropped from the text once they fill a block, so the text holds about one block.
    if (pos_ >= kBlock) {
        text_.remove(0, pos_);
        pos_ = 0;
    }
    while (has(pos_) && isLineEnd(text_[pos_])) {
        endLine();
    }
    if (!has(pos_)) {
        return false;
    }
    record.line = line_;
    record.fields.clear();
    record.flawed = false;
    for (;;) {
        if (text_[pos_] == QLatin1Char('"')) {
            QString field(QLatin1String("")); // quoted, so an empty text even when nothing follows
            ++pos_;
            for (;;) {
                if (!has(pos_)) {
                    flaws_.push_back({record.line, QStringLiteral("the quoted field %1 is not closed before the end "
                                                                  "of the file")
                                                       .arg(record.fields.size() + 1)});
                    record.flawed = true;
                    return true;
                }
                // The characters up to the next quote or line end go in at once.
                qsizetype run = pos_;
                while (run < text_.size() && text_[run] != QLatin1Char('"') && !isLineEnd(text_[run])) {
                    ++run;
                }
                if (run > pos_) {
                    field += QStringView(text_).sliced(pos_, run - pos_);
                    pos_ = run;
                    continue;
                }
                const QChar c = text_[pos_];
                if (c == QLatin1Char('"')) {
                    if (has(pos_ + 1) && text_[pos_ + 1] == QLatin1Char('"')) {
                        field += c;
                        pos_ += 2;
                        continue;
                    }
                    ++pos_;
                    break;
                }
                if (c == QLatin1Char('\n') ||
                    (c == QLatin1Char('\r') && (!has(pos_ + 1) || text_[pos_ + 1] != QLatin1Char('\n')))) {
                    ++line_;
                }
                field += c;
                ++pos_;
            }
            record.fields << field;
            if (has(pos_) && text_[pos_] != separator_ && !isLineEnd(text_[pos_])) {
                flaws_.push_back(
                    {record.line,
                     QStringLiteral("text follows the closing quote of field %1").arg(record.fields.size())});
                record.flawed = true;
                while (has(pos_) && !isLineEnd(text_[pos_])) {
                    ++pos_;
                }
            }
        } else {
            const qsizetype start = pos_;
            while (has(pos_) && text_[pos_] != separator_ && !isLineEnd(text_[pos_])) {
                ++pos_;
            }
            record.fields << (pos_ == start ? QString() : text_.mid(start, pos_ - start));
        }
        if (has(pos_) && text_[pos_] == separator_) {
            ++pos_;
            if (!has(pos_) || isLineEnd(text_[pos_])) {
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
