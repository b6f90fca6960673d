#pragma once

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <optional>

namespace Containers {

// The options of a command line that takes no plain arguments: -name value, --name value,
// -name=value and --name=value, the program itself being the first argument. An option followed
// by a word that does not begin with "-" takes that word as its value; the options named in
// `takeAnyValue` take the next argument whatever it looks like. A later option of the same name
// replaces an earlier one; reading stops at "--" or at a word that is no option's value.
class CommandOptions {
public:
    CommandOptions(const QStringList& arguments, const QSet<QString>& takeAnyValue);

    // The option's value; the empty text for an option given without one.
    std::optional<QString> value(QStringView name) const;

private:
    QHash<QString, QString> m_values;
};

} // namespace Containers
