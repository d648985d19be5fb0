// The status window: a borderless, always-on-top window with a caption, a progress gauge, a seconds-left
// estimate and a small animation, shown while a long operation runs on the user-interface thread.
#pragma once

#include <QElapsedTimer>
#include <QString>
#include <QWidget>
#include <memory>

class QFrame;
class QLabel;
class QTimer;
class TCoolAnimate;
class TCoolImages;
class TGauge;

class TStatusFrm : public QWidget {
    Q_OBJECT
public:
    explicit TStatusFrm(QWidget* parent = nullptr);
    ~TStatusFrm() override;

    QLabel* bg;
    QFrame* Shape1;
    TCoolAnimate* AniMate;
    TGauge* gauge;
    QLabel* statuslabel;
    QLabel* TimeLeft;
    TCoolImages* ImageList;
    QTimer* StatusTimer;

    int StatusTicks = 0;
    int LastSecondsLeft = 22222222;

    // Shows the window for an operation of maximum steps: animation on, gauge at 0 of maximum, caption set,
    // clock and estimate reset, pending events processed until the window has been painted on the screen.
    // A negative maximum is refused by the gauge (ControlError) and the window stays hidden. From here to
    // HideStatus the user's input to the program's windows (keys, mouse buttons, wheel, closing a window) is
    // dropped, so nothing the user does can start a second operation inside this one; painting and timers
    // go on.
    void ShowStatus(const QString& caption, int maximum);
    // One step done: the gauge advances, and after more than 50 ticks the seconds-left estimate is shown when
    // it is lower than the one on display; pending events are processed once, unless they were processed less
    // than kStepEventsMs ago (a report steps once per row, far more often than the screen can show).
    void StepStatus();
    // Animation and clock off, window hidden; gauge, labels and counters stay as they are.
    void HideStatus();

    // Handler of StatusTimer: one more tick of 100 ms. Public so that a test can drive the clock.
    void StatusTimerTimer();
    // Places the window in the middle of the screen.
    void centreOnScreen();
    // True from ShowStatus to HideStatus, while the user's input is held back.
    bool holdingInput() const { return inputHeld_ != nullptr; }

    static constexpr int kStepEventsMs = 15;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    class InputHeld;
    std::unique_ptr<InputHeld> inputHeld_;
    QElapsedTimer sinceEvents_;
};

// The seconds-left estimate after ticks of 100 ms with percentDone of the work done, rounded half to even.
int EstimateSecondsLeft(int ticks, int percentDone);
