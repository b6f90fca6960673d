#include "Shortcuts.h"

#include <QAction>
#include <QEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QObject>

namespace Shortcuts {

namespace {

// Clears its field on Esc while the field holds text.
class EscapeClears : public QObject {
public:
    explicit EscapeClears(QLineEdit& field) : QObject(&field), m_field(field)
    {
        field.installEventFilter(this);
    }

    bool eventFilter(QObject*, QEvent* event) override
    {
        const QEvent::Type type = event->type();
        if ((type != QEvent::KeyPress && type != QEvent::ShortcutOverride) ||
            static_cast<QKeyEvent*>(event)->key() != Qt::Key_Escape ||
            static_cast<QKeyEvent*>(event)->modifiers() != Qt::NoModifier ||
            m_field.text().isEmpty())
            return false;
        // Claimed at the override already, so that no window-wide Esc takes it first.
        event->accept();
        if (type == QEvent::KeyPress)
            m_field.clear();
        return true;
    }

private:
    QLineEdit& m_field;
};

} // namespace

QList<QKeySequence> refresh()
{
    return {QKeySequence(Qt::Key_F5), QKeySequence(Qt::CTRL | Qt::Key_R)};
}

QKeySequence search()
{
    return QKeySequence(Qt::CTRL | Qt::Key_F);
}

QKeySequence copy()
{
    return QKeySequence(Qt::CTRL | Qt::Key_C);
}

QKeySequence terminate()
{
    return QKeySequence(Qt::Key_Delete);
}

QKeySequence screen(int index)
{
    return QKeySequence(Qt::CTRL | static_cast<Qt::Key>(Qt::Key_1 + index));
}

QString withKeys(const QString& text, const QList<QKeySequence>& keys)
{
    QStringList names;
    for (const QKeySequence& key : keys)
        names.append(key.toString(QKeySequence::NativeText));
    return text + QStringLiteral(" (") + names.join(QStringLiteral(" / ")) + u')';
}

void clearOnEscape(QLineEdit& field)
{
    new EscapeClears(field);
}

QAction* addWidgetAction(QWidget& widget, const QKeySequence& key, std::function<void()> run)
{
    auto* action = new QAction(&widget);
    action->setShortcut(key);
    action->setShortcutContext(Qt::WidgetShortcut);
    QObject::connect(action, &QAction::triggered, &widget, [run = std::move(run)] { run(); });
    widget.addAction(action);
    return action;
}

} // namespace Shortcuts
