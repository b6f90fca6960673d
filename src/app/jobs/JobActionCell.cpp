#include "JobActionCell.h"

#include "DesktopServices.h"
#include "SafeText.h"
#include "Symbols.h"

#include <QHBoxLayout>
#include <QToolButton>

namespace {

constexpr int symbolSize = 16;

struct Face {
    const char* objectName;
    const char* symbol;
    QString title;
    QString tooltip;
};

// systemd's load and unload enable and disable the timer; launchd's bootstrap and boot out.
// cron starts one run of the entry's command, beside whatever cron itself runs.
Face faceOf(JobSourceKind source, JobAction action)
{
    const bool systemd = source == JobSourceKind::systemd;
    switch (action) {
    case JobAction::start:
        return {"start", "play.circle", QStringLiteral("启动"),
                source == JobSourceKind::cron ? QStringLiteral("立即运行一次")
                                              : QStringLiteral("立即启动")};
    case JobAction::stop:
        return {"stop", "pause.circle", QStringLiteral("停止"),
                QStringLiteral("停止运行（保持已加载）")};
    case JobAction::load:
        if (systemd)
            return {"load", "tray.and.arrow.down", QStringLiteral("加载"),
                    QStringLiteral("启用并加载定时器（enable --now）")};
        return {"load", "tray.and.arrow.down", QString(),
                QStringLiteral("从 plist 加载（bootstrap）")};
    case JobAction::unload:
        break;
    }
    return {"unload", "eject.circle", QStringLiteral("卸载"),
            systemd ? QStringLiteral("停用并卸载定时器（disable --now）")
                    : QStringLiteral("卸载（bootout）")};
}

} // namespace

JobActionCell::JobActionCell(const Job& job, bool busy, Perform perform, QWidget* parent)
    : QWidget(parent)
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(4, 0, 4, 0);
    row->setSpacing(6);
    const QString label = SafeText::visible(job.identity.label);

    for (const JobAction action : job.actions) {
        const Face face = faceOf(job.identity.source, action);
        QToolButton* button =
            addButton(QString::fromLatin1(face.objectName), QString::fromLatin1(face.symbol),
                      face.title, face.tooltip, label);
        connect(button, &QToolButton::clicked, this, [perform, action] { perform(action); });
    }
    if (job.definitionPath) {
        const QString path = *job.definitionPath;
        QToolButton* open = addButton(QStringLiteral("open"), QStringLiteral("doc.text"), QString(),
                                      QStringLiteral("打开配置文件"), label);
        connect(open, &QToolButton::clicked, this, [path] { DesktopServices::open(path); });
        QToolButton* reveal = addButton(QStringLiteral("reveal"), QStringLiteral("folder"),
                                        QString(), QStringLiteral("在 Finder 中显示"), label);
        connect(reveal, &QToolButton::clicked, this, [path] { DesktopServices::reveal(path); });
    }
    row->addStretch(1);
    for (QToolButton* button : findChildren<QToolButton*>())
        button->setEnabled(!busy);
}

QToolButton* JobActionCell::addButton(const QString& objectName, const QString& symbol,
                                      const QString& title, const QString& tooltip,
                                      const QString& label)
{
    auto* button = new QToolButton(this);
    button->setObjectName(objectName);
    button->setAutoRaise(true);
    button->setIcon(Symbols::icon(symbol));
    button->setIconSize(QSize(symbolSize, symbolSize));
    button->setToolTip(tooltip);
    // Which job the button acts on, for a screen reader that hears the button alone.
    button->setAccessibleName(tooltip + u' ' + label);
    if (title.isEmpty()) {
        button->setToolButtonStyle(Qt::ToolButtonIconOnly);
    } else {
        button->setText(title);
        button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    }
    layout()->addWidget(button);
    return button;
}
