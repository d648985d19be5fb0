// Translation of the program's Jet statements into SQLite's dialect. The statement is cut into tokens in one
// walk over its UTF-8 text; each token is rewritten on its own (literals, dates, bracketed names, TRUE and
// FALSE), and the token list is then read once more to tell whether the statement reads one table with plain
// columns, which lets a dataset keep row ids instead of whole rows.
#include "data/jetsql.h"

#include "data/asciicase.h"

#include "data/errors.h"
#include "data/schema.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <string_view>
#include <vector>

namespace {

enum class TokenKind { Blank, Name, QuotedName, Number, Text, Date, Symbol };

struct Token {
    TokenKind kind;
    std::string_view source; // the token as written in the Jet text
    std::string text;        // the token in SQLite's dialect
};

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

// Bytes of non-ASCII characters belong to names, as they do in SQLite, so a name in any alphabet is one token.
bool isNameStart(char c) {
    return isAsciiLetter(c) || c == '_' || static_cast<unsigned char>(c) >= 0x80;
}

bool isNamePart(char c) {
    return isNameStart(c) || isAsciiDigit(c) || c == '$';
}

// A few characters of the statement from a token on, so an error can show the user where it is.
QString excerpt(std::string_view text, size_t at) {
    constexpr size_t kLength = 30;
    std::string_view part = text.substr(at, kLength);
    QString shown = QString::fromUtf8(part.data(), static_cast<qsizetype>(part.size()));
    if (at + kLength < text.size()) {
        shown += QStringLiteral("...");
    }
    return shown;
}

std::string sqliteTextLiteral(std::string_view value) {
    std::string out;
    out.reserve(value.size() + 2);
    out += '\'';
    for (char c : value) {
        out += c;
        if (c == '\'') {
            out += '\'';
        }
    }
    out += '\'';
    return out;
}

bool isLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int daysInMonth(int year, int month) {
    static constexpr std::array<int, 12> kDays = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeapYear(year) ? 29 : kDays[static_cast<size_t>(month - 1)];
}

// Reads between minDigits and maxDigits decimal digits at pos; -1 when the count is outside that range.
int readNumber(std::string_view s, size_t& pos, size_t minDigits, size_t maxDigits) {
    const size_t start = pos;
    int value = 0;
    while (pos < s.size() && isAsciiDigit(s[pos]) && pos - start < maxDigits) {
        value = value * 10 + (s[pos] - '0');
        ++pos;
    }
    const size_t count = pos - start;
    if (count < minDigits || (pos < s.size() && isAsciiDigit(s[pos]))) {
        return -1;
    }
    return value;
}

// The stored text of the date inside #...# (m/d/yyyy, blanks allowed around it); empty when it is not a
// real calendar date in that form.
std::string storedDate(std::string_view inside) {
    while (!inside.empty() && isBlank(inside.front())) {
        inside.remove_prefix(1);
    }
    while (!inside.empty() && isBlank(inside.back())) {
        inside.remove_suffix(1);
    }
    size_t pos = 0;
    const int month = readNumber(inside, pos, 1, 2);
    if (month < 0 || pos >= inside.size() || inside[pos++] != '/') {
        return {};
    }
    const int day = readNumber(inside, pos, 1, 2);
    if (day < 0 || pos >= inside.size() || inside[pos++] != '/') {
        return {};
    }
    const int year = readNumber(inside, pos, 4, 4);
    if (year < 1 || pos != inside.size()) {
        return {};
    }
    if (month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month)) {
        return {};
    }
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "'%04d-%02d-%02d'", year, month, day);
    return buffer;
}

// Cuts the statement into tokens, translating each; stops at the first semicolon after checking that only
// blanks follow it.
class Tokenizer {
public:
    explicit Tokenizer(std::string_view text) : s_(text) {}

