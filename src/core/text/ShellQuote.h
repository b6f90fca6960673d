#pragma once

#include <QString>
#include <QStringList>

// Argument vectors written as a POSIX shell would need them typed.
namespace ShellQuote {

// The argument as is when it holds only characters a shell leaves alone, else in single quotes
// (a quote inside written as '\''); the empty argument as ''.
QString word(const QString& argument);

// The arguments quoted and joined with spaces.
QString line(const QStringList& arguments);

} // namespace ShellQuote
