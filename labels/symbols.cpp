// libzint encodes; this file turns its vector output into module-sized rectangles. zint draws every module two
// of its units wide, quiet zones included when asked for: the size in modules is read from the symbol it made
// and the units per module from its vector's width, so nothing here depends on zint's own scale.
#include "labels/symbols.h"

#include "data/errors.h"

#include <QList>
#include <memory>
#include <zint.h>

namespace {

// ISO/IEC 18004's error correction level M, and the ECI that marks UTF-8 data.
constexpr int kQrLevelM = 2;
constexpr int kEciUtf8 = 26;

struct SymbolDeleter {
    void operator()(zint_symbol* s) const { ZBarcode_Delete(s); }
};
using ZintSymbol = std::unique_ptr<zint_symbol, SymbolDeleter>;

bool isAscii(const QString& text) {
    for (const QChar c : text) {
        if (c.unicode() > 0x7F) {
            return false;
        }
    }
    return true;
}

[[noreturn]] void refuse(const QString& what, const QString& text, const zint_symbol* s) {
    throw ControlError(
        QStringLiteral("The %1 of '%2' cannot be made: %3").arg(what, text, QString::fromLatin1(s->errtxt)));
}

// Encodes text as the symbology asks; with vector output when shapes are wanted.
ZintSymbol encode(int symbology, const QString& text, bool fixedMask, bool shapes) {
    ZintSymbol s(ZBarcode_Create());
    if (!s) {
        throw ControlError(QStringLiteral("There is no memory left to encode '%1'").arg(text));
    }
    s->symbology = symbology;
    s->input_mode = UNICODE_MODE;
    s->output_options = BARCODE_QUIET_ZONES;
    s->show_hrt = 0;
    if (symbology == BARCODE_QRCODE) {
        s->option_1 = kQrLevelM;
        if (!isAscii(text)) {
            s->eci = kEciUtf8;
        }
        if (fixedMask) {
            s->option_3 = 1 << 8; // mask 0: the size does not depend on the mask, and trying all eight is slow
        }
    }
    const QByteArray utf8 = text.toUtf8();
    const int rc = ZBarcode_Encode(s.get(), reinterpret_cast<const unsigned char*>(utf8.constData()),
                                   static_cast<int>(utf8.size()));
    const QString what = symbology == BARCODE_QRCODE ? QStringLiteral("QR code") : QStringLiteral("Code 128 symbol");
    if (rc >= ZINT_ERROR) {
        refuse(what, text, s.get());
    }
    if (shapes && ZBarcode_Buffer_Vector(s.get(), 0) >= ZINT_ERROR) {
        refuse(what, text, s.get());
    }
    return s;
}

Symbol shapesOf(const zint_symbol& s, int quietZone, bool stretchBars) {
    Symbol out;
    out.width = s.width + 2 * quietZone;
    out.height = stretchBars ? 1 : s.rows + 2 * quietZone;
    const double unit = s.vector->width / out.width; // zint's units per module
    const double rowHeight = stretchBars ? s.vector->height : unit;
    for (const zint_vector_rect* r = s.vector->rectangles; r; r = r->next) {
        out.dark.emplace_back(r->x / unit, r->y / rowHeight, r->width / unit, r->height / rowHeight);
    }
    return out;
}

} // namespace

Symbol qrSymbol(const QString& text) {
    return shapesOf(*encode(BARCODE_QRCODE, text, false, true), kQrQuietZone, false);
}

int qrModules(const QString& text) {
    return encode(BARCODE_QRCODE, text, true, false)->width + 2 * kQrQuietZone;
}

QString code128Refusal(const QString& text) {
    for (const uint code : text.toUcs4()) {
        if (code < 0x20 || code > 0x7E) {
            const char32_t c = code;
            return QStringLiteral("Code 128 carries only ASCII letters, digits and signs, and '%1' is not one of them")
                .arg(QString::fromUcs4(&c, 1));
        }
    }
    return QString();
}

Symbol code128Symbol(const QString& text) {
    return shapesOf(*encode(BARCODE_CODE128, text, false, true), kCode128QuietZone, true);
}

int code128Modules(const QString& text) {
    return encode(BARCODE_CODE128, text, false, false)->width + 2 * kCode128QuietZone;
}