    std::vector<Token> run() {
        while (pos_ < s_.size()) {
            const char c = s_[pos_];
            if (isBlank(c)) {
                readBlanks();
            } else if (isNameStart(c)) {
                readName();
            } else if (isAsciiDigit(c) || (c == '.' && pos_ + 1 < s_.size() && isAsciiDigit(s_[pos_ + 1]))) {
                readNumber();
            } else if (c == '[') {
                readBracketedName();
            } else if (c == '"' || c == '\'') {
                readText(c);
            } else if (c == '#') {
                readDate();
            } else if (c == ';') {
                checkNothingFollows();
                break;
            } else if (c == '\0') {
                throw DatabaseError(QStringLiteral("The SQL statement contains a NUL character."));
            } else {
                readSymbol();
            }
        }
        return std::move(tokens_);
    }

private:
    void add(TokenKind kind, size_t start, std::string text) {
        tokens_.push_back(Token{kind, s_.substr(start, pos_ - start), std::move(text)});
    }

    void readBlanks() {
        const size_t start = pos_;
        while (pos_ < s_.size() && isBlank(s_[pos_])) {
            ++pos_;
        }
        add(TokenKind::Blank, start, std::string(s_.substr(start, pos_ - start)));
    }

    void readName() {
        const size_t start = pos_;
        while (pos_ < s_.size() && isNamePart(s_[pos_])) {
            ++pos_;
        }
        add(TokenKind::Name, start, std::string(s_.substr(start, pos_ - start)));
    }

    void readNumber() {
        const size_t start = pos_;
        while (pos_ < s_.size() && isAsciiDigit(s_[pos_])) {
            ++pos_;
        }
        if (pos_ < s_.size() && s_[pos_] == '.') {
            ++pos_;
            while (pos_ < s_.size() && isAsciiDigit(s_[pos_])) {
                ++pos_;
            }
        }
        if (pos_ < s_.size() && (s_[pos_] == 'e' || s_[pos_] == 'E')) {
            size_t next = pos_ + 1;
            if (next < s_.size() && (s_[next] == '+' || s_[next] == '-')) {
                ++next;
            }
            if (next < s_.size() && isAsciiDigit(s_[next])) {
                pos_ = next;
                while (pos_ < s_.size() && isAsciiDigit(s_[pos_])) {
                    ++pos_;
                }
            }
        }
        add(TokenKind::Number, start, std::string(s_.substr(start, pos_ - start)));
    }

    void readBracketedName() {
        const size_t start = pos_;
        const size_t close = s_.find(']', start + 1);
        if (close == std::string_view::npos) {
            throw DatabaseError(
                QStringLiteral("Missing closing bracket in the SQL statement at: %1").arg(excerpt(s_, start)));
        }
        const std::string_view name = s_.substr(start + 1, close - start - 1);
        if (name.empty()) {
            throw DatabaseError(QStringLiteral("An empty name [] in the SQL statement is not allowed."));
        }
        std::string out = "\"";
        for (char c : name) {
            out += c;
            if (c == '"') {
                out += '"';
            }
        }
        out += '"';
        pos_ = close + 1;
        add(TokenKind::QuotedName, start, std::move(out));
    }

    // A text literal in either quote; the quote written twice inside stands for one.
    void readText(char quote) {
        const size_t start = pos_;
        std::string value;
        ++pos_;
        for (;;) {
            if (pos_ >= s_.size()) {
                throw DatabaseError(
                    QStringLiteral("Missing closing quote in the SQL statement at: %1").arg(excerpt(s_, start)));
            }
            const char c = s_[pos_++];
            if (c == quote) {
                if (pos_ < s_.size() && s_[pos_] == quote) {
                    value += quote;
                    ++pos_;
                    continue;
                }
                break;
            }
            value += c;
        }
        add(TokenKind::Text, start, sqliteTextLiteral(value));
    }

