// The codes on a label, encoded by libzint and kept as shapes: a QR code of the identifier and, when asked
// for, a Code 128 symbol. Each symbol is measured in modules (the narrowest bar or smallest square), quiet
// zones included, so that the label's layout scales it to whatever size it draws it at without rasterising.
#pragma once

#include <QRectF>
#include <QString>
#include <vector>

// The quiet zones, in modules, kept light around each symbol on every side it needs one.
constexpr int kQrQuietZone = 4;
constexpr int kCode128QuietZone = 10;

struct Symbol {
    // The dark areas, in modules from the top left corner of the quiet zone. A Code 128 symbol's bars are one
    // unit high: the label stretches them to the height it gives the symbol.
    std::vector<QRectF> dark;
    int width = 0;  // modules across, quiet zones included
    int height = 0; // modules down, quiet zones included (a Code 128 symbol: 1)
};

// The QR code of text, error correction level M: in UTF-8 marked as such (ECI 26) when text holds anything
// but ASCII, so that readers give back exactly text; plain bytes otherwise. Throws ControlError naming text
// when it cannot be encoded.
Symbol qrSymbol(const QString& text);
// The side of text's QR code in modules, quiet zones included, as qrSymbol would make it; found without
// choosing the best mask, which does not change the size. Throws ControlError as qrSymbol does.
int qrModules(const QString& text);

// Why Code 128 cannot carry text, in a sentence naming the first character it cannot; empty when it can.
// Only printable ASCII is accepted: the characters beyond it need a shift that many scanners drop.
QString code128Refusal(const QString& text);
// The Code 128 symbol of text. Requires: code128Refusal(text) is empty. Throws ControlError when the
// library refuses it all the same.
Symbol code128Symbol(const QString& text);
// The width of text's Code 128 symbol in modules, quiet zones included.
int code128Modules(const QString& text);
