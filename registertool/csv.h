// Comma-separated values as RFC 4180 writes them: fields separated by commas, records by line ends, a field
// that holds a quote, a comma or a line end put in double quotes with its quotes doubled. Reading also takes
// LF or lone CR line ends, a UTF-8 byte order mark and another separator (a spreadsheet in a locale with a
// decimal comma separates by semicolons), and names every flaw by the line its record starts on.
#pragma once

#include <QBuffer>
#include <QByteArray>
#include <QIODevice>
#include <QString>
#include <QStringDecoder>
#include <QStringList>
#include <QStringView>
#include <memory>
#include <vector>

// One record and the physical line (1-based) it starts on. A field with nothing between its commas is a null
// QString (no value); a field of two quotes is an empty, not null, QString (an empty text). A flawed record
// holds the fields read before its flaw.
struct CsvRecord {
    int line = 0;
    QStringList fields;
    bool flawed = false;
};

// A flaw of a CSV text and the line of the record it is in.
struct CsvFlaw {
    int line = 0;
    QString message;
};

// Reads UTF-8 CSV record by record, from a text in memory or from a file a block at a time, so that reading a
// file of any length holds one block and the record being read. Blank lines are skipped. A quote inside an
// unquoted field is taken as it stands; text after the closing quote of a field is a flaw of its record, and a
// quoted field never closed, bytes that are not UTF-8 or a file that cannot be read are flaws that end the
// reading.
class CsvReader {
public:
    // Reads fields separated by separator: a comma, or a semicolon or tab that never starts a line end.
    explicit CsvReader(const QByteArray& bytes, QChar separator = QLatin1Char(','));
    // Reads device from its start. Requires: device is open for reading, seekable, and outlives the reader.
    // Readers of one device may take turns: each reads from where it left off.
    explicit CsvReader(QIODevice& device, QChar separator = QLatin1Char(','));
    CsvReader(CsvReader&&) noexcept;
    CsvReader& operator=(CsvReader&&) noexcept;
    ~CsvReader();
    // Reads the next record into record (its fields list is reused): false at the end of the text.
    bool next(CsvRecord& record);
    // Reads again from the start, with the flaws and the digest begun anew. The text is not checked for UTF-8
    // again: a reading whose digest matches the first's read the bytes the first checked.
    void rewind();
    // The flaws met so far, in the order of the text.
    const std::vector<CsvFlaw>& flaws() const { return flaws_; }
    // A hash of the bytes read so far: two readings of a file that end with the same one read the same bytes.
    size_t digest() const { return digest_; }

private:
    void start();
    // Whether the text holds a character at i, reading another block when it must.
    bool has(qsizetype i) { return i < text_.size() || readBlock(i); }
    bool readBlock(qsizetype i);
    void skipByteOrderMark();
    void endLine();
    std::unique_ptr<QBuffer> owned_; // the text given in memory
    QIODevice* device_ = nullptr;
    qint64 offset_ = 0; // where the device's next block starts
    bool exhausted_ = false;
    size_t digest_ = 0;
    QStringDecoder decoder_;
    QString text_; // the decoded blocks from the start of the record being read
    QChar separator_;
    qsizetype pos_ = 0;
    int line_ = 1;
    std::vector<CsvFlaw> flaws_;
};

// Appends field to line as one CSV field, quoted only when it must be: nothing for a null QString, two quotes
// for an empty one.
void appendCsvField(QString& line, const QString& field);
// fields as one CSV record ending in CR LF.
QString csvRecord(const QStringList& fields);

// Whether a text starting a cell would be run by a spreadsheet as a formula (=, +, -, @, or a tab or CR before
// one), or starts with the apostrophe that marks such a text. Such texts leave with an apostrophe before them.
bool needsApostrophe(QStringView text);
