// Renders the application icon's SVG to the PNG sizes that packaging/icons keeps.
// Usage: kestrow_render_icons <icon.svg> <output folder>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QImageReader>
#include <QTextStream>

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QTextStream err(stderr);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 3) {
        err << "usage: kestrow_render_icons <icon.svg> <output folder>\n";
        return 2;
    }
    const QDir out(args.at(2));
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        QImageReader reader(args.at(1));
        reader.setScaledSize(QSize(size, size));
        const QImage image = reader.read();
        if (image.isNull()) {
            err << "cannot render " << args.at(1) << ": " << reader.errorString() << "\n";
            return 1;
        }
        const QString name = out.filePath(QStringLiteral("kestrow-%1.png").arg(size));
        if (!image.save(name, "PNG")) {
            err << "cannot write " << name << "\n";
            return 1;
        }
    }
    return 0;
}
