// Translation of the program's statements, written in the Jet dialect, into SQLite's dialect. A small
// tokenizer walks the text once; nothing is rewritten by pattern over the whole text, so a quote or a
// keyword inside a literal is never touched.
#pragma once

#include <QString>
#include <string>

// The engine a statement is translated for.
enum class SqlDialect { SQLite, PostgreSQL };

// The result of translating one SELECT statement.
struct TranslatedSelect {
    std::string sql; // the whole statement in SQLite's dialect, without a trailing semicolon

    // Filled when the statement reads one table with plain columns (no join, grouping, aggregate or
    // DISTINCT), so a dataset can keep only row ids and read each row by id when it is shown.
    bool singleTable = false;
    std::string table;      // the table's name as written (brackets removed, double-quoted)
    std::string selectList; // the translated text between SELECT and FROM, e.g. "*" or "AssetID, Make"
    std::string fromOn;     // the translated text from FROM to the end, e.g. FROM Assets WHERE ... ORDER BY ...
    std::string fromWhere;  // fromOn without its ORDER BY, e.g. FROM Assets WHERE ...
};

// Translates one Jet statement:
// - "text" (a doubled quote inside stands for one) and 'text' become SQLite text literals 'text';
// - #m/d/yyyy# becomes the stored date text 'yyyy-mm-dd';
// - TRUE and FALSE in any case become 1 and 0;
// - [name] becomes "name"; other names pass unchanged (SQLite ignores their case too);
// - one trailing semicolon is dropped.
// Throws DatabaseError for an unterminated literal or bracket, a malformed date literal, or anything but
// blanks after the first statement's semicolon.
// For PostgreSQL the same, except:
// - names are left for the server to fold to lower case, as the register's tables and columns are made, and
//   a [name] is written in lower case; a name given after AS keeps its case, as do later uses of it;
// - LIKE becomes ILIKE, the server's LIKE without regard to case, and a backslash in a pattern written as a
//   literal is doubled, since the server's LIKE otherwise takes it as an escape;
// - SELECT * from one register table lists the table's columns, so the server's rowid is not among them.
TranslatedSelect translateJetSql(const QString& jetText, SqlDialect dialect = SqlDialect::SQLite);

// Quotes text as a Jet text literal: in double quotes, an inner double quote doubled, NUL left out.
QString jetQuote(const QString& text);
