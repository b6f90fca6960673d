#pragma once

#include <QStringView>

#include <optional>

// Strict decimal parsing for tool output: an optional sign, then ASCII digits only, in range.
// No surrounding blanks, no other digit sets.
std::optional<qint64> parseInt64Strict(QStringView text);
std::optional<qint32> parseInt32Strict(QStringView text);
// Digits only, no sign.
std::optional<quint32> parseUInt32Strict(QStringView text);
