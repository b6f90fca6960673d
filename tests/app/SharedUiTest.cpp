#include "AppIconProvider.h"
#include "DesktopServices.h"
#include "ErrorBanner.h"
#include "Style.h"
#include "Symbols.h"
#include "TestSupport.h"

#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

namespace {

int paintedPixels(const QIcon& icon, int size)
{
    const QImage image = icon.pixmap(size, size).toImage().convertToFormat(QImage::Format_ARGB32);
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(image.pixel(x, y)) > 0)
                ++count;
    return count;
}

} // namespace

TEST(Symbols, EveryNameTheScreensUseDrawsSomething)
{
    const QStringList used =
        QString("network clock.badge.checkmark slider.horizontal.3 arrow.clockwise terminal "
                "folder magnifyingglass doc.on.doc number stop.circle stop.circle.fill "
                "exclamationmark.triangle.fill xmark play.circle pause.circle eject.circle "
                "tray.and.arrow.down doc.text clock plus trash arrow.counterclockwise power "
                "shippingbox")
            .split(' ');
    for (const QString& name : used) {
        EXPECT_TRUE(Symbols::names().contains(name)) << name.toStdString();
        for (int size : {16, 18}) {
            const QIcon plain = Symbols::icon(name);
            ASSERT_FALSE(plain.isNull()) << name.toStdString();
            EXPECT_GT(paintedPixels(plain, size), size) << name.toStdString() << " @" << size;
            EXPECT_GT(paintedPixels(Symbols::icon(name, Style::orange()), size), size)
                << name.toStdString();
        }
    }
    // Offscreen names no theme of its own: an installed one must have been picked.
    EXPECT_FALSE(QIcon::themeName().isEmpty());
}

// Symbols are painted in a given colour, or else in the text colour of the palette of the moment.
TEST(Symbols, ColoursFollowTheCallerOrThePalette)
{
    auto opaque = [](const QIcon& icon) {
        const QImage image = icon.pixmap(18, 18).toImage().convertToFormat(QImage::Format_ARGB32);
        QList<QColor> colours;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (qAlpha(image.pixel(x, y)) > 200)
                    colours.append(QColor(image.pixel(x, y)));
        return colours;
    };
    const QList<QColor> red = opaque(Symbols::icon("arrow.clockwise", QColor(Qt::red)));
    ASSERT_FALSE(red.isEmpty());
    EXPECT_EQ(red.count(QColor(Qt::red)), red.size());

    const QPalette original = QGuiApplication::palette();
    const QIcon icon = Symbols::icon("xmark");
    auto brightest = [&] {
        int best = 0;
        for (const QColor& colour : opaque(icon))
            best = std::max(best, qGray(colour.rgb()));
        return best;
    };
    QPalette dark = original;
    dark.setColor(QPalette::WindowText, Qt::white);
    QApplication::setPalette(dark);
    EXPECT_GT(brightest(), 230);
    QPalette light = original;
    light.setColor(QPalette::WindowText, Qt::black);
    QApplication::setPalette(light);
    EXPECT_LT(brightest(), 30);
    QApplication::setPalette(original);
}

// What the screens' banner tests do not meet: the text is plain, selectable and wraps beside the
// buttons.
TEST(ErrorBanner, ShowsTheMessageAsTypedSelectableAndWrapped)
{
    int dismissed = 0;
    ErrorBanner banner("", [&] { ++dismissed; });
    banner.resize(400, 60);
    banner.show();
    auto* text = banner.findChild<QLabel*>("errorBannerText");
    auto* button = banner.findChild<QToolButton*>("errorBannerDismiss");
    ASSERT_TRUE(text && button);
    EXPECT_TRUE(text->textInteractionFlags() & Qt::TextSelectableByMouse);

    // Markup is shown as typed, not interpreted.
    banner.setMessage("<b>端口 80</b>：权限不足");
    EXPECT_EQ(banner.message(), "<b>端口 80</b>：权限不足");
    EXPECT_EQ(text->textFormat(), Qt::PlainText);

    // A long message wraps: the banner grows taller, the button stays centred on the block.
    const int oneLine = banner.sizeHint().height();
    banner.setMessage(QString("进程不存在（可能已退出）。").repeated(20));
    banner.resize(400, banner.heightForWidth(400) > 0 ? banner.heightForWidth(400) : 200);
    QApplication::processEvents();
    EXPECT_GT(text->height(), oneLine);
    EXPECT_LE(std::abs(button->geometry().center().y() - text->geometry().center().y()), 2);
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(dismissed, 1);
}

TEST(DesktopServices, CopyReplacesTheClipboardWithPlainText)
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    auto* previous = new QMimeData;
    previous->setHtml("<i>old</i>");
    previous->setText("old");
    clipboard->setMimeData(previous);

    DesktopServices::copyText("8080");
    EXPECT_EQ(clipboard->text(), "8080");
    EXPECT_EQ(clipboard->mimeData()->formats(), QStringList{"text/plain"});
}

// Revealing, with or without a file manager, is the desktop bus test's.
TEST(DesktopServices, OpenGoesToTheDefaultApplicationByThePathsOwnBytes)
{
    Opener opener;
    QDesktopServices::setUrlHandler("file", &opener, "open");
    DesktopServices::open("/srv/shop app");
    // A path that is not UTF-8 is opened by its own bytes, and so is its folder.
    DesktopServices::openPath("/srv/caf\xe9 b");
    DesktopServices::revealPath("/srv/caf\xe9/x");
    EXPECT_TRUE(QTest::qWaitFor([&] { return opener.opened.size() == 3; }, 8000));
    QDesktopServices::unsetUrlHandler("file");
    EXPECT_EQ(opener.opened.value(0), QUrl::fromLocalFile("/srv/shop app"));
    EXPECT_EQ(opener.opened.value(1).toEncoded(), "file:///srv/caf%E9%20b");
    EXPECT_EQ(opener.opened.value(2).toEncoded(), "file:///srv/caf%E9");
}

TEST(AppIconProvider, AnEntrysIconIsAnImageFileOrAThemeName)
{
    QTemporaryDir dir;
    QImage square(32, 32, QImage::Format_ARGB32);
    square.fill(QColor(0, 128, 255));
    const QString iconPath = dir.filePath("shop.png");
    ASSERT_TRUE(square.save(iconPath));

    const auto fromFile = AppIconProvider::icon(iconPath);
    ASSERT_TRUE(fromFile.has_value());
    EXPECT_EQ(fromFile->pixmap(18, 18).toImage().pixelColor(9, 9), QColor(0, 128, 255));
    const auto themed = AppIconProvider::icon(QString("utilities-terminal"));
    ASSERT_TRUE(themed.has_value());
    EXPECT_GT(paintedPixels(*themed, 18), 18);
    for (const auto& none : {std::optional<QString>(dir.filePath("missing.png")),
                             std::optional<QString>("no-such-icon-anywhere"),
                             std::optional<QString>(""), std::optional<QString>()})
        EXPECT_FALSE(AppIconProvider::icon(none).has_value()) << none.value_or("-").toStdString();
}
