// The status window and its three operations. Time is counted in ticks of a 100 ms timer that fires only
// while the caller lets pending events through (ShowStatus and StepStatus do, once each), so the estimate
// is built from ticks rather than from a wall clock, exactly as the user sees the window advance.
#include "app/status.h"

#include "widgets/coolanimate.h"
#include "widgets/gauge.h"
#include "widgets/guard.h"
#include "widgets/look.h"

#include <QCoreApplication>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <cmath>

TStatusFrm* StatusFrm = nullptr;

namespace {

constexpr int kClientWidth = 315;
constexpr int kClientHeight = 101;
constexpr int kFrameCount = 19;

// The quill-and-book frames compiled into the program, in playing order; frames that cannot be loaded
// are left out rather than shown as blanks.
QList<QPixmap> animationFrames() {
    QList<QPixmap> frames;
    for (int i = 0; i < kFrameCount; ++i) {
        QPixmap frame(QStringLiteral(":/pictures/anim%1.png").arg(i, 2, 10, QLatin1Char('0')));
        if (!frame.isNull()) {
            frames.append(frame);
        }
    }
    return frames;
}

QLabel* makeStatusLabel(QWidget* parent, const QString& name, const QRect& geometry) {
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setFont(Look::font(16, true));
    label->setAlignment(Qt::AlignCenter);
    label->setGeometry(geometry);
    return label;
}

} // namespace

TStatusFrm::TStatusFrm(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
    StatusFrm = this;
    setObjectName(QStringLiteral("StatusFrm"));
    setFixedSize(kClientWidth, kClientHeight);
    Look::apply(this);
    QPalette blue = palette();
    blue.setColor(QPalette::Window, Look::kStatusBlue);
    setPalette(blue);

    bg = new QLabel(this);
    bg->setObjectName(QStringLiteral("bg"));
    bg->setPixmap(Look::background());
    bg->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    bg->setGeometry(rect());

    Shape1 = new QFrame(this);
    Shape1->setObjectName(QStringLiteral("Shape1"));
    Shape1->setFrameShape(QFrame::Box);
    Shape1->setLineWidth(1);
    QPalette outline = Shape1->palette();
    outline.setColor(QPalette::WindowText, Qt::black);
    Shape1->setPalette(outline);
    Shape1->setGeometry(rect());

    ImageList = new TCoolImages(this);
    ImageList->setObjectName(QStringLiteral("ImageList"));
    ImageList->setImages(animationFrames());

    AniMate = new TCoolAnimate(this);
    AniMate->setObjectName(QStringLiteral("AniMate"));
    AniMate->setGeometry(8, (kClientHeight - 60) / 2, 64, 60);
    AniMate->setInterval(120);
    AniMate->setTransparent(true);
    AniMate->setAutoSize(true);
    AniMate->setCoolImages(ImageList);

    gauge = new TGauge(this);
    gauge->setObjectName(QStringLiteral("gauge"));
    gauge->setGeometry(80, (kClientHeight - 28) / 2, 225, 28);
    gauge->setBackColor(Look::kStatusBlue);
    gauge->setForeColor(Look::kGaugeFore);
    gauge->setFont(Look::font(14, true));
    // The gauge covers its whole rectangle, so nothing beneath it is painted on the repaint of every step.
    gauge->setAttribute(Qt::WA_OpaquePaintEvent);

    statuslabel = makeStatusLabel(this, QStringLiteral("statuslabel"), QRect(80, 8, 225, 26));
    TimeLeft = makeStatusLabel(this, QStringLiteral("TimeLeft"), QRect(80, 67, 225, 26));

    StatusTimer = new QTimer(this);
    StatusTimer->setObjectName(QStringLiteral("StatusTimer"));
    StatusTimer->setInterval(100);
    connectGuarded(StatusTimer, &QTimer::timeout, this, &TStatusFrm::StatusTimerTimer);
}

void TStatusFrm::StatusTimerTimer() {
    ++StatusTicks;
}

void TStatusFrm::centreOnScreen() {
    QScreen* screen = QGuiApplication::primaryScreen();
    if (screen) {
        QRect place(QPoint(), size());
        place.moveCenter(screen->availableGeometry().center());
        move(place.topLeft());
    }
}

void TStatusFrm::paintEvent(QPaintEvent*) {
    // The blue shows wherever the background picture leaves a gap.
    QPainter painter(this);
    painter.fillRect(rect(), Look::kStatusBlue);
}

void ShowStatus(const QString& caption, int maximum) {
    TStatusFrm& w = *StatusFrm;
    w.AniMate->setActive(true);
    try {
        w.gauge->setMinValue(0);
        w.gauge->setMaxValue(maximum);
    } catch (...) {
        // The window is not shown for a refused maximum, so its animation must not keep ticking either.
        w.AniMate->setActive(false);
        throw;
    }
    w.gauge->setProgress(0);
    w.statuslabel->setText(caption);
    w.centreOnScreen();
    w.show();
    w.StatusTicks = 0;
    w.LastSecondsLeft = 22222222;
    w.TimeLeft->clear();
    w.StatusTimer->start();
    QCoreApplication::processEvents();
}

int EstimateSecondsLeft(int ticks, int percentDone) {
    const double elapsed = ticks / 10.0;
    // Kept in this order (time, divided by the share done plus one, times the share left) and rounded
    // half to even under the default rounding mode.
    const double estimate = elapsed / (percentDone + 1) * (100 - percentDone);
    return static_cast<int>(std::nearbyint(estimate));
}

void StepStatus() {
    TStatusFrm& w = *StatusFrm;
    int estimate = w.LastSecondsLeft;
    if (w.gauge->progress() < w.gauge->maxValue()) {
        w.gauge->setProgress(w.gauge->progress() + 1);
    }
    if (w.StatusTicks > 50) {
        estimate = EstimateSecondsLeft(w.StatusTicks, w.gauge->percentDone());
    }
    if (estimate < w.LastSecondsLeft) {
        w.TimeLeft->setText(QString::number(estimate) + QStringLiteral(" Seconds Left"));
        w.LastSecondsLeft = estimate;
    }
    QCoreApplication::processEvents();
}

void HideStatus() {
    TStatusFrm& w = *StatusFrm;
    w.AniMate->setActive(false);
    w.StatusTimer->stop();
    w.hide();
}
