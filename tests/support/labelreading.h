// Reading produced label PDFs back from the outside: the shapes each page draws, as a PDF reader sees them, and
// the codes each label carries, as an independent reader decodes them from a printed-like raster (poppler's
// pdftoppm at 300 dpi, then zbar's zbarimg, one label at a time). Nothing here uses the encoding library.
#pragma once

#include <QImage>
#include <QRectF>
#include <QSizeF>
#include <QString>
#include <QStringList>
#include <vector>

struct PdfShape {
    enum Kind { Filled, Stroked, Text };
    Kind kind;
    QRectF mm; // the bounding box, in millimetres from the page's top left corner (a text: where it starts)
};

struct PdfPage {
    QSizeF mm; // the media box
    std::vector<PdfShape> shapes;
};

// The pages of the PDF file at path in order, with every rectangle, path and text they draw. An empty list
// when the file cannot be read as a PDF.
std::vector<PdfPage> readPdfPages(const QString& path);
// The frames of a page: the stroked rectangles, in drawing order.
std::vector<QRectF> strokedRectangles(const PdfPage& page);

// Page (from 1) of the PDF at path as pdftoppm draws it at dpi; a null image when it cannot.
QImage renderPdfPage(const QString& path, int page, int dpi = 300);

struct DecodedSymbol {
    QString type; // as zbarimg names it: "QR-Code", "CODE-128"
    QString data;
};
// What zbarimg decodes in each region (millimetres) of image, drawn at dpi; one list per region, in order.
std::vector<std::vector<DecodedSymbol>> decodeRegions(const QImage& image, const std::vector<QRectF>& regionsMm,
                                                      int dpi = 300);
// Whether the region (millimetres) of image, drawn at dpi, holds no dark pixel.
bool regionIsBlank(const QImage& image, const QRectF& regionMm, int dpi = 300);
