#include "CronTable.h"

namespace {

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}

QStringView skipBlanks(QStringView text)
{
    qsizetype at = 0;
    while (at < text.size() && isBlank(text[at]))
        ++at;
    return text.sliced(at);
}

// The next blank-separated word of `rest`, which moves past it and the blanks after it.
QStringView takeWord(QStringView& rest)
{
    qsizetype end = 0;
    while (end < rest.size() && !isBlank(rest[end]))
        ++end;
    const QStringView word = rest.first(end);
    rest = skipBlanks(rest.sliced(end));
    return word;
}

// "NAME = value", blanks around "=" optional; quotes around the value keep its outer blanks.
std::optional<std::pair<QString, QString>> assignment(QStringView line)
{
    qsizetype end = 0;
    while (end < line.size() && !isBlank(line[end]) && line[end] != u'=')
        ++end;
    if (end == 0)
        return std::nullopt;
    const QStringView afterName = skipBlanks(line.sliced(end));
    if (!afterName.startsWith(u'='))
        return std::nullopt;
    QStringView value = skipBlanks(afterName.sliced(1));
    if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') &&
        value.back() == value.front()) {
        value = value.sliced(1, value.size() - 2);
    }
    return std::pair{line.first(end).toString(), value.toString()};
}

std::optional<CronEntry> entry(QStringView line, CronTableKind kind)
{
    QStringView rest = line;
    const QStringView first = takeWord(rest);
    CronEntry parsed;
    if (first.startsWith(u'@')) {
        parsed.timing = first.toString();
        parsed.atReboot = first == u"@reboot";
        parsed.fields = CronFields::forShorthand(first);
    } else {
        CronFields fields;
        fields.texts[0] = first.toString();
        for (size_t at = 1; at < fields.texts.size(); ++at) {
            if (rest.isEmpty())
                return std::nullopt;
            fields.texts[at] = takeWord(rest).toString();
        }
        parsed.timing = line.first(line.size() - rest.size()).trimmed().toString();
        parsed.fields = fields;
    }
    if (kind == CronTableKind::system)
        parsed.user = takeWord(rest).toString();
    if (rest.trimmed().isEmpty() || (kind == CronTableKind::system && parsed.user.isEmpty()))
        return std::nullopt;
    parsed.command = rest.toString();
    return parsed;
}

// The column legend that tables often carry above their first entry ("m h dom mon dow command").
bool isLegend(QStringView text)
{
    return text.startsWith(u"m h ") &&
           text.toString().simplified().startsWith(QStringLiteral("m h dom mon dow"));
}

std::optional<QString> commentName(QStringView line, CronTableKind kind)
{
    qsizetype at = 0;
    while (at < line.size() && line[at] == u'#')
        ++at;
    const QStringView text = line.sliced(at).trimmed();
    if (text.isEmpty() || isLegend(text))
        return std::nullopt;
    // A line switched off with "#" describes nothing below it.
    if (const auto commentedOut = entry(text, kind);
        commentedOut &&
        (commentedOut->atReboot || (commentedOut->fields && commentedOut->fields->schedule()))) {
        return std::nullopt;
    }
    return text.toString();
}

} // namespace

QList<CronEntry> parseCronTable(QStringView text, CronTableKind kind)
{
    QList<CronEntry> entries;
    QList<std::pair<QString, QString>> variables;
    std::optional<QString> comment;
    qsizetype number = 0;
    for (QStringView rawLine : text.tokenize(u'\n')) {
        ++number;
        const QStringView line = skipBlanks(rawLine);
        if (line.startsWith(u'#')) {
            comment = commentName(line, kind);
            continue;
        }
        if (auto variable = assignment(line)) {
            variables.append(std::move(*variable));
        } else if (auto parsed = entry(line, kind)) {
            parsed->line = number;
            parsed->comment = std::move(comment);
            parsed->variables = variables;
            entries.append(std::move(*parsed));
        }
        comment.reset();
    }
    return entries;
}
