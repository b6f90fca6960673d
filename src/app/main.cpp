#include "ColorScheme.h"
#include "MainWindow.h"
#include "Symbols.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kestrow"));
    QApplication::setQuitOnLastWindowClosed(true);
    Symbols::ensureIconTheme();
    QApplication::setWindowIcon(Symbols::icon(QStringLiteral("network")));
    ColorScheme::follow();

    MainWindow window;
    window.show();
    window.raise();
    window.activateWindow();
    return QApplication::exec();
}
