#include "appcontroller.h"
#include "apppaths.h"

#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickWindow>

// Placeholder start-up; the full start-up order is being written.
int main(int argc, char** argv)
{
    Q_INIT_RESOURCE(views); // the view lives in a static library
    QGuiApplication app(argc, argv);
    AppController controller;
    controller.setVersion(AppVersion);
    QQmlApplicationEngine engine;
    engine.rootContext()->setContextProperty(QStringLiteral("appController"), &controller);
    engine.load(QUrl(QStringLiteral("qrc:/views/Main.qml")));
    const auto roots = engine.rootObjects();
    controller.init(roots.isEmpty() ? nullptr : qobject_cast<QQuickWindow*>(roots.first()));
    return app.exec();
}
