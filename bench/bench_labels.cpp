// Labels saved as a PDF from the Labels window, timed from pressing Save to the file in place: a sheet of 65,
// 1,000 labels, and 100,000 labels streamed page by page, whose resident memory is sampled throughout beside
// the program's idle figure; then the same 100,000 cancelled from the progress window part way. Each time stands
// beside a baseline of the same run: the same pages written by Qt's PDF writer with each label's identifier
// alone, as text at the label's place, which is the least a PDF of these pages costs.
// Every label has its QR code, a Code 128 symbol and the company's name.
#include "bench/benchutil.h"
#include "data/connection.h"
#include "data/datamodule.h"
#include "data/schema.h"
#include "labels/labelswindow.h"
#include "widgets/dialogs.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QPainter>
#include <QPdfWriter>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <thread>
#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace {

// The i-th of the bench's identifiers, numbered as the program numbers them over nine groups: the
// abbreviation, the group's digit, a running number of at least three digits (KLT1001 ... KLT911112).
QString identifier(int i) {
    return QStringLiteral("KLT%1%2").arg(i % 9 + 1).arg(i / 9 + 1, 3, 10, QLatin1Char('0'));
}

// A register of n assets, none written off, in folder/labels-<n>/vnrdata.mdb; made once and reused.
QString labelRegister(const QString& folder, int n) {
    const QString dir = folder + QStringLiteral("/labels9-%1").arg(n);
    QDir().mkpath(dir);
    const QString path = dir + QStringLiteral("/vnrdata.mdb");
    if (QFile::exists(path)) {
        return path;
    }
    createRegister(path);
    Connection c;
    c.openFile(path, QString::fromLatin1(kDefaultFilePassword));
    Connection::Transaction t(c);
    c.exec("UPDATE System SET CompanyName = 'Kelvin Lane Trust', CompanyAbbr = 'KLT'");
    Statement insert(c, "INSERT INTO assets (ASSETID, ItemGroup, Description, isElectrical, LastTestTag) "
                        "VALUES (?, ?, 'Laptop', 1, '2026-03-12')");
    for (int i = 0; i < n; ++i) {
        insert.reset();
        insert.bindText(1, identifier(i));
        insert.bindText(2, QString::number(i % 9 + 1));
        insert.step();
    }
    t.commit();
    return path;
}

// Samples this process's resident memory until stopped; the largest figure seen.
class MemoryWatch {
public:
    MemoryWatch()
        : thread_([this] {
              while (!stop_) {
                  peak_ = std::max(peak_.load(), bench::residentMb());
                  std::this_thread::sleep_for(std::chrono::milliseconds(20));
              }
          }) {}
    double stop() {
        stop_ = true;
        thread_.join();
        return peak_;
    }

private:
    std::atomic<bool> stop_{false};
    std::atomic<double> peak_{0};
    std::thread thread_;
};

// The baseline: the same pages, each label's identifier alone as text at its place.
double identifiersAloneMs(const LabelStock& stock, int labels, const QString& pdf) {
    QElapsedTimer clock;
    clock.start();
    QPdfWriter writer(pdf);
    QPageLayout page(labelPageSize(stock), QPageLayout::Portrait, QMarginsF());
    page.setMode(QPageLayout::FullPageMode);
    writer.setPageLayout(page);
    QPainter p(&writer);
    QFont font(labelFontFamily());
    const double dotsPerMm = writer.logicalDpiX() / 25.4;
    font.setPixelSize(static_cast<int>(4 * dotsPerMm));
    p.setFont(font);
    for (int i = 0; i < labels; ++i) {
        const int position = i % stock.perPage();
        if (i > 0 && position == 0) {
            writer.newPage();
        }
        const QRectF r = stock.labelRect(position);
        p.drawText(QPointF((r.x() + 2) * dotsPerMm, (r.y() + 8) * dotsPerMm), identifier(i));
    }
    p.end();
    return bench::msSince(clock);
}

struct Saved {
    double ms = 0;
    double cancelledAtMs = -1; // when Cancel was pressed, from Save
    double idleMb = 0;
    double peakMb = 0;
    qint64 bytes = 0;
    bool written = false;
};

