#pragma once

#include <QKeySequence>
#include <QList>
#include <QString>

#include <functional>

class QAction;
class QLineEdit;
class QWidget;

// The window's keys, and what the screens share of them.
namespace Shortcuts {

// Reads the screen's list again: F5, and Ctrl+R.
QList<QKeySequence> refresh();
// Puts the cursor in the screen's search field.
QKeySequence search();
// Copies the table's selected rows.
QKeySequence copy();
// Asks to terminate the selected ports.
QKeySequence terminate();
// Shows the screen of the sidebar's row `index` (0, 1, 2): Ctrl+1, Ctrl+2, Ctrl+3.
QKeySequence screen(int index);

// The text with its keys beside it, as a tooltip shows them: "刷新 (F5 / Ctrl+R)".
QString withKeys(const QString& text, const QList<QKeySequence>& keys);

// Esc in the field clears it; in an empty field it does what it would do anyway.
void clearOnEscape(QLineEdit& field);

// An action for `key` that runs only while `widget` itself has the focus, so that the same key
// keeps its own meaning in the fields around it.
QAction* addWidgetAction(QWidget& widget, const QKeySequence& key, std::function<void()> run);

} // namespace Shortcuts
