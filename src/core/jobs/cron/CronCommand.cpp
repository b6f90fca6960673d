#include "CronCommand.h"

CronCommand CronCommand::fromWritten(QStringView written)
{
    CronCommand command;
    QString* into = &command.shellCommand;
    for (qsizetype at = 0; at < written.size(); ++at) {
        const QChar c = written[at];
        if (c == u'\\' && at + 1 < written.size() && written[at + 1] == u'%') {
            into->append(u'%');
            ++at;
        } else if (c == u'%') {
            if (into == &command.input)
                into->append(u'\n');
            into = &command.input;
        } else {
            into->append(c);
        }
    }
    return command;
}

QString cronCommandName(QStringView written)
{
    const QString shellCommand = CronCommand::fromWritten(written).shellCommand;
    const QStringView text = QStringView(shellCommand).trimmed();
    QStringView word;
    if (!text.isEmpty() && (text.front() == u'"' || text.front() == u'\'')) {
        const qsizetype closing = text.indexOf(text.front(), 1);
        word = closing > 0 ? text.sliced(1, closing - 1) : text.sliced(1);
    } else {
        qsizetype end = 0;
        while (end < text.size() && !text[end].isSpace())
            ++end;
        word = text.first(end);
    }
    // A trailing slash names no file: "/opt/tool/" is still "tool".
    while (word.size() > 1 && word.endsWith(u'/'))
        word.chop(1);
    const QStringView base = word.sliced(word.lastIndexOf(u'/') + 1);
    return base.isEmpty() ? written.trimmed().toString() : base.toString();
}
