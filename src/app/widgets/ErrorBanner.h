#pragma once

#include <QWidget>

#include <functional>

class QLabel;

// The pale orange strip in which a screen shows its store's last failure.
class ErrorBanner : public QWidget {
    Q_OBJECT

public:
    ErrorBanner(const QString& message, std::function<void()> onDismiss, QWidget* parent = nullptr);

    QString message() const;
    void setMessage(const QString& message);

private:
    QLabel* m_text = nullptr;
    std::function<void()> m_onDismiss;
};
