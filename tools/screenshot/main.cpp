// qvk-screenshot [--wait SECONDS] OUT.png
//
// Grabs the whole screen of the display it runs on, waits until something is
// drawn and the picture holds still, crops it to what differs from the
// background (the windows) and saves it. Exits 0 when the picture was saved.
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QStringList>
#include <QThread>

#include <cstdio>

namespace {

QImage grabScreen()
{
    QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->grabWindow(0).toImage().convertToFormat(QImage::Format_RGB32)
                  : QImage();
}

// The smallest rectangle holding every pixel that is not the background colour,
// taken from the top-right corner (windows open at the top left).
QRect contentRect(const QImage& image)
{
    if (image.isNull())
        return {};
    const QRgb background = image.pixel(image.width() - 1, 0);
    int left = image.width(), top = image.height(), right = -1, bottom = -1;
    for (int y = 0; y < image.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            if (line[x] == background)
                continue;
            left = qMin(left, x);
            right = qMax(right, x);
            top = qMin(top, y);
            bottom = qMax(bottom, y);
        }
    }
    return right < 0 ? QRect() : QRect(QPoint(left, top), QPoint(right, bottom));
}

int usage()
{
    fprintf(stderr, "usage: qvk-screenshot [--wait SECONDS] OUT.png\n");
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    double waitSeconds = 20;
    if (args.size() == 3 && args.first() == QLatin1String("--wait")) {
        bool ok = false;
        waitSeconds = args.at(1).toDouble(&ok);
        if (!ok || waitSeconds < 0)
            return usage();
        args = args.mid(2);
    }
    if (args.size() != 1 || args.first().startsWith(QLatin1Char('-')))
        return usage();
    const QString out = args.first();

    // Wait for a drawn picture that holds still between two grabs.
    QElapsedTimer clock;
    clock.start();
    QImage previous;
    QImage picture;
    for (;;) {
        const QImage current = grabScreen();
        if (!contentRect(current).isNull() && current == previous) {
            picture = current;
            break;
        }
        if (clock.elapsed() > waitSeconds * 1000) {
            picture = current;
            break;
        }
        previous = current;
        QThread::msleep(500);
    }

    const QRect content = contentRect(picture);
    if (content.isNull()) {
        fprintf(stderr, "qvk-screenshot: nothing is shown on the screen\n");
        return 1;
    }
    if (!picture.copy(content).save(out, "PNG")) {
        fprintf(stderr, "qvk-screenshot: cannot write %s\n", qPrintable(out));
        return 1;
    }
    return 0;
}