    void readDate() {
        const size_t start = pos_;
        const size_t close = s_.find('#', start + 1);
        if (close == std::string_view::npos) {
            throw DatabaseError(
                QStringLiteral("Missing closing # of a date in the SQL statement at: %1").arg(excerpt(s_, start)));
        }
        std::string stored = storedDate(s_.substr(start + 1, close - start - 1));
        pos_ = close + 1;
        if (stored.empty()) {
            const std::string_view written = s_.substr(start, pos_ - start);
            throw DatabaseError(QStringLiteral("Syntax error in date in query expression '%1'.")
                                    .arg(QString::fromUtf8(written.data(), static_cast<qsizetype>(written.size()))));
        }
        add(TokenKind::Date, start, std::move(stored));
    }

    void readSymbol() {
        const size_t start = pos_;
        const char c = s_[pos_++];
        if (pos_ < s_.size() && (((c == '<' || c == '>') && s_[pos_] == '=') || (c == '<' && s_[pos_] == '>'))) {
            ++pos_;
        }
        // "--" and "/*" open comments in SQLite but are two operators in Jet ("a--1" is a minus minus one).
        bool separate = false;
        if (!tokens_.empty() && tokens_.back().kind == TokenKind::Symbol && !tokens_.back().text.empty()) {
            const char before = tokens_.back().text.back();
            separate = (before == '-' && c == '-') || (before == '/' && c == '*');
        }
        std::string text = separate ? std::string(" ") : std::string();
        text.append(s_.substr(start, pos_ - start));
        add(TokenKind::Symbol, start, std::move(text));
    }

    void checkNothingFollows() {
        for (size_t i = pos_ + 1; i < s_.size(); ++i) {
            if (!isBlank(s_[i])) {
                throw DatabaseError(QStringLiteral("Characters found after end of SQL statement."));
            }
        }
    }

    std::string_view s_;
    size_t pos_ = 0;
    std::vector<Token> tokens_;
};

// TRUE and FALSE are constants unless they are part of a qualified name (Flags.True, True.Column).
void translateBooleans(std::vector<Token>& tokens) {
    auto isDot = [&](size_t i) { return tokens[i].kind == TokenKind::Symbol && tokens[i].text == "."; };
    for (size_t i = 0; i < tokens.size(); ++i) {
        Token& t = tokens[i];
        if (t.kind != TokenKind::Name) {
            continue;
        }
        const bool isTrue = equalIgnoringAsciiCase(t.source, "TRUE");
        if (!isTrue && !equalIgnoringAsciiCase(t.source, "FALSE")) {
            continue;
        }
        if ((i > 0 && isDot(i - 1)) || (i + 1 < tokens.size() && isDot(i + 1))) {
            continue;
        }
        t.kind = TokenKind::Number;
        t.text.assign(1, isTrue ? '1' : '0');
    }
}

std::string joinTokens(const std::vector<Token>& tokens, size_t from, size_t to) {
    std::string out;
    for (size_t i = from; i < to; ++i) {
        out += tokens[i].text;
    }
    size_t begin = 0;
    while (begin < out.size() && isBlank(out[begin])) {
        ++begin;
    }
    size_t end = out.size();
    while (end > begin && isBlank(out[end - 1])) {
        --end;
    }
    return out.substr(begin, end - begin);
}

bool isNameToken(const Token& t) {
    return t.kind == TokenKind::Name || t.kind == TokenKind::QuotedName;
}

bool isMultiRowKeyword(std::string_view word) {
    static constexpr std::array<std::string_view, 12> kWords = {"JOIN",        "GROUP", "HAVING",    "DISTINCT",
                                                                "DISTINCTROW", "UNION", "INTERSECT", "EXCEPT",
                                                                "TOP",         "INTO",  "PIVOT",     "TRANSFORM"};
    for (std::string_view k : kWords) {
        if (equalIgnoringAsciiCase(word, k)) {
            return true;
        }
    }
    return false;
}

