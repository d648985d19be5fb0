// The scan of a page's tags for its longest table. It reads the bytes once, keeping a stack of the tables
// open at each point, and never decodes them: report pages are 8-bit Latin-1, and every name it looks for is
// ASCII.
#include "widgets/htmlscan.h"

#include <algorithm>
#include <cstring>
#include <map>

namespace {

char lowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool isNameChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// Whether the bytes [from, to) are word, which is lower case, without regard to case.
bool sameName(const char* data, qsizetype from, qsizetype to, const char* word) {
    const qsizetype length = static_cast<qsizetype>(std::strlen(word));
    if (to - from != length) {
        return false;
    }
    for (qsizetype i = 0; i < length; ++i) {
        if (lowerAscii(data[from + i]) != word[i]) {
            return false;
        }
    }
    return true;
}

// The first place at or after from where needle (lower case) starts, without regard to case; size when none.
qsizetype findNoCase(const char* data, qsizetype size, qsizetype from, const char* needle) {
    const qsizetype length = static_cast<qsizetype>(std::strlen(needle));
    for (qsizetype i = from; i + length <= size; ++i) {
        if (lowerAscii(data[i]) != needle[0]) {
            continue;
        }
        qsizetype k = 1;
        while (k < length && lowerAscii(data[i + k]) == needle[k]) {
            ++k;
        }
        if (k == length) {
            return i;
        }
    }
    return size;
}

// The '>' that ends the tag whose name ends at from; quoted attribute values may hold '>'. size when the
// page ends first.
qsizetype tagEnd(const char* data, qsizetype size, qsizetype from) {
    for (qsizetype i = from; i < size; ++i) {
        const char c = data[i];
        if (c == '>') {
            return i;
        }
        if (c == '"' || c == '\'') {
            const void* close = std::memchr(data + i + 1, c, static_cast<size_t>(size - i - 1));
            if (!close) {
                return size;
            }
            i = static_cast<const char*>(close) - data;
        }
    }
    return size;
}

// Whether page bears written out: its table's start and end tags and its first and last rows are where it says.
bool bearsOut(const QByteArray& page, const HtmlTableRows& written) {
    const qsizetype size = page.size();
    const auto tagAt = [&](qsizetype at, const char* tag) {
        const qsizetype n = static_cast<qsizetype>(std::strlen(tag));
        return at >= 0 && at + n <= size && findNoCase(page.constData(), at + n, at, tag) == at;
    };
    return tagAt(written.tableStart, "<table") && written.tableOpenEnd > written.tableStart &&
           written.tableOpenEnd <= written.tableEnd && tagAt(written.tableEnd, "</table") &&
           (written.rowStarts.isEmpty() ||
            (tagAt(written.rowStarts.first(), "<tr") && tagAt(written.rowStarts.last(), "<tr") &&
             written.rowStarts.first() >= written.tableOpenEnd && written.rowStarts.last() < written.tableEnd));
}

HtmlTableRows scanTables(const QByteArray& page, const HtmlTableRows* written) {
    struct OpenTable {
        qsizetype start;
        qsizetype openEnd;
        QList<qsizetype> rows;
        bool hasCells = false;
        bool spansRows = false;
    };
    HtmlTableRows best;
    QList<OpenTable> open;
    const char* data = page.constData();
    const qsizetype size = page.size();

    auto closeTable = [&](qsizetype end) {
        OpenTable table = open.takeLast();
        if (table.hasCells) {
            best.tablesWithCells.append(table.start);
        }
        if (table.rows.size() > best.rowStarts.size()) {
            best.tableStart = table.start;
            best.tableOpenEnd = table.openEnd;
            best.tableEnd = end;
            best.rowStarts = std::move(table.rows);
            best.spansRows = table.spansRows;
        }
    };

    qsizetype at = 0;
    while (at < size) {
        const void* found = std::memchr(data + at, '<', static_cast<size_t>(size - at));
        if (!found) {
            break;
        }
        const qsizetype lt = static_cast<const char*>(found) - data;
        if (size - lt >= 4 && std::memcmp(data + lt, "<!--", 4) == 0) {
            const qsizetype close = findNoCase(data, size, lt + 4, "-->");
            at = close + 3;
            continue;
        }
        qsizetype nameStart = lt + 1;
        const bool closing = nameStart < size && data[nameStart] == '/';
        if (closing) {
            ++nameStart;
        }
        qsizetype nameEnd = nameStart;
        while (nameEnd < size && isNameChar(data[nameEnd])) {
            ++nameEnd;
        }
        if (nameEnd == nameStart) {
            at = lt + 1; // a '<' in text, or a declaration
            continue;
        }
        const qsizetype gt = tagEnd(data, size, nameEnd);
        at = gt + 1;
        if (closing) {
            if (sameName(data, nameStart, nameEnd, "table") && !open.isEmpty()) {
                closeTable(lt);
            }
            continue;
        }
        if (written && lt == written->tableStart && sameName(data, nameStart, nameEnd, "table")) {
            // Its rows hold cells of text only: the scan goes on at its end tag.
            open.append(OpenTable{lt, written->tableOpenEnd, written->rowStarts, written->tablesWithCells.contains(lt),
                                  written->spansRows});
            at = written->tableEnd;
        } else if (sameName(data, nameStart, nameEnd, "table")) {
            open.append(OpenTable{lt, std::min(gt + 1, size), {}});
        } else if (sameName(data, nameStart, nameEnd, "tr")) {
            if (!open.isEmpty()) {
                open.last().rows.append(lt);
            }
        } else if (sameName(data, nameStart, nameEnd, "td") || sameName(data, nameStart, nameEnd, "th")) {
            if (!open.isEmpty()) {
                open.last().hasCells = true;
                if (findNoCase(data, gt, nameEnd, "rowspan") < gt) {
                    open.last().spansRows = true;
                }
            }
        } else if (sameName(data, nameStart, nameEnd, "style") || sameName(data, nameStart, nameEnd, "script")) {
            // Their text is not markup; it runs to the matching end tag.
            const char* endTag = sameName(data, nameStart, nameEnd, "style") ? "</style" : "</script";
            at = findNoCase(data, size, at, endTag);
        }
    }
    while (!open.isEmpty()) {
        closeTable(size);
    }
    std::sort(best.tablesWithCells.begin(), best.tablesWithCells.end());
    return best;
}

std::map<QString, HtmlTableRows>& writtenTables() {
    static std::map<QString, HtmlTableRows> tables;
    return tables;
}

} // namespace

HtmlTableRows findLongestTable(const QByteArray& page) {
    return scanTables(page, nullptr);
}

HtmlTableRows findLongestTable(const QByteArray& page, const HtmlTableRows& written) {
    return scanTables(page, bearsOut(page, written) ? &written : nullptr);
}

void rememberWrittenTable(const QString& path, HtmlTableRows table) {
    forgetWrittenTables();
    writtenTables().emplace(path, std::move(table));
}

void forgetWrittenTables() {
    writtenTables().clear();
}

HtmlTableRows writtenTableOf(const QString& path) {
    const auto it = writtenTables().find(path);
    return it == writtenTables().end() ? HtmlTableRows{} : it->second;
}
