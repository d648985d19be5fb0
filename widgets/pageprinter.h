// Printing a page: the whole page laid out on the printer's pages, a long table laid out in pieces on
// several threads and each printed page sent as soon as the pieces on it are laid out, with a progress
// window that can cancel it.
#pragma once

class QByteArray;
class QPrinter;
class QTextBrowser;

// Lays the page of bytes out on printer and prints it, with a progress window over shown's window that can
// cancel it once a second has passed. shown is the browser showing the page: the printed page takes its
// document's default font, styles, margins and base address, so it looks as shown and finds its pictures as
// the page shown does. False when the user cancelled (the printer's job aborted); throws ControlError when
// nothing could be printed.
bool printHtmlPage(const QByteArray& bytes, QTextBrowser& shown, QPrinter& printer);
