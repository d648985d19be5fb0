// Fuzzes the register's LIKE on (escape, pattern, text). Its answer is compared with a plain dynamic
// programming matcher written from the rules alone: % any run of characters, _ exactly one, the escape
// makes the next pattern character literal (an escape at the very end matches nothing), letters compare
// case-folded, and a byte that is not well-formed UTF-8 stands only for itself. The same arguments also go
// through SQL, like(pattern, text[, escape]) as registered on a connection, which must give the same answer.
#include "data/likefunction.h"

#include <QChar>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fuzzer/FuzzedDataProvider.h>
#include <sqlite3.h>
#include <string>
#include <vector>

namespace {

std::vector<char32_t> decode(std::string_view s) {
    std::vector<char32_t> out;
    for (size_t i = 0; i < s.size();) {
        const unsigned char lead = static_cast<unsigned char>(s[i]);
        size_t length = lead < 0x80                    ? 1
                        : lead >= 0xC2 && lead <= 0xDF ? 2
                        : lead >= 0xE0 && lead <= 0xEF ? 3
                        : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                       : 0;
        char32_t value = length == 1 ? lead : length == 2 ? lead & 0x1F : length == 3 ? lead & 0x0F : lead & 0x07;
        bool ok = length != 0 && i + length <= s.size();
        for (size_t k = 1; ok && k < length; ++k) {
            const unsigned char next = static_cast<unsigned char>(s[i + k]);
            ok = (next & 0xC0) == 0x80;
            value = (value << 6) | (next & 0x3F);
        }
        static constexpr char32_t kMinimum[] = {0, 0, 0x80, 0x800, 0x10000};
        ok = ok && value >= kMinimum[length] && value <= 0x10FFFF && (value < 0xD800 || value > 0xDFFF);
        if (ok) {
            out.push_back(value);
            i += length;
        } else {
            out.push_back(0xDC00 | lead);
            ++i;
        }
    }
    return out;
}

char32_t fold(char32_t c) {
    if (c < 0x80) {
        return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c;
    }
    return QChar::toCaseFolded(c);
}

bool referenceLike(std::string_view pattern, std::string_view text, char32_t escape) {
    enum Kind { Literal, One, Any };
    struct Token {
        Kind kind;
        char32_t c;
    };
    std::vector<Token> tokens;
    const std::vector<char32_t> p = decode(pattern);
    for (size_t i = 0; i < p.size(); ++i) {
        if (escape != 0 && p[i] == escape) {
            if (i + 1 == p.size()) {
                return false;
            }
            tokens.push_back({Literal, p[++i]});
        } else if (p[i] == '%') {
            tokens.push_back({Any, 0});
        } else if (p[i] == '_') {
            tokens.push_back({One, 0});
        } else {
            tokens.push_back({Literal, p[i]});
        }
    }
    const std::vector<char32_t> t = decode(text);
    // matches[j]: the tokens so far match the first j characters of the text.
    std::vector<char> matches(t.size() + 1, 0);
    matches[0] = 1;
    for (const Token& token : tokens) {
        std::vector<char> next(t.size() + 1, 0);
        for (size_t j = 0; j <= t.size(); ++j) {
            if (token.kind == Any) {
                next[j] = matches[j] || (j > 0 && next[j - 1]);
            } else if (j > 0 && matches[j - 1]) {
                next[j] = token.kind == One || fold(token.c) == fold(t[j - 1]);
            }
        }
        matches.swap(next);
    }
    return matches[t.size()] != 0;
}

std::string utf8(char32_t c) {
    std::string out;
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
    return out;
}

sqlite3* g_db = nullptr;
sqlite3_stmt* g_like2 = nullptr;
sqlite3_stmt* g_like3 = nullptr;

// like() through SQL: 1 or 0, or -1 when SQLite refused the call.
int sqlLike(const std::string& pattern, const std::string& text, char32_t escape) {
    sqlite3_stmt* s = escape == 0 ? g_like2 : g_like3;
    sqlite3_bind_text(s, 1, pattern.data(), static_cast<int>(pattern.size()), SQLITE_TRANSIENT);
    sqlite3_bind_text(s, 2, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    if (escape != 0) {
        const std::string e = utf8(escape);
        sqlite3_bind_text(s, 3, e.data(), static_cast<int>(e.size()), SQLITE_TRANSIENT);
    }
    const int rc = sqlite3_step(s);
    const int result = rc == SQLITE_ROW ? sqlite3_column_int(s, 0) : -1;
    sqlite3_reset(s);
    return result;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (sqlite3_open(":memory:", &g_db) != SQLITE_OK) {
        std::abort();
    }
    registerLikeFunctions(g_db);
    if (sqlite3_prepare_v2(g_db, "SELECT like(?1, ?2)", -1, &g_like2, nullptr) != SQLITE_OK ||
        sqlite3_prepare_v2(g_db, "SELECT like(?1, ?2, ?3)", -1, &g_like3, nullptr) != SQLITE_OK) {
        std::abort();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    static constexpr char32_t kEscapes[] = {0, '\\', '!', '%', '_', 'a', 'A', 0xE9, 0x3A3, 0x1F600};
    const char32_t escape = kEscapes[in.ConsumeIntegralInRange<size_t>(0, std::size(kEscapes) - 1)];
    const std::string pattern = in.ConsumeRandomLengthString(512);
    const std::string text = in.ConsumeRemainingBytesAsString();
    const bool got = likeMatch(pattern, text, escape);
    const int viaSql = sqlLike(pattern, text, escape);
    if (viaSql != (got ? 1 : 0)) {
        std::fprintf(stderr, "SQL like(pattern \"%s\", text \"%s\", escape U+%04X) gave %d, likeMatch %d\n",
                     pattern.c_str(), text.c_str(), static_cast<unsigned>(escape), viaSql, got);
        std::abort();
    }
    if (pattern.size() * (text.size() + 1) > 400000) {
        return 0; // the reference is quadratic; the matcher alone still ran
    }
    if (got != referenceLike(pattern, text, escape)) {
        std::fprintf(stderr, "like(pattern \"%s\", text \"%s\", escape U+%04X) gave %d\n", pattern.c_str(),
                     text.c_str(), static_cast<unsigned>(escape), got);
        std::abort();
    }
    return 0;
}
