#pragma once

#include <QColor>
#include <QFont>
#include <QPalette>

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

} // namespace Style
