// ASCII case folding: only the letters a to z and A to Z change case, every other character (accented
// letters, other alphabets, digits) stays exactly as it is. The register compares identifiers, keywords,
// placeholder names and the access password this way, independent of the locale.
#pragma once

#include <QString>
#include <string_view>

constexpr bool isAsciiDigit(char c) {
    return c >= '0' && c <= '9';
}

constexpr bool isAsciiLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// c upper-cased when it is one of a to z; otherwise c.
constexpr char asciiUpper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// c lower-cased when it is one of A to Z; otherwise c.
constexpr char asciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// c upper-cased when it is one of a to z; otherwise c.
constexpr QChar asciiUpper(QChar c) {
    return c >= QLatin1Char('a') && c <= QLatin1Char('z') ? QChar(c.unicode() - ('a' - 'A')) : c;
}

// Whether a and b are equal once their ASCII letters are folded to one case.
constexpr bool equalIgnoringAsciiCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (asciiUpper(a[i]) != asciiUpper(b[i])) {
            return false;
        }
    }
    return true;
}

// text with the ASCII letters a to z upper-cased; every other character is left as it is.
inline QString upperAscii(QString text) {
    for (QChar& c : text) {
        c = asciiUpper(c);
    }
    return text;
}
