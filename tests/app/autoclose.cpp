// Preloaded into the app by the start-up test: once a window shows, it closes
// every window as a user would. Start-up makes a short-lived application of
// its own first; the timer dies with it and starts again with the real one.
#include <QGuiApplication>
#include <QTimer>
#include <QWindow>

static void closeWindowsOnceShown()
{
    auto* poll = new QTimer(qApp);
    QObject::connect(poll, &QTimer::timeout, [poll] {
        const QWindowList windows = QGuiApplication::topLevelWindows();
        if (std::none_of(windows.begin(), windows.end(), [](QWindow* w) { return w->isVisible(); }))
            return;
        poll->stop(); // give the view time for its own start-up calls
        QTimer::singleShot(1500, [] {
            for (QWindow* window : QGuiApplication::topLevelWindows())
                window->close();
        });
    });
    poll->start(100);
}

Q_COREAPP_STARTUP_FUNCTION(closeWindowsOnceShown)
