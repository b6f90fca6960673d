#pragma once

#include <QColor>
#include <QFont>
#include <QPalette>

class QFrame;
class QHBoxLayout;
class QLabel;
class QWidget;

// Text styles and colours shared by the screens.
namespace Style {

enum class TextStyle { headline, body, callout, caption, caption2 };

QFont font(TextStyle style, bool monospaced = false, bool bold = false);

QColor primary(const QPalette& palette);
QColor secondary(const QPalette& palette);
QColor tertiary(const QPalette& palette);
QColor accent(const QPalette& palette);
QColor orange();
QColor green();
// The red of destructive buttons and of error messages.
QColor destructive();

// Draws the widget's texts (labels, buttons, fields) in this colour.
void setTextColour(QWidget& widget, const QColor& colour);
// A thin horizontal line between two regions of a screen.
QFrame* divider(QWidget* parent);

// The first row of a screen: a place for its symbol, its title in the headline style, then a
// spacer; the screen adds its own controls at the trailing end of `row`.
struct HeaderRow {
    QWidget* bar;
    QHBoxLayout* row;
    QLabel* symbol;
    QLabel* title;
};
HeaderRow headerRow(QWidget* parent, const QString& title);

// The last row of a screen, in the caption style: a small spinner (the caller shows it while
// loading), the summary text, a spacer, then the hint in the tertiary colour.
struct StatusRow {
    QWidget* bar;
    QWidget* busy;
    QLabel* summary;
    QLabel* hint;
};
StatusRow statusRow(QWidget* parent, const QString& hint);

} // namespace Style
