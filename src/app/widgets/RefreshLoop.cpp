#include "RefreshLoop.h"

#include <QEvent>
#include <QWidget>
#include <QWindowStateChangeEvent>

RefreshLoop::RefreshLoop(QWidget& screen, std::chrono::milliseconds interval,
                         std::function<bool()> start)
    : QObject(&screen), m_screen(screen), m_interval(interval), m_start(std::move(start))
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        if (m_enabled && onScreen())
            m_start();
    });
    m_screen.installEventFilter(this);
    watchWindow();
}

void RefreshLoop::setEnabled(bool enabled)
{
    m_enabled = enabled;
    if (enabled)
        arm(m_interval);
    else
        m_timer.stop();
}

void RefreshLoop::setInterval(std::chrono::milliseconds interval)
{
    m_interval = interval;
    if (m_timer.isActive())
        arm(m_interval);
}

void RefreshLoop::refreshEnded()
{
    arm(m_interval);
}

bool RefreshLoop::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::WindowStateChange && watched == m_screen.window()) {
        const auto* change = static_cast<QWindowStateChangeEvent*>(event);
        if (m_screen.window()->isMinimized())
            m_timer.stop();
        else if (change->oldState() & Qt::WindowMinimized)
            arm(std::chrono::milliseconds(0));
    } else if (watched == &m_screen && event->type() == QEvent::Show) {
        watchWindow();
        arm(m_interval);
    } else if (watched == &m_screen && event->type() == QEvent::Hide) {
        m_timer.stop();
    }
    return QObject::eventFilter(watched, event);
}

bool RefreshLoop::onScreen() const
{
    return m_screen.isVisible() && !m_screen.window()->isMinimized();
}

void RefreshLoop::arm(std::chrono::milliseconds delay)
{
    if (m_enabled && onScreen())
        m_timer.start(delay);
}

void RefreshLoop::watchWindow()
{
    // The screen hears of its own window's state; a screen inside a window asks that window.
    QWidget* window = m_screen.window();
    if (window == m_window)
        return;
    if (m_window && m_window != &m_screen)
        m_window->removeEventFilter(this);
    m_window = window;
    if (window != &m_screen)
        window->installEventFilter(this);
}
