#include "ShellQuote.h"

namespace ShellQuote {

namespace {

bool plain(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z') || (u >= u'0' && u <= u'9') ||
           QStringView(u"@%+=:,./-_").contains(c);
}

} // namespace

QString word(const QString& argument)
{
    if (!argument.isEmpty() && std::all_of(argument.begin(), argument.end(), plain))
        return argument;
    QString quoted = argument;
    quoted.replace(u'\'', QLatin1String("'\\''"));
    return u'\'' + quoted + u'\'';
}

QString line(const QStringList& arguments)
{
    QStringList words;
    words.reserve(arguments.size());
    for (const QString& argument : arguments)
        words.append(word(argument));
    return words.join(u' ');
}

} // namespace ShellQuote
