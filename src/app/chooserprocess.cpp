#include "app/chooserprocess.h"

#include <QApplication>
#include <QDebug>
#include <QDir>
#include <QFileDialog>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QTimer>
#include <QWindow>

#include <cstdio>

namespace {

const char chooseArgument[] = "--choose";

QString standardPlace(const QString& place)
{
    const QStandardPaths::StandardLocation location =
        place == QLatin1String("desktop")  ? QStandardPaths::DesktopLocation
        : place == QLatin1String("movies") ? QStandardPaths::MoviesLocation
                                           : QStandardPaths::DocumentsLocation;
    return QStandardPaths::writableLocation(location);
}

} // namespace

ChooserProcess::ChooserProcess(const QString& program, QObject* parent)
    : QObject(parent), program(program)
{
}

bool ChooserProcess::needed() const
{
    // The application's ratio is never below 1; the screens' ratios are.
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen && screen->devicePixelRatio() < 1.0;
}

bool ChooserProcess::running() const
{
    return process != nullptr;
}

void ChooserProcess::choose(const QString& title, const QString& place, const QStringList& filters,
                            QObject* window)
{
    if (process)
        return;
    auto* parentWindow = qobject_cast<QWindow*>(window);
    process = new QProcess(this);
    connect(process, qOverload<int, QProcess::ExitStatus>(&QProcess::finished), this,
            [this](int exitCode, QProcess::ExitStatus status) {
                finished(status == QProcess::NormalExit ? exitCode : 1);
            });
    connect(process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) {
            qWarning().noquote() << "The file chooser could not start:" << process->errorString();
            finished(1);
        }
    });
    QStringList arguments{QLatin1String(chooseArgument),
                          filters.isEmpty() ? QStringLiteral("folder") : QStringLiteral("file"),
                          title, standardPlace(place),
                          QString::number(parentWindow ? parentWindow->winId() : 0)};
    process->start(program, arguments + filters);
    emit runningChanged();
}

void ChooserProcess::cancel()
{
    if (process)
        process->terminate();
}

void ChooserProcess::finished(int exitCode)
{
    if (!process)
        return;
    // Its messages join this application's log.
    const QString choice = QString::fromLocal8Bit(process->readAllStandardOutput()).trimmed();
    const QStringList messages = QString::fromLocal8Bit(process->readAllStandardError())
                                     .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString& message : messages)
        qInfo().noquote() << "File chooser:" << message;
    process->deleteLater();
    process = nullptr;
    emit runningChanged();
    if (exitCode == 0 && !choice.isEmpty())
        emit chosen(QUrl::fromLocalFile(choice));
    else
        emit cancelled();
}

bool ChooserProcess::isChooserCall(int argc, char** argv)
{
    return argc > 1 && qstrcmp(argv[1], chooseArgument) == 0;
}

// Arguments: --choose folder|file TITLE START WINDOW-ID [FILTER...]
int ChooserProcess::runChooser(int argc, char** argv)
{
    // The desktop's own scale, not the main window's.
    qunsetenv("QT_SCALE_FACTOR");
    QApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() < 6)
        return 2;
    const bool folder = arguments.at(2) == QLatin1String("folder");
    QFileDialog dialog(nullptr, arguments.at(3), arguments.at(4));
    if (folder) {
        dialog.setFileMode(QFileDialog::Directory);
        dialog.setOption(QFileDialog::ShowDirsOnly);
    } else {
        dialog.setFileMode(QFileDialog::ExistingFile);
        dialog.setNameFilters(arguments.mid(6));
    }
    // Room for long card and project names.
    dialog.resize(800, 500);
    dialog.setWindowModality(Qt::ApplicationModal);
    const WId owner = arguments.at(5).toULongLong();
    if (owner) {
        dialog.winId(); // makes the dialog's window, which the owner is set on
        dialog.windowHandle()->setTransientParent(QWindow::fromWinId(owner));
    }

    // A test hook: saves a picture of the dialog to the named file, then
    // takes the start folder as the choice.
    const QString testPicture = qEnvironmentVariable("PQVK_CHOOSER_TEST_PICTURE");
    if (!testPicture.isEmpty()) {
        QTimer::singleShot(500, &dialog, [&dialog, testPicture]() {
            dialog.grab().save(testPicture);
            static_cast<QDialog&>(dialog).done(QDialog::Accepted);
        });
    }
    QTimer::singleShot(0, &dialog, [&dialog]() {
        qInfo("Shown at device pixel ratio %g", dialog.devicePixelRatioF());
    });
    if (dialog.exec() != QDialog::Accepted)
        return 1;
    const QString choice = dialog.selectedFiles().value(0, dialog.directory().absolutePath());
    std::fputs(qPrintable(QDir::toNativeSeparators(choice) + QLatin1Char('\n')), stdout);
    return 0;
}