// Functions that fold many rows into one, in both dialects.
bool isAggregateFunction(std::string_view word) {
    static constexpr std::array<std::string_view, 14> kWords = {"COUNT", "SUM",   "AVG",          "MIN",       "MAX",
                                                                "FIRST", "LAST",  "STDEV",        "STDEVP",    "VAR",
                                                                "VARP",  "TOTAL", "GROUP_CONCAT", "STRING_AGG"};
    for (std::string_view k : kWords) {
        if (equalIgnoringAsciiCase(word, k)) {
            return true;
        }
    }
    return false;
}

// Fills the one-table fields when the statement is SELECT <columns> FROM <table> [WHERE ...] [ORDER BY ...]
// and reading its rows by row id gives the same result as running it whole.
void analyseSelect(const std::vector<Token>& tokens, TranslatedSelect& result) {
    std::vector<size_t> sig; // the tokens that are not blanks
    for (size_t i = 0; i < tokens.size(); ++i) {
        if (tokens[i].kind != TokenKind::Blank) {
            sig.push_back(i);
        }
    }
    auto at = [&](size_t k) -> const Token& { return tokens[sig[k]]; };
    auto isKeyword = [&](size_t k, std::string_view word) {
        return k < sig.size() && at(k).kind == TokenKind::Name && equalIgnoringAsciiCase(at(k).source, word);
    };
    auto isSymbol = [&](size_t k, std::string_view symbol) {
        return k < sig.size() && at(k).kind == TokenKind::Symbol && at(k).text == symbol;
    };
    // As written: a server's statement has the star replaced by the table's columns.
    auto isStar = [&](size_t k) { return k < sig.size() && at(k).kind == TokenKind::Symbol && at(k).source == "*"; };
    if (!isKeyword(0, "SELECT")) {
        return;
    }

    // Anything that groups, joins, combines or nests rules the statement out wherever it stands.
    for (size_t k = 0; k < sig.size(); ++k) {
        const Token& t = at(k);
        if (t.kind == TokenKind::Name && isMultiRowKeyword(t.source)) {
            return;
        }
        if (t.kind == TokenKind::Name && isAggregateFunction(t.source) && isSymbol(k + 1, "(")) {
            return;
        }
        if (isSymbol(k, "(") && isKeyword(k + 1, "SELECT")) {
            return;
        }
    }

    // Reading by row id runs "SELECT rowid FROM ..." without the select list and then reads each row alone,
    // so only a select list of plain columns (or *) keeps the statement's meaning: no alias that the rest
    // could name, no expression that sees other rows (an aggregate, however written, or a window).
    const auto isPlainColumn = [&](size_t& k, size_t end) {
        if (k < end && isStar(k)) {
            ++k;
            return true;
        }
        if (k >= end || !isNameToken(at(k))) {
            return false;
        }
        ++k;
        if (k < end && isSymbol(k, ".")) {
            ++k;
            if (k < end && (isSymbol(k, "*") || isNameToken(at(k)))) {
                ++k;
                return true;
            }
            return false;
        }
        return true;
    };
    size_t from = 0;
    for (size_t k = 1; k < sig.size(); ++k) {
        if (isKeyword(k, "FROM")) {
            from = k;
            break;
        }
    }
    if (from <= 1) {
        return;
    }
    for (size_t k = 1;;) {
        if (!isPlainColumn(k, from)) {
            return;
        }
        if (k == from) {
            break;
        }
        if (!isSymbol(k, ",")) {
            return;
        }
        ++k;
    }
    const size_t tableAt = from + 1;
    if (tableAt >= sig.size() || !isNameToken(at(tableAt))) {
        return;
    }
    if (at(tableAt).kind == TokenKind::Name &&
        (equalIgnoringAsciiCase(at(tableAt).source, "WHERE") || equalIgnoringAsciiCase(at(tableAt).source, "ORDER"))) {
        return;
    }
    const size_t afterTable = tableAt + 1;
    if (afterTable < sig.size() && !isKeyword(afterTable, "WHERE") && !isKeyword(afterTable, "ORDER")) {
        return;
    }

    // ORDER BY plain columns only: "ORDER BY 1" or "+1" names a position in the select list, which the row id
    // statement does not have.
    size_t orderAt = tokens.size();
    for (size_t k = afterTable; k + 1 < sig.size(); ++k) {
        if (!isKeyword(k, "ORDER") || !isKeyword(k + 1, "BY")) {
            continue;
        }
        orderAt = sig[k];
        for (size_t t = k + 2;;) {
            if (!isPlainColumn(t, sig.size()) || (t > k + 2 && isStar(t - 1))) {
                return;
            }
            if (t < sig.size() && (isKeyword(t, "ASC") || isKeyword(t, "DESC"))) {
                ++t;
            }
            if (t == sig.size()) {
                break;
            }
            if (!isSymbol(t, ",")) {
                return;
            }
            ++t;
        }
        break;
    }

    result.singleTable = true;
    result.table = at(tableAt).text;
    result.selectList = joinTokens(tokens, sig[0] + 1, sig[from]);
    result.fromOn = joinTokens(tokens, sig[from], tokens.size());
    result.fromWhere = joinTokens(tokens, sig[from], orderAt);
}

