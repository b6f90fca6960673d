#include "ViewState.h"

#include "Numbers.h"
#include "SettingsFile.h"

#include <QCoreApplication>

namespace {

// The settings file keeps no types for plain values: a number or a flag comes back as text.
std::optional<qint64> wholeNumber(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::LongLong:
        return value.toLongLong();
    case QMetaType::QString:
        return parseInt64Strict(value.toString());
    default:
        return std::nullopt;
    }
}

} // namespace

ViewState& ViewState::shared()
{
    static ViewState* const instance = new ViewState;
    return *instance;
}

ViewState::ViewState()
{
    m_write.setSingleShot(true);
    m_write.setInterval(writeDelayMs);
    connect(&m_write, &QTimer::timeout, this, &ViewState::flush);
    if (QCoreApplication* app = QCoreApplication::instance())
        connect(app, &QCoreApplication::aboutToQuit, this, &ViewState::flush);
}

QVariant ViewState::stored(const QString& key) const
{
    const auto pending = m_pending.constFind(key);
    if (pending != m_pending.cend())
        return *pending;
    return openSettingsFile().value(key);
}

std::optional<bool> ViewState::flag(const QString& key) const
{
    const QVariant value = stored(key);
    if (value.typeId() == QMetaType::Bool)
        return value.toBool();
    if (value.typeId() != QMetaType::QString)
        return std::nullopt;
    const QString text = value.toString();
    if (text == QLatin1String("true"))
        return true;
    if (text == QLatin1String("false"))
        return false;
    return std::nullopt;
}

std::optional<int> ViewState::number(const QString& key, int min, int max) const
{
    const std::optional<qint64> value = wholeNumber(stored(key));
    if (!value || *value < min || *value > max)
        return std::nullopt;
    return static_cast<int>(*value);
}

std::optional<QString> ViewState::choice(const QString& key, const QStringList& allowed) const
{
    const QVariant value = stored(key);
    if (value.typeId() != QMetaType::QString || !allowed.contains(value.toString()))
        return std::nullopt;
    return value.toString();
}

std::optional<QSize> ViewState::size(const QString& key, int max) const
{
    const QVariant value = stored(key);
    if (value.typeId() != QMetaType::QSize)
        return std::nullopt;
    const QSize size = value.toSize();
    if (size.width() < 1 || size.height() < 1 || size.width() > max || size.height() > max)
        return std::nullopt;
    return size;
}

std::optional<QPoint> ViewState::point(const QString& key) const
{
    const QVariant value = stored(key);
    if (value.typeId() != QMetaType::QPoint)
        return std::nullopt;
    return value.toPoint();
}

void ViewState::set(const QString& key, const QVariant& value)
{
    m_pending.insert(key, value);
    m_write.start();
}

void ViewState::keep(const QString& key, const QVariant& value)
{
    m_pending.insert(key, value);
}

void ViewState::flush()
{
    m_write.stop();
    if (m_pending.isEmpty())
        return;
    // QSettings writes through a temporary file and a rename, and merges its keys into what
    // the file holds at that moment: the common-ports list stays as that code last wrote it.
    QSettings settings = openSettingsFile();
    for (auto it = m_pending.cbegin(); it != m_pending.cend(); ++it) {
        if (it.value().isValid())
            settings.setValue(it.key(), it.value());
        else
            settings.remove(it.key());
    }
    settings.sync();
    m_pending.clear();
}
