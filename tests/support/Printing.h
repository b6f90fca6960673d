#pragma once

#include "ContainerDescription.h"

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
namespace Containers {
inline void PrintTo(const ContainerDescription& container, std::ostream* out)
{
    *out << '{' << container.name.toStdString() << ", "
         << container.image.value_or("-").toStdString() << ", "
         << container.id.value_or("-").left(12).toStdString() << ", "
         << container.engineSocket.value_or("-").toStdString()
         << (container.insideContainer ? ", inside}" : "}");
}
} // namespace Containers
