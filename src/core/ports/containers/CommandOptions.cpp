#include "CommandOptions.h"

namespace Containers {

CommandOptions::CommandOptions(const QStringList& arguments, const QSet<QString>& takeAnyValue)
{
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& word = arguments[i];
        if (word == u"--" || word.size() < 2 || !word.startsWith(u'-'))
            return;
        const QStringView option = QStringView(word).mid(word.startsWith(u"--") ? 2 : 1);
        const qsizetype equals = option.indexOf(u'=');
        const QString name = option.left(equals < 0 ? option.size() : equals).toString();
        if (name.isEmpty() || name.startsWith(u'-'))
            return;
        if (equals >= 0) {
            m_values.insert(name, option.mid(equals + 1).toString());
            continue;
        }
        const bool hasNext = i + 1 < arguments.size();
        if (hasNext && (takeAnyValue.contains(name) || !arguments[i + 1].startsWith(u'-')))
            m_values.insert(name, arguments[++i]);
        else
            m_values.insert(name, QString());
    }
}

std::optional<QString> CommandOptions::value(QStringView name) const
{
    const auto found = m_values.constFind(name.toString());
    return found == m_values.cend() ? std::nullopt : std::optional<QString>(*found);
}

} // namespace Containers
