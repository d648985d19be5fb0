// The placeholders of the report templates: a name between two tildes, such as ~TITLE~, stands for a value
// the report writer knows. Kept apart from the writer and free of any window, so that it can be driven
// with any line at all.
#pragma once

#include <QString>
#include <functional>

// The line with every ~NAME~ replaced by valueOf(NAME), HTML-escaped. valueOf receives the name trimmed of
// blanks and control characters at both ends and with its ASCII letters upper-cased; markup outside the
// tildes is copied as it stands, and an unmatched tilde drops the rest of the line.
QString expandPlaceholders(const QString& line, const std::function<QString(const QString& name)>& valueOf);