// Presses Save in w and times it to the file in place; cancelAfterMs >= 0 presses Cancel in the progress
// window that long after Save.
Saved pressSave(LabelsWindow& w, const QString& pdf, int cancelAfterMs = -1) {
    QFile::remove(pdf);
#ifdef __GLIBC__
    malloc_trim(0);
#endif
    Saved s;
    s.idleMb = bench::residentMb();
    DialogScript::setNextFileName(pdf);
    QElapsedTimer clock;
    if (cancelAfterMs >= 0) {
        // The timer fires once the progress window, shown after a second, lets events through.
        QTimer::singleShot(cancelAfterMs, &w, [&w, &s, &clock] {
            if (auto* progress = w.findChild<QProgressDialog*>(QStringLiteral("labelsProgress"))) {
                s.cancelledAtMs = bench::msSince(clock);
                progress->cancel();
            }
        });
    }
    MemoryWatch watch;
    clock.start();
    w.saveButton->click();
    s.ms = bench::msSince(clock);
    s.peakMb = watch.stop();
    s.written = QFile::exists(pdf);
    s.bytes = QFileInfo(pdf).size();
    return s;
}

} // namespace

int main(int argc, char** argv) {
    bench::prepareApplication();
    QApplication app(argc, argv);
    DialogScript::enable();
    const QString folder =
        QStandardPaths::writableLocation(QStandardPaths::TempLocation) + QStringLiteral("/vantrel-bench");
    QTemporaryDir out;
    const LabelStock sheet = *presetStock(QStringLiteral("a4-65"));

    std::printf("%8s %6s | %10s %12s %7s | %8s | %8s %8s %8s\n", "labels", "pages", "Save ms", "baseline ms", "ratio",
                "PDF MB", "RSS idle", "RSS peak", "peak-idle");
    for (const int n : {65, 1000, 100000}) {
        const QString path = labelRegister(folder, n);
        DataModule dm;
        dm.ADOConnection1.openFile(path, QString::fromLatin1(kDefaultFilePassword));
        dm.mainquery.open();
        LabelsWindow w(nullptr, dm, out.filePath(QStringLiteral("labels.conf")));
        w.show();
        QCoreApplication::processEvents();
        w.listRadio->click();
        w.stockCombo->setCurrentIndex(w.stockCombo->findData(sheet.key));
        w.code128Check->setChecked(true);
        w.companyCheck->setChecked(true);
        QCoreApplication::processEvents();
        const QString pdf = out.filePath(QStringLiteral("labels-%1.pdf").arg(n));
        const QString plain = out.filePath(QStringLiteral("plain-%1.pdf").arg(n));
        // The small runs take the median of five; the stream is run once.
        const int runs = n <= 1000 ? 5 : 1;
        std::vector<Saved> saved;
        std::vector<double> baseline;
        for (int r = 0; r < runs; ++r) {
            saved.push_back(pressSave(w, pdf));
            baseline.push_back(identifiersAloneMs(sheet, n, plain));
        }
        std::sort(saved.begin(), saved.end(), [](const Saved& a, const Saved& b) { return a.ms < b.ms; });
        std::sort(baseline.begin(), baseline.end());
        const Saved& m = saved[saved.size() / 2];
        const double base = baseline[baseline.size() / 2];
        if (!m.written) {
            std::printf("%8d: no file was written: %s\n", n, qPrintable(w.previewView->problem()));
            for (const ShownMessage& message : DialogScript::messages()) {
                std::printf("  %s\n", qPrintable(message.text));
            }
            return 1;
        }
        std::printf("%8d %6d | %10.0f %12.0f %7.1f | %8.2f | %8.0f %8.0f %8.0f\n", n, (n + 64) / 65, m.ms, base,
                    m.ms / base, m.bytes / 1e6, m.idleMb, m.peakMb, m.peakMb - m.idleMb);
        if (n == 100000) {
            // The same stream cancelled from its progress window after three seconds: nothing is left.
            const Saved cancelled = pressSave(w, pdf, 3000);
            std::printf("%8d Cancel pressed in the progress window %.0f ms after Save; Save returned %.0f ms after "
                        "Cancel; file left: %s; RSS peak-idle %.0f MB\n",
                        n, cancelled.cancelledAtMs, cancelled.ms - cancelled.cancelledAtMs,
                        cancelled.written ? "yes" : "no", cancelled.peakMb - cancelled.idleMb);
        }
        QFile::remove(pdf);
        QFile::remove(plain);
    }
    return 0;
}
