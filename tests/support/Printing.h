#pragma once

#include <QDateTime>
#include <QString>

#include <ostream>

// Readable texts in test failure messages.
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

inline void PrintTo(const QDateTime& moment, std::ostream* out)
{
    *out << moment.toString(Qt::ISODate).toStdString();
}
