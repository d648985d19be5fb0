// The register's LIKE. Matching uses one backtrack point (the last % seen), so no pattern can make it take
// more than pattern length times text length steps. Text that is all ASCII is matched on bytes with ASCII
// case folding; other text is decoded code point by code point and folded with Unicode's simple case
// folding. Neither path allocates, and nothing is cached between calls, so it is safe on any thread.
#include "data/likefunction.h"

#include "data/asciicase.h"

#include "data/errors.h"

#include <QChar>
#include <cstdint>
#include <cstring>
#include <sqlite3.h>

namespace {

constexpr size_t kNone = static_cast<size_t>(-1);

inline unsigned char foldAscii(unsigned char c) {
    return static_cast<unsigned char>(asciiLower(static_cast<char>(c)));
}

bool isAscii(std::string_view s) {
    const char* p = s.data();
    size_t n = s.size();
    while (n >= 8) {
        std::uint64_t word;
        std::memcpy(&word, p, 8);
        if (word & 0x8080808080808080ULL) {
            return false;
        }
        p += 8;
        n -= 8;
    }
    while (n > 0) {
        if (static_cast<unsigned char>(*p) >= 0x80) {
            return false;
        }
        ++p;
        --n;
    }
    return true;
}

bool equalFoldedAscii(const char* a, const char* b, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        if (foldAscii(static_cast<unsigned char>(a[i])) != foldAscii(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

// True when pattern is %literal% with nothing special in the literal; literal receives it.
bool isContainsPattern(std::string_view pattern, int escape, std::string_view& literal) {
    if (pattern.size() < 2 || pattern.front() != '%' || pattern.back() != '%' || escape == '%') {
        return false;
    }
    literal = pattern.substr(1, pattern.size() - 2);
    for (char c : literal) {
        if (c == '%' || c == '_' || static_cast<unsigned char>(c) == escape) {
            return false;
        }
    }
    return true;
}

bool containsFoldedAscii(std::string_view text, std::string_view literal) {
    if (literal.empty()) {
        return true;
    }
    if (literal.size() > text.size()) {
        return false;
    }
    const unsigned char first = foldAscii(static_cast<unsigned char>(literal[0]));
    const size_t last = text.size() - literal.size();
    for (size_t i = 0; i <= last; ++i) {
        if (foldAscii(static_cast<unsigned char>(text[i])) == first &&
            equalFoldedAscii(text.data() + i + 1, literal.data() + 1, literal.size() - 1)) {
            return true;
        }
    }
    return false;
}

// Both texts are ASCII; escape is the escape byte, or -1 for none.
bool matchAscii(std::string_view p, std::string_view t, int escape) {
    std::string_view literal;
    if (isContainsPattern(p, escape, literal)) {
        return containsFoldedAscii(t, literal);
    }
    size_t pi = 0;
    size_t ti = 0;
    size_t starP = kNone; // pattern position just after the last %
    size_t starT = 0;     // text position that % has been tried to stop at
    while (ti < t.size()) {
        if (pi < p.size()) {
            unsigned char c = static_cast<unsigned char>(p[pi]);
            size_t step = 1;
            bool anyOne = false;
            if (c == escape) {
                if (pi + 1 >= p.size()) {
                    return false; // an escape with nothing to escape matches nothing
                }
                c = static_cast<unsigned char>(p[pi + 1]);
                step = 2;
            } else if (c == '%') {
                ++pi;
                starP = pi;
                starT = ti;
                continue;
            } else if (c == '_') {
                anyOne = true;
            }
            if (anyOne || foldAscii(c) == foldAscii(static_cast<unsigned char>(t[ti]))) {
                pi += step;
                ++ti;
                continue;
            }
        }
        if (starP == kNone) {
            return false;
        }
        pi = starP;
        ti = ++starT;
    }
    while (pi < p.size() && p[pi] == '%' && escape != '%') {
        ++pi;
    }
    return pi == p.size();
}

// Decodes the code point at i and moves i past it. A byte that does not start a well-formed sequence
// stands for itself as a code point no valid character has, so it matches only the same byte.
char32_t decodeAt(std::string_view s, size_t& i) {
    const unsigned char lead = static_cast<unsigned char>(s[i]);
    if (lead < 0x80) {
        ++i;
        return lead;
    }
    size_t length = 0;
    char32_t value = 0;
    char32_t minimum = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        value = lead & 0x1F;
        minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        value = lead & 0x0F;
        minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        value = lead & 0x07;
        minimum = 0x10000;
    }
    if (length != 0 && i + length <= s.size()) {
        bool wellFormed = true;
        for (size_t k = 1; k < length; ++k) {
            const unsigned char next = static_cast<unsigned char>(s[i + k]);
            if ((next & 0xC0) != 0x80) {
                wellFormed = false;
                break;
            }
            value = (value << 6) | (next & 0x3F);
        }
        if (wellFormed && value >= minimum && value <= 0x10FFFF && (value < 0xD800 || value > 0xDFFF)) {
            i += length;
            return value;
        }
    }
    ++i;
    return 0xDC00 | lead;
}

inline char32_t fold(char32_t c) {
    if (c < 0x80) {
        return foldAscii(static_cast<unsigned char>(c));
    }
    return QChar::toCaseFolded(c);
}

bool matchUnicode(std::string_view p, std::string_view t, char32_t escape) {
    size_t pi = 0;
    size_t ti = 0;
    size_t starP = kNone;
    size_t starT = 0;
    while (ti < t.size()) {
        if (pi < p.size()) {
            size_t next = pi;
            char32_t c = decodeAt(p, next);
            bool anyOne = false;
            if (escape != 0 && c == escape) {
                if (next >= p.size()) {
                    return false;
                }
                c = decodeAt(p, next);
            } else if (c == '%') {
                pi = next;
                starP = pi;
                starT = ti;
                continue;
            } else if (c == '_') {
                anyOne = true;
            }
            size_t textNext = ti;
            const char32_t tc = decodeAt(t, textNext);
            if (anyOne || fold(c) == fold(tc)) {
                pi = next;
                ti = textNext;
                continue;
            }
        }
        if (starP == kNone) {
            return false;
        }
        pi = starP;
        decodeAt(t, starT);
        ti = starT;
    }
    while (pi < p.size() && p[pi] == '%' && escape != '%') {
        ++pi;
    }
    return pi == p.size();
}

// The number of code points in s, stopping once it passes 1.
int countUpToTwo(std::string_view s) {
    int count = 0;
    for (size_t i = 0; i < s.size() && count < 2; ++count) {
        decodeAt(s, i);
    }
    return count;
}

void likeFunction(sqlite3_context* context, int argc, sqlite3_value** argv) {
    sqlite3* db = sqlite3_context_db_handle(context);
    // The same guard as SQLite's own LIKE, so the limit a connection sets still applies.
    if (sqlite3_value_bytes(argv[0]) > sqlite3_limit(db, SQLITE_LIMIT_LIKE_PATTERN_LENGTH, -1)) {
        sqlite3_result_error(context, "LIKE or GLOB pattern too complex", -1);
        return;
    }
    char32_t escape = 0;
    if (argc == 3) {
        const unsigned char* e = sqlite3_value_text(argv[2]);
        if (e == nullptr) {
            return; // a NULL escape gives NULL, as SQLite's own LIKE does
        }
        const std::string_view escapeText(reinterpret_cast<const char*>(e),
                                          static_cast<size_t>(sqlite3_value_bytes(argv[2])));
        if (countUpToTwo(escapeText) != 1) {
            sqlite3_result_error(context, "ESCAPE expression must be a single character", -1);
            return;
        }
        size_t i = 0;
        escape = decodeAt(escapeText, i);
    }
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL || sqlite3_value_type(argv[1]) == SQLITE_NULL) {
        return;
    }
    const unsigned char* pattern = sqlite3_value_text(argv[0]);
    const int patternBytes = sqlite3_value_bytes(argv[0]);
    const unsigned char* text = sqlite3_value_text(argv[1]);
    const int textBytes = sqlite3_value_bytes(argv[1]);
    if (pattern == nullptr || text == nullptr) {
        sqlite3_result_error_nomem(context);
        return;
    }
    const bool matched =
        likeMatch(std::string_view(reinterpret_cast<const char*>(pattern), static_cast<size_t>(patternBytes)),
                  std::string_view(reinterpret_cast<const char*>(text), static_cast<size_t>(textBytes)), escape);
    sqlite3_result_int(context, matched ? 1 : 0);
}

} // namespace

bool likeMatch(std::string_view pattern, std::string_view text, char32_t escape) {
    if (isAscii(pattern) && isAscii(text)) {
        const int escapeByte = (escape != 0 && escape < 0x80) ? static_cast<int>(escape) : -1;
        return matchAscii(pattern, text, escapeByte);
    }
    return matchUnicode(pattern, text, escape);
}

void registerLikeFunctions(sqlite3* db) {
    constexpr int kFlags = SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS;
    for (int arguments : {2, 3}) {
        const int rc =
            sqlite3_create_function_v2(db, "like", arguments, kFlags, nullptr, likeFunction, nullptr, nullptr, nullptr);
        if (rc != SQLITE_OK) {
            throw DatabaseError(
                QStringLiteral("The LIKE operator could not be set up: %1").arg(QString::fromUtf8(sqlite3_errmsg(db))));
        }
    }
}
