// The status window and its three operations. Time is counted in ticks of a 100 ms timer that fires only
// while the caller lets pending events through (ShowStatus and StepStatus do, once each), so the estimate
// is built from ticks rather than from a wall clock, exactly as the user sees the window advance.
#include "app/status.h"

#include "data/onfailure.h"

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
#include <QWindow>
#include <cmath>

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

// Drops the user's input to every window of the program while an operation runs on the user-interface
// thread: the events the status window lets through are for painting and timers, not for starting work.
// Only events from the window system are dropped; what the program sends itself still arrives.
class TStatusFrm::InputHeld : public QObject {
public:
    InputHeld() { QCoreApplication::instance()->installEventFilter(this); }
    ~InputHeld() override { QCoreApplication::instance()->removeEventFilter(this); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::Wheel:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
        case QEvent::TabletPress:
        case QEvent::TabletRelease:
        case QEvent::ContextMenu:
        case QEvent::Close:
            if (event->spontaneous()) {
                event->ignore();
                return true;
            }
            break;
        case QEvent::Shortcut:
            return true;
        default:
            break;
        }
        return QObject::eventFilter(watched, event);
    }
};

TStatusFrm::TStatusFrm(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
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

TStatusFrm::~TStatusFrm() = default;

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

void TStatusFrm::ShowStatus(const QString& caption, int maximum) {
    AniMate->setActive(true);
    {
        // The window is not shown for a refused maximum, so its animation must not keep ticking either.
        const OnFailure stop([this] { AniMate->setActive(false); });
        gauge->setMinValue(0);
        gauge->setMaxValue(maximum);
    }
    gauge->setProgress(0);
    statuslabel->setText(caption);
    centreOnScreen();
    show();
    StatusTicks = 0;
    LastSecondsLeft = 22222222;
    TimeLeft->clear();
    StatusTimer->start();
    if (!inputHeld_) {
        inputHeld_ = std::make_unique<InputHeld>();
    }
    // The window is shown on the screen only once the window system has mapped it, which takes a round
    // trip or more; it is painted then, so the events are let through until it is (or for at most a
    // quarter of a second where the window system never says so).
    QCoreApplication::processEvents();
    QElapsedTimer waited;
    waited.start();
    while (windowHandle() && !windowHandle()->isExposed() && waited.elapsed() < 250) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    if (windowHandle() && windowHandle()->isExposed()) {
        repaint();
    }
    sinceEvents_.start();
}

int EstimateSecondsLeft(int ticks, int percentDone) {
    const double elapsed = ticks / 10.0;
    // Kept in this order (time, divided by the share done plus one, times the share left) and rounded
    // half to even under the default rounding mode.
    const double estimate = elapsed / (percentDone + 1) * (100 - percentDone);
    return static_cast<int>(std::nearbyint(estimate));
}

void TStatusFrm::StepStatus() {
    int estimate = LastSecondsLeft;
    if (gauge->progress() < gauge->maxValue()) {
        gauge->setProgress(gauge->progress() + 1);
    }
    if (StatusTicks > 50) {
        estimate = EstimateSecondsLeft(StatusTicks, gauge->percentDone());
    }
    if (estimate < LastSecondsLeft) {
        TimeLeft->setText(QString::number(estimate) + QStringLiteral(" Seconds Left"));
        LastSecondsLeft = estimate;
    }
    if (!sinceEvents_.isValid() || sinceEvents_.elapsed() >= kStepEventsMs) {
        QCoreApplication::processEvents();
        sinceEvents_.start();
    }
}

void TStatusFrm::HideStatus() {
    AniMate->setActive(false);
    StatusTimer->stop();
    if (inputHeld_) {
        // Input the user made while it was held, but which the window system has not yet handed over, is
        // fetched and dropped before the hold ends: a click or key made during the work must not act after it.
        QGuiApplication::sync();
    }
    inputHeld_.reset();
    hide();
}
