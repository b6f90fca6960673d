#pragma once

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <chrono>
#include <functional>

class QWidget;

// Refreshes a screen by itself, `interval` after the last refresh ended, while the screen is shown
// and its window is not minimised. The next refresh is asked for only once the one before has
// ended, so refreshes never pile up; a window brought back from minimised asks at once.
class RefreshLoop : public QObject {
    Q_OBJECT

public:
    // `start` begins a refresh in the background and says whether it did (it need not while
    // another runs); the owner calls refreshEnded() whenever a refresh has ended.
    RefreshLoop(QWidget& screen, std::chrono::milliseconds interval, std::function<bool()> start);

    bool isEnabled() const { return m_enabled; }
    // From the next wait on; a wait under way starts over with it.
    void setInterval(std::chrono::milliseconds interval);
    void setEnabled(bool enabled);
    void refreshEnded();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget& m_screen;
    QPointer<QWidget> m_window;
    std::chrono::milliseconds m_interval;
    std::function<bool()> m_start;
    QTimer m_timer;
    bool m_enabled = true;

    bool onScreen() const;
    void arm(std::chrono::milliseconds delay);
    void watchWindow();
};
