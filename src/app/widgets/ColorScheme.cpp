#include "ColorScheme.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QPalette>
#include <QStyle>
#include <QStyleFactory>

#include <optional>

namespace {

const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString settingsInterface = QStringLiteral("org.freedesktop.portal.Settings");
const QString appearance = QStringLiteral("org.freedesktop.appearance");
const QString colorSchemeKey = QStringLiteral("color-scheme");

QPalette darkPalette()
{
    QPalette palette;
    const QColor window(40, 40, 42);
    const QColor text(235, 235, 235);
    const QColor disabled(130, 130, 130);
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Base, QColor(30, 30, 32));
    palette.setColor(QPalette::AlternateBase, QColor(46, 46, 48));
    palette.setColor(QPalette::ToolTipBase, window);
    palette.setColor(QPalette::ToolTipText, text);
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::Button, QColor(58, 58, 60));
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::BrightText, Qt::red);
    palette.setColor(QPalette::Light, QColor(70, 70, 72));
    palette.setColor(QPalette::Midlight, QColor(60, 60, 62));
    palette.setColor(QPalette::Mid, QColor(50, 50, 52));
    palette.setColor(QPalette::Dark, QColor(20, 20, 22));
    palette.setColor(QPalette::Shadow, Qt::black);
    palette.setColor(QPalette::Link, QColor(10, 132, 255));
    palette.setColor(QPalette::Highlight, QColor(10, 132, 255));
    palette.setColor(QPalette::HighlightedText, Qt::white);
    palette.setColor(QPalette::PlaceholderText, disabled);
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        palette.setColor(QPalette::Disabled, role, disabled);
    return palette;
}

// The portal wraps the value in one more variant than it declares.
std::optional<bool> isDark(QVariant value)
{
    while (value.userType() == qMetaTypeId<QDBusVariant>())
        value = value.value<QDBusVariant>().variant();
    bool ok = false;
    const uint scheme = value.toUInt(&ok);
    if (!ok)
        return std::nullopt;
    // 0: no preference, 1: dark, 2: light.
    return scheme == 1;
}

class Follower : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

public slots:
    void settingChanged(const QString& group, const QString& key, const QDBusVariant& value)
    {
        if (group != appearance || key != colorSchemeKey)
            return;
        if (const auto dark = isDark(value.variant()))
            ColorScheme::apply(*dark);
    }
};

struct LightLook {
    QString styleName;
    QPalette palette;
};

std::optional<LightLook>& lightLook()
{
    static std::optional<LightLook> look;
    return look;
}

} // namespace

namespace ColorScheme {

void apply(bool dark)
{
    std::optional<LightLook>& light = lightLook();
    if (dark) {
        if (!light)
            light = LightLook{QApplication::style()->name(), QApplication::palette()};
        QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
        QApplication::setPalette(darkPalette());
        return;
    }
    if (!light)
        return;
    QApplication::setStyle(QStyleFactory::create(light->styleName));
    QApplication::setPalette(light->palette);
    light.reset();
}

void follow()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    auto* follower = new Follower(qApp);
    // The bus finds the slot's parameter types by name, so the variant type must be known first.
    qRegisterMetaType<QDBusVariant>();
    bus.connect(portalService, portalPath, settingsInterface, QStringLiteral("SettingChanged"),
                follower, SLOT(settingChanged(QString, QString, QDBusVariant)));

    QDBusMessage call = QDBusMessage::createMethodCall(portalService, portalPath, settingsInterface,
                                                       QStringLiteral("Read"));
    call << appearance << colorSchemeKey;
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 2000), follower);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [](QDBusPendingCallWatcher* finished) {
                         finished->deleteLater();
                         const QDBusPendingReply<QDBusVariant> reply = *finished;
                         if (reply.isError())
                             return;
                         if (const auto dark = isDark(reply.value().variant()))
                             apply(*dark);
                     });
}

} // namespace ColorScheme

#include "ColorScheme.moc"
