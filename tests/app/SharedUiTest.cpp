#include "AppIconProvider.h"
#include "DesktopServices.h"
#include "ErrorBanner.h"
#include "RefreshLoop.h"
#include "RowTint.h"
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
#include <QSignalSpy>
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

TEST(ErrorBanner, ShowsTheMessageSelectableAndDismissesThroughItsOwner)
{
    int dismissed = 0;
    ErrorBanner banner("", [&] { ++dismissed; });
    banner.resize(400, 60);
    banner.show();

    auto* text = banner.findChild<QLabel*>("errorBannerText");
    auto* button = banner.findChild<QToolButton*>("errorBannerDismiss");
    auto* symbol = banner.findChild<QLabel*>("errorBannerSymbol");
    ASSERT_TRUE(text && button && symbol);

    // An empty message still has the symbol and the button around an empty text.
    EXPECT_TRUE(text->text().isEmpty());
    EXPECT_TRUE(symbol->isVisible());
    EXPECT_FALSE(symbol->pixmap().isNull());
    EXPECT_TRUE(button->isVisible());
    EXPECT_TRUE(button->text().isEmpty());
    EXPECT_TRUE(button->toolTip().isEmpty());
    EXPECT_FALSE(button->icon().isNull());
    EXPECT_TRUE(button->autoRaise());

    EXPECT_TRUE(text->textInteractionFlags() & Qt::TextSelectableByMouse);
    EXPECT_TRUE(text->wordWrap());

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
    const int buttonCentre = button->geometry().center().y();
    const int textCentre = text->geometry().center().y();
    EXPECT_LE(std::abs(buttonCentre - textCentre), 2);

    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(dismissed, 1);

    // An action goes between the text and the dismiss button, with its symbol and text.
    int acted = 0;
    banner.setAction("stop.circle.fill", "强制终止 (SIGKILL)", [&] { ++acted; });
    QApplication::processEvents();
    auto* action = banner.findChild<QToolButton*>("errorBannerAction");
    ASSERT_TRUE(action);
    EXPECT_EQ(action->text(), "强制终止 (SIGKILL)");
    EXPECT_GT(paintedPixels(action->icon(), 16), 16);
    EXPECT_LT(text->geometry().right(), action->geometry().left());
    EXPECT_LT(action->geometry().right(), button->geometry().left());
    QTest::mouseClick(action, Qt::LeftButton);
    EXPECT_EQ(acted, 1);
    EXPECT_EQ(dismissed, 1);
}

// A screen that refreshes itself: the loop asks only while the screen is on screen, and only once
// the refresh before has ended.
TEST(RefreshLoop, AsksWhileOnScreenAndNeverBeforeTheLastRefreshEnded)
{
    QWidget window;
    auto* screen = new QWidget(&window);
    int asked = 0;
    bool running = false;
    RefreshLoop loop(*screen, std::chrono::milliseconds(30), [&] {
        ++asked;
        if (running)
            return false;
        running = true;
        return true;
    });
    auto end = [&] {
        running = false;
        loop.refreshEnded();
    };
    QTest::qWait(100);
    EXPECT_EQ(asked, 0); // not shown yet
    window.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return asked == 1; }, 2000));
    QTest::qWait(150);
    EXPECT_EQ(asked, 1); // the first has not ended
    end();
    ASSERT_TRUE(QTest::qWaitFor([&] { return asked == 2; }, 2000));
    end();

    // Nothing while the window is minimised; at once when it comes back.
    window.showMinimized();
    QTest::qWait(150);
    const int whileMinimised = asked;
    end();
    QTest::qWait(150);
    EXPECT_EQ(asked, whileMinimised);
    window.showNormal();
    ASSERT_TRUE(QTest::qWaitFor([&] { return asked == whileMinimised + 1; }, 2000));
    end();

    // Nothing while the screen is hidden, or the loop is off.
    screen->hide();
    QTest::qWait(150);
    const int whileHidden = asked;
    screen->show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return asked == whileHidden + 1; }, 2000));
    loop.setEnabled(false);
    end();
    QTest::qWait(150);
    EXPECT_EQ(asked, whileHidden + 1);
    loop.setEnabled(true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return asked == whileHidden + 2; }, 2000));
}

TEST(RowTint, AMarkedRowFadesFromTheAccentColourToNothing)
{
    RowTint tint;
    QSignalSpy faded(&tint, &RowTint::faded);
    const QPalette palette = QGuiApplication::palette();
    EXPECT_TRUE(tint.isEmpty());
    tint.mark("1/80/TCP");
    const QColor first = tint.background("1/80/TCP", palette).value<QBrush>().color();
    EXPECT_EQ(first.rgb(), Style::accent(palette).rgb());
    EXPECT_GT(first.alphaF(), 0.2);
    EXPECT_FALSE(tint.background("1/80/UDP", palette).isValid());

    QTest::qWait(1000);
    EXPECT_GT(faded.count(), 5);
    const QColor later = tint.background("1/80/TCP", palette).value<QBrush>().color();
    EXPECT_LT(later.alphaF(), first.alphaF());
    EXPECT_GT(later.alphaF(), 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return tint.isEmpty(); }, 5000));
    EXPECT_FALSE(tint.background("1/80/TCP", palette).isValid());
    const int frames = faded.count();
    QTest::qWait(200);
    EXPECT_EQ(faded.count(), frames); // no frames while nothing is tinted
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

TEST(DesktopServices, OpenAndRevealFallBackToTheParentFolder)
{
    Opener opener;
    QDesktopServices::setUrlHandler("file", &opener, "open");
    DesktopServices::open("/srv/shop app");
    ASSERT_EQ(opener.opened.size(), 1);
    EXPECT_EQ(opener.opened.first(), QUrl::fromLocalFile("/srv/shop app"));

    // No file manager answers here (no session bus, or none that owns the name): the folder that
    // holds the directory opens instead.
    DesktopServices::reveal("/srv/shop app/");
    EXPECT_TRUE(QTest::qWaitFor([&] { return opener.opened.size() == 2; }, 8000));
    EXPECT_EQ(opener.opened.value(1), QUrl::fromLocalFile("/srv"));

    // A path that is not UTF-8 is opened by its own bytes.
    DesktopServices::openPath("/srv/caf\xe9 b");
    ASSERT_EQ(opener.opened.size(), 3);
    EXPECT_EQ(opener.opened.value(2).toEncoded(), "file:///srv/caf%E9%20b");
    DesktopServices::revealPath("/srv/caf\xe9/x");
    EXPECT_TRUE(QTest::qWaitFor([&] { return opener.opened.size() == 4; }, 8000));
    EXPECT_EQ(opener.opened.value(3).toEncoded(), "file:///srv/caf%E9");
    QDesktopServices::unsetUrlHandler("file");
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

