// The checks of a register file made when it is opened, before anything in it is relied on.
#pragma once

#include <QString>

class Connection;

// What stands at path must be an ordinary, whole SQLite file; a journal a crashed save left beside it is
// played back first. Throws DatabaseError naming the file and what stands there.
void checkFileBeforeOpening(const QString& path);
// The shape of the open register file c's tables and, with wholeFile, every page (quick_check) and every
// stored value. Throws DatabaseError naming path and saying it is damaged.
void checkRegisterFileContents(const Connection& c, const QString& path, bool wholeFile);
// The register must be protected by filePassword. Throws DatabaseError naming it as what.
void checkRegisterPassword(const Connection& c, const QString& filePassword, const QString& what);
// Empty when the tables assets, System, Groups and RegisterFile of the file are tables with every column the
// program uses, declared with the program's types; otherwise what is wrong, as a phrase.
QString registerFileShapeProblem(const Connection& c);
// Empty when every stored amount is a number and every yes/no an integer; otherwise the first asset that
// holds another kind, as a phrase.
QString registerFileValueProblem(const Connection& c);
