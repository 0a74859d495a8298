// Preloaded into the app by the start-up test (LD_PRELOAD): once the main
// window shows, it closes every window as a user would, so the app takes its
// normal way out. Start-up makes a short-lived application of its own first;
// the timer dies with it and starts again with the real one.
#include <QCoreApplication>
#include <QGuiApplication>
#include <QTimer>
#include <QWindow>

namespace {

void closeWindowsOnceShown()
{
    QCoreApplication* app = QCoreApplication::instance();
    auto* poll = new QTimer(app);
    poll->setInterval(100);
    QObject::connect(poll, &QTimer::timeout, app, [poll] {
        bool shown = false;
        for (QWindow* window : QGuiApplication::topLevelWindows())
            shown = shown || window->isVisible();
        if (!shown)
            return;
        poll->stop();
        // Give the view time for its own start-up calls.
        QTimer::singleShot(1500, QCoreApplication::instance(), [] {
            for (QWindow* window : QGuiApplication::topLevelWindows())
                window->close();
        });
    });
    poll->start();
    // A window that never shows must not hang the test.
    QTimer::singleShot(60000, app, [] { QCoreApplication::exit(3); });
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(closeWindowsOnceShown)
