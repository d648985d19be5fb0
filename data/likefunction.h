// The LIKE of the register: % is any run of characters, _ exactly one, and letters match without regard to
// case in every alphabet (SQLite's own LIKE folds ASCII only). It runs on every row of every keystroke of
// the search, so ASCII text takes a fast path.
#pragma once

#include <string_view>

struct sqlite3;

// True when text (UTF-8) matches pattern (UTF-8). escape, when not 0, is the code point that makes the
// next pattern character literal.
bool likeMatch(std::string_view pattern, std::string_view text, char32_t escape = 0);

// Registers like(pattern, text) and like(pattern, text, escape) on the connection, replacing SQLite's own.
void registerLikeFunctions(sqlite3* db);
