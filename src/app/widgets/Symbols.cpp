#include "Symbols.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHash>
#include <QIconEngine>
#include <QPainter>
#include <QPalette>
#include <QPixmap>
#include <QStandardPaths>
#include <QStyle>

namespace {

struct Entry {
    // Icon-theme names, tried in order; "-symbolic" ones are monochrome and get tinted.
    QStringList themeNames;
    QStyle::StandardPixmap fallback;
};

const QHash<QString, Entry>& table()
{
    static const QHash<QString, Entry> entries = {
        {"network", {{"network-wired-symbolic", "network-wired"}, QStyle::SP_DriveNetIcon}},
        {"clock.badge.checkmark",
         {{"alarm-symbolic", "preferences-system-time-symbolic"}, QStyle::SP_DialogApplyButton}},
        {"slider.horizontal.3",
         {{"preferences-system-symbolic", "emblem-system-symbolic"},
          QStyle::SP_FileDialogDetailedView}},
        {"arrow.clockwise", {{"view-refresh-symbolic", "view-refresh"}, QStyle::SP_BrowserReload}},
        {"terminal",
         {{"utilities-terminal-symbolic", "utilities-terminal"}, QStyle::SP_ComputerIcon}},
        {"folder", {{"folder-open-symbolic", "folder-symbolic"}, QStyle::SP_DirOpenIcon}},
        {"magnifyingglass",
         {{"system-search-symbolic", "edit-find-symbolic"}, QStyle::SP_FileDialogContentsView}},
        {"doc.on.doc", {{"edit-copy-symbolic", "edit-copy"}, QStyle::SP_FileIcon}},
        {"number",
         {{"input-dialpad-symbolic", "accessories-calculator-symbolic"},
          QStyle::SP_FileDialogListView}},
        {"stop.circle", {{"process-stop-symbolic", "process-stop"}, QStyle::SP_BrowserStop}},
        {"stop.circle.fill",
         {{"media-playback-stop-symbolic", "process-stop-symbolic"}, QStyle::SP_MediaStop}},
        {"exclamationmark.triangle.fill",
         {{"dialog-warning-symbolic", "dialog-warning"}, QStyle::SP_MessageBoxWarning}},
        {"xmark", {{"window-close-symbolic", "window-close"}, QStyle::SP_TitleBarCloseButton}},
        {"play.circle",
         {{"media-playback-start-symbolic", "media-playback-start"}, QStyle::SP_MediaPlay}},
        {"pause.circle",
         {{"media-playback-pause-symbolic", "media-playback-pause"}, QStyle::SP_MediaPause}},
        {"eject.circle", {{"media-eject-symbolic", "media-eject"}, QStyle::SP_ArrowUp}},
        {"tray.and.arrow.down",
         {{"document-save-symbolic", "folder-download-symbolic"}, QStyle::SP_DialogSaveButton}},
        {"doc.text", {{"text-x-generic-symbolic", "text-x-generic"}, QStyle::SP_FileIcon}},
        {"clock",
         {{"document-open-recent-symbolic", "appointment-soon-symbolic"},
          QStyle::SP_BrowserReload}},
        {"plus", {{"list-add-symbolic", "list-add"}, QStyle::SP_FileDialogNewFolder}},
        {"trash", {{"user-trash-symbolic", "edit-delete-symbolic"}, QStyle::SP_TrashIcon}},
        {"arrow.counterclockwise",
         {{"document-revert-symbolic", "edit-undo-symbolic"}, QStyle::SP_ArrowBack}},
        {"power", {{"system-shutdown-symbolic", "system-shutdown"}, QStyle::SP_BrowserStop}},
        {"shippingbox",
         {{"package-x-generic-symbolic", "package-x-generic"}, QStyle::SP_DriveHDIcon}},
    };
    return entries;
}

// Monochrome theme icons are drawn in a fixed dark grey. This engine repaints them when drawn:
// in a fixed colour (e.g. the accent), or else in the palette's text colour of that moment, so
// that they follow a switch between a light and a dark palette.
class TintEngine : public QIconEngine {
public:
    TintEngine(QIcon source, QColor color) : m_source(std::move(source)), m_color(std::move(color))
    {
    }

    QIconEngine* clone() const override { return new TintEngine(m_source, m_color); }

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override
    {
        const qreal ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
        QPixmap image = scaledPixmap(rect.size(), mode, state, ratio);
        painter->drawPixmap(rect, image);
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override
    {
        return scaledPixmap(size, mode, state, 1.0);
    }

    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state,
                         qreal scale) override
    {
        const QColor color = colorFor(mode);
        const QSize pixels = size * scale;
        const QString key = QStringLiteral("%1x%2|%3|%4")
                                .arg(pixels.width())
                                .arg(pixels.height())
                                .arg(color.name(QColor::HexArgb))
                                .arg(int(state));
        if (const auto found = m_cache.constFind(key); found != m_cache.constEnd())
            return *found;
        QPixmap result = m_source.pixmap(pixels, QIcon::Normal, state);
        if (!result.isNull()) {
            QPainter painter(&result);
            painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
            painter.fillRect(result.rect(), color);
            painter.end();
            result.setDevicePixelRatio(scale);
        }
        m_cache.insert(key, result);
        return result;
    }