std::string serverQuotedName(std::string_view name) {
    std::string out = "\"";
    for (char c : name) {
        out += c;
        if (c == '"') {
            out += '"';
        }
    }
    return out + '"';
}

std::string lowerAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        c = asciiLower(c);
    }
    return out;
}

// Names, LIKE and SELECT * for a server: see translateJetSql.
void translateForServer(std::vector<Token>& tokens) {
    std::vector<size_t> sig;
    for (size_t i = 0; i < tokens.size(); ++i) {
        if (tokens[i].kind != TokenKind::Blank) {
            sig.push_back(i);
        }
    }
    auto isWord = [&](size_t k, std::string_view word) {
        return k < sig.size() && tokens[sig[k]].kind == TokenKind::Name &&
               equalIgnoringAsciiCase(tokens[sig[k]].source, word);
    };
    std::vector<std::pair<std::string, std::string>> aliases; // lower-cased name, name as quoted
    // The folded column of a searched column named by the token at k, alone (not qualified, not an alias).
    const auto foldedName = [&](size_t k) -> std::string {
        const Token& t = tokens[sig[k]];
        if (t.kind != TokenKind::Name || (k > 0 && tokens[sig[k - 1]].text == ".") ||
            (k + 1 < sig.size() && tokens[sig[k + 1]].text == ".")) {
            return {};
        }
        const std::string lowered = lowerAscii(t.source);
        if (std::any_of(aliases.begin(), aliases.end(), [&](const auto& a) { return a.first == lowered; })) {
            return {};
        }
        return registerFoldedColumn(t.source);
    };
    for (size_t k = 0; k < sig.size(); ++k) {
        Token& t = tokens[sig[k]];
        if (t.kind != TokenKind::Name && t.kind != TokenKind::QuotedName) {
            continue;
        }
        const std::string_view bare = t.kind == TokenKind::Name ? t.source : t.source.substr(1, t.source.size() - 2);
        const std::string lowered = lowerAscii(bare);
        if (k > 0 && isWord(k - 1, "AS")) {
            aliases.emplace_back(lowered, serverQuotedName(bare));
            t.text = aliases.back().second;
            continue;
        }
        const bool qualified = k > 0 && tokens[sig[k - 1]].kind == TokenKind::Symbol && tokens[sig[k - 1]].text == ".";
        const auto alias =
            std::find_if(aliases.begin(), aliases.end(), [&](const auto& a) { return a.first == lowered; });
        if (!qualified && alias != aliases.end()) {
            t.text = alias->second;
        } else if (t.kind == TokenKind::QuotedName) {
            t.text = serverQuotedName(lowered);
        } else if (isWord(k, "LIKE")) {
            const bool literal = k + 1 < sig.size() && tokens[sig[k + 1]].kind == TokenKind::Text;
            if (literal) {
                std::string& pattern = tokens[sig[k + 1]].text;
                for (size_t at = 0; (at = pattern.find('\\', at)) != std::string::npos; at += 2) {
                    pattern.insert(at, 1, '\\');
                }
            }
            // A searched column against a written pattern: its folded text against the pattern folded alike.
            std::string folded = k > 0 ? foldedName(k - 1) : std::string();
            if (literal && !folded.empty()) {
                tokens[sig[k - 1]].text = folded;
                tokens[sig[k + 1]].text = "lower(" + tokens[sig[k + 1]].text + ")";
            } else {
                t.text = "ILIKE";
            }
        }
    }
    // ORDER BY sorts NULL first, as the file does: each key of the outermost ORDER BY says so.
    int depth = 0;
    for (size_t k = 0; k < sig.size(); ++k) {
        const std::string& text = tokens[sig[k]].text;
        depth += tokens[sig[k]].kind == TokenKind::Symbol ? (text == "(") - (text == ")") : 0;
        if (depth != 0 || !isWord(k, "ORDER") || !isWord(k + 1, "BY")) {
            continue;
        }
        int inner = 0;
        size_t keyStart = k + 2;
        for (size_t j = k + 2; j < sig.size(); ++j) {
            const Token& t = tokens[sig[j]];
            inner += t.kind == TokenKind::Symbol ? (t.text == "(") - (t.text == ")") : 0;
            const bool last = j + 1 == sig.size() || (inner == 0 && tokens[sig[j + 1]].kind == TokenKind::Symbol &&
                                                      tokens[sig[j + 1]].text == ",");
            if (!last) {
                continue;
            }
            // A searched column sorts by its folded text, as the file's NOCASE sorts it.
            const bool direction = isWord(j, "DESC") || isWord(j, "ASC");
            if (j == keyStart + (direction ? 1 : 0)) {
                if (const std::string folded = foldedName(keyStart); !folded.empty()) {
                    tokens[sig[keyStart]].text = folded;
                }
            }
            tokens[sig[j]].text += isWord(j, "DESC") ? " NULLS LAST" : " NULLS FIRST";
            keyStart = j + 2;
        }
        break;
    }
    // SELECT [DISTINCT] * FROM table [WHERE|ORDER|GROUP|HAVING ...]
    size_t star = 1;
    if (isWord(1, "DISTINCT")) {
        star = 2;
    }
    if (!isWord(0, "SELECT") || star >= sig.size() || tokens[sig[star]].source != "*" || !isWord(star + 1, "FROM") ||
        star + 2 >= sig.size()) {
        return;
    }
    const Token& table = tokens[sig[star + 2]];
    if (table.kind != TokenKind::Name && table.kind != TokenKind::QuotedName) {
        return;
    }
    const size_t after = star + 3;
    if (after < sig.size() && !isWord(after, "WHERE") && !isWord(after, "ORDER") && !isWord(after, "GROUP") &&
        !isWord(after, "HAVING")) {
        return;
    }
    const std::string columns = registerColumnList(
        table.kind == TokenKind::Name ? table.source : table.source.substr(1, table.source.size() - 2));
    if (!columns.empty()) {
        tokens[sig[star]].text = columns;
    }
}

} // namespace

TranslatedSelect translateJetSql(const QString& jetText, SqlDialect dialect) {
    const QByteArray utf8 = jetText.toUtf8();
    std::vector<Token> tokens = Tokenizer(std::string_view(utf8.constData(), static_cast<size_t>(utf8.size()))).run();
    translateBooleans(tokens);
    if (dialect == SqlDialect::PostgreSQL) {
        translateForServer(tokens);
    }

    TranslatedSelect result;
    result.sql = joinTokens(tokens, 0, tokens.size());
    analyseSelect(tokens, result);
    return result;
}

QString jetQuote(const QString& text) {
    QString inner = text;
    // A register text can never hold NUL, so a NUL typed or pasted into a search matches nothing more than
    // the text without it; the statement itself must not carry it.
    inner.remove(QChar(0));
    inner.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + inner + QLatin1Char('"');
}
