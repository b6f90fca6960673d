#include "ColorScheme.h"
#include "MainWindow.h"
#include "QuitOnSignal.h"
#include "Symbols.h"

#include <QApplication>
#include <QDirIterator>
#include <QThreadPool>

#include <unistd.h>

namespace {

// The installed theme icon when there is one, else the sizes built into the program.
QIcon applicationIcon()
{
    QIcon builtIn;
    QDirIterator sizes(QStringLiteral(":/appicon"), {QStringLiteral("kestrow-*.png")});
    while (sizes.hasNext())
        builtIn.addFile(sizes.next());
    return QIcon::fromTheme(QStringLiteral("dev.kestrow.Kestrow"), builtIn);
}

} // namespace

int main(int argc, char** argv)
{
    QuitOnSignal::catchSignals();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kestrow"));
    QApplication::setDesktopFileName(QStringLiteral("dev.kestrow.Kestrow"));
    QApplication::setQuitOnLastWindowClosed(true);
    Symbols::ensureIconTheme();
    QApplication::setWindowIcon(applicationIcon());
    ColorScheme::follow();

    MainWindow window;
    window.show();
    window.raise();
    window.activateWindow();
    QuitOnSignal::closeOnSignal(window);
    const int status = QApplication::exec();

    // A scan still running when the window closes is abandoned, not awaited: the application
    // object would otherwise wait for it on destruction, up to the tool's time limit, with no
    // window left. Nothing remains to be saved: the window wrote how it was left as it closed,
    // and the common-ports list was written at every change.
    if (QThreadPool::globalInstance()->activeThreadCount() > 0)
        ::_exit(status);
    return status;
}