    QSize actualSize(const QSize& size, QIcon::Mode mode, QIcon::State state) override
    {
        return m_source.actualSize(size, mode, state);
    }

    QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) override
    {
        return m_source.availableSizes(mode, state);
    }

    bool isNull() override { return m_source.isNull(); }

private:
    QColor colorFor(QIcon::Mode mode) const
    {
        const QPalette palette = QGuiApplication::palette();
        if (mode == QIcon::Disabled) {
            QColor disabled = m_color.isValid() ? m_color : palette.color(QPalette::WindowText);
            disabled.setAlphaF(disabled.alphaF() * 0.38);
            return disabled;
        }
        if (m_color.isValid())
            return m_color;
        if (mode == QIcon::Selected)
            return palette.color(QPalette::Active, QPalette::HighlightedText);
        return palette.color(QPalette::Active, QPalette::WindowText);
    }

    QIcon m_source;
    QColor m_color;
    QHash<QString, QPixmap> m_cache;
};

QIcon themeIcon(const Entry& entry, const QColor& color)
{
    for (const QString& name : entry.themeNames) {
        if (!QIcon::hasThemeIcon(name))
            continue;
        const QIcon icon = QIcon::fromTheme(name);
        if (icon.isNull())
            continue;
        if (name.endsWith(QLatin1String("-symbolic")))
            return QIcon(new TintEngine(icon, color));
        return icon;
    }
    return {};
}

QIcon standardIcon(QStyle::StandardPixmap pixmap)
{
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr)
        return {};
    return QApplication::style()->standardIcon(pixmap);
}

bool themeUsable()
{
    return QIcon::hasThemeIcon(QStringLiteral("view-refresh-symbolic")) ||
           QIcon::hasThemeIcon(QStringLiteral("view-refresh"));
}

} // namespace

namespace Symbols {

QIcon icon(const QString& symbolName)
{
    return icon(symbolName, QColor());
}

QIcon icon(const QString& symbolName, const QColor& color)
{
    ensureIconTheme();
    static QHash<QString, QIcon> cache;
    const QString key =
        symbolName + QLatin1Char('|') + (color.isValid() ? color.name(QColor::HexArgb) : QString());
    if (const auto found = cache.constFind(key); found != cache.constEnd())
        return *found;

    const auto entry = table().constFind(symbolName);
    QIcon result;
    if (entry != table().constEnd()) {
        result = themeIcon(*entry, color);
        if (result.isNull())
            result = standardIcon(entry->fallback);
    }
    if (result.isNull())
        result = standardIcon(QStyle::SP_FileIcon);
    if (!result.isNull())
        cache.insert(key, result);
    return result;
}

QStringList names()
{
    return table().keys();
}

void ensureIconTheme()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    if (!QIcon::themeName().isEmpty() && themeUsable())
        return;

    // Some platforms (offscreen, bare X) name no folders either: use the freedesktop ones.
    QStringList searchPaths = QIcon::themeSearchPaths();
    const QStringList folders =
        QStandardPaths::locateAll(QStandardPaths::GenericDataLocation, QStringLiteral("icons"),
                                  QStandardPaths::LocateDirectory);
    for (const QString& folder : folders) {
        if (!searchPaths.contains(folder))
            searchPaths.append(folder);
    }
    QIcon::setThemeSearchPaths(searchPaths);
    if (QIcon::fallbackThemeName().isEmpty())
        QIcon::setFallbackThemeName(QStringLiteral("hicolor"));
    if (!QIcon::themeName().isEmpty() && themeUsable())
        return;

    // Prefer Adwaita, then any complete theme that is installed; hicolor only holds app icons.
    QStringList candidates = {QStringLiteral("Adwaita")};
    for (const QString& path : QIcon::themeSearchPaths()) {
        const QDir dir(path);
        for (const QString& theme : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
            if (QFileInfo::exists(dir.filePath(theme + QStringLiteral("/index.theme"))) &&
                !candidates.contains(theme))
                candidates.append(theme);
        }
    }
    const QString previous = QIcon::themeName();
    for (const QString& theme : candidates) {
        if (theme == QLatin1String("hicolor") || theme == QLatin1String("locolor"))
            continue;
        QIcon::setThemeName(theme);
        if (themeUsable())
            return;
    }
    QIcon::setThemeName(previous);
}

} // namespace Symbols
