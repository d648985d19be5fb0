// A run of labels: which assets, on which stock, from which position, how many of each, what each shows and how
// far the printer's feed is off. LabelSheet checks the run before anything is drawn (sizes, counts, and that
// every code comes out readable at the size the stock leaves it), lays the label out once, and draws its pages
// as vector shapes onto any paint device: the window's preview, a PDF file, a printer.
#pragma once

#include "labels/labelassets.h"
#include "labels/stock.h"

#include <QPointF>
#include <QRectF>
#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

class QPageSize;
class QPagedPaintDevice;
class QPainter;
struct LabelSymbols;

// What a label shows besides its identifier, in large lining figures, and the QR code of it.
struct LabelContent {
    bool code128 = false;
    bool company = false;
    bool group = false;
    bool description = false;
    bool lastCheck = false; // for electrical items, the date of the last check
};

struct LabelJob {
    LabelStock stock;
    int start = 1;  // the position of the first label on the first page, from 1
    int copies = 1; // labels of each asset, one after another
    QPointF offset; // millimetres everything is moved right and down, for a printer that feeds off centre
    LabelContent content;
    QString company;
    bool outlines = false; // a thin frame round every label printed, for a trial on plain paper
};

// The most labels of one asset a run prints.
constexpr int kMostCopies = 1000;
// The smallest QR module and narrowest Code 128 bar, in millimetres, that scanners read reliably.
constexpr double kSmallestModule = 0.25;

// Where the parts of a label go, in millimetres from its top left corner.
struct LabelLayout {
    QRectF qr;                 // the QR code's square, quiet zone included
    QRectF text;               // the lines of text
    QRectF code;               // the Code 128 symbol, quiet zones included; empty without one
    double identifierSize = 0; // the identifier's em, in millimetres
    double lineSize = 0;       // the other lines' em
    bool centred = false;      // text centred under the code rather than beside it
};

class LabelSheet {
public:
    // Checks the run at once (see problems); assets are labelled in the order given.
    LabelSheet(LabelJob job, std::vector<LabelAsset> assets);

    const LabelJob& job() const { return job_; }
    // Why the run cannot be printed, a sentence each; empty when it can.
    const QStringList& problems() const { return problems_; }
    // What some labels leave out, and why: an identifier Code 128 cannot carry gets the QR code alone.
    const QStringList& notes() const { return notes_; }
    // Requires: problems() is empty.
    const LabelLayout& layout() const { return layout_; }
    long long labelCount() const;
    int pageCount() const;

    // Draws page (from 0) onto painter, whose device's logical resolution gives its dots per millimetre and whose
    // origin is the page's top left corner. Requires: problems() is empty.
    void drawPage(QPainter& painter, int page) const;

    // Gives device the stock's page, without margins, and draws every page on it in turn. After each page
    // carryOn(pagesDone, pageCount) says whether to go on; when it says no, abandon runs before the painter
    // ends (a printer's job is aborted there) and print returns false. Throws ControlError when the device
    // cannot take the page or be painted on. Requires: problems() is empty.
    bool print(QPagedPaintDevice& device, const std::function<bool(int, int)>& carryOn,
               const std::function<void()>& abandon = {}) const;

private:
    struct Extremes;
    void check();
    QString chooseLayout(const Extremes& extremes);
    void drawLabel(QPainter& painter, double dotsPerMm, const QRectF& frame, const LabelAsset& asset,
                   const LabelSymbols& symbols) const;

    LabelJob job_;
    std::vector<LabelAsset> assets_;
    QStringList problems_;
    QStringList notes_;
    LabelLayout layout_;
    int largestQr_ = 0; // the largest QR code's side in modules, which the layout is made for
};

// The paper of stock's pages: A4 and US Letter by their names, so that a printer offers its tray for them.
QPageSize labelPageSize(const LabelStock& stock);

// The face labels are written in: the look's lining-figure Garamond, compiled into the program.
QString labelFontFamily();
