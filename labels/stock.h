// Label stock: the sheet or roll the labels come on, measured in millimetres from the top left corner of the
// page. A sheet holds a grid of labels; a roll is one label to a page, the page being the label. The presets
// carry their makers' published geometry and are named by page, count and size.
#pragma once

#include <QRectF>
#include <QSizeF>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

struct LabelStock {
    QString key;  // how the command line and the user's settings name it: "a4-65", "tape-62", "custom"
    QString name; // how the window names it: "A4 sheet, 65 labels 38.1 x 21.2 mm"
    QSizeF page;
    int columns = 1;
    int rows = 1;
    QSizeF label;
    double gapAcross = 0; // between two columns
    double gapDown = 0;   // between two rows
    double marginLeft = 0;
    double marginTop = 0;
    bool roll = false; // one label to a page
    bool tape = false; // a roll of continuous tape, cut at the label's height

    int perPage() const { return columns * rows; }
    // The frame of the label at position (from 0, across the first row, then the next) on its page.
    QRectF labelRect(int position) const;
};

// The largest page side a stock may have, in millimetres.
constexpr double kLargestPageSide = 1000;
// The tape's width, and the length it is cut at unless another is chosen.
constexpr double kTapeWidth = 62;
constexpr double kDefaultTapeLength = 30;

// The presets in the order the window lists them; the tape is cut at kDefaultTapeLength.
const std::vector<LabelStock>& presetStocks();
// The preset named key, case aside; nullopt when there is none.
std::optional<LabelStock> presetStock(const QString& key);
// The tape cut at length millimetres.
LabelStock tapeStock(double length);
// A stock of the user's own measures.
LabelStock customStock(const QSizeF& page, int columns, int rows, const QSizeF& label, double gapAcross, double gapDown,
                       double marginLeft, double marginTop);
// The margin that centres count labels of size with gaps of gap on a page side of pageSide; for a custom stock
// given without margins.
double centredMargin(double pageSide, int count, double size, double gap);

// Why labels cannot be printed on stock, one sentence each: a size that is not above zero, a count out of
// range, labels that reach past the page. Empty when they can.
QStringList stockProblems(const LabelStock& stock);

// A length in millimetres as the messages and the window write it: at most two decimals, no trailing zeros.
QString millimetres(double mm);
