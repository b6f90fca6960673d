#pragma once

#include <QWidget>

#include <functional>

class QHBoxLayout;
class QLabel;
class QToolButton;

// The pale orange strip in which a screen shows its store's last failure.
class ErrorBanner : public QWidget {
    Q_OBJECT

public:
    ErrorBanner(const QString& message, std::function<void()> onDismiss, QWidget* parent = nullptr);

    QString message() const;
    void setMessage(const QString& message);
    // Adds a button before the dismiss button, with a symbol (a name of the symbol table) and a
    // text, that calls `action` when pressed; a second call replaces it.
    void setAction(const QString& symbolName, const QString& text, std::function<void()> action);

private:
    QLabel* m_text = nullptr;
    QHBoxLayout* m_row = nullptr;
    QToolButton* m_action = nullptr;
    std::function<void()> m_onDismiss;
    std::function<void()> m_onAction;
};
