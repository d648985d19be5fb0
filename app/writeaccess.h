// The check every change command makes before it opens its window or saves: whether this user can change
// the register at all (a file or folder read-only for them, a server login without the right), so that
// nobody fills in a form that cannot be saved.
#pragma once

class Connection;

// True when the register can be changed now; otherwise says why, with what to ask for, and gives false. A
// register that has become writable since it was opened is opened again for writing on the way; one whose
// background check has not yet read its pages and values is waited for, and one found damaged is refused.
bool mayChangeRegister(Connection& connection);
