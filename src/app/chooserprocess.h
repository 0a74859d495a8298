#pragma once

#include <QObject>
#include <QStringList>
#include <QUrl>

class QProcess;

// Qt's widget file dialog cannot draw at a device pixel ratio below 1: at the
// small scale factors many screens get, it is cut off inside its own window.
// There the choosers run in a helper: this program, started again with the
// helper's arguments, shows the dialog at the desktop's own scale, in front of
// the main window, and prints the choice.
class ChooserProcess : public QObject
{
    Q_OBJECT
    // True when this application's widgets would draw below a ratio of 1.
    Q_PROPERTY(bool needed READ needed CONSTANT)
    Q_PROPERTY(bool running READ running NOTIFY runningChanged)

public:
    // program: the executable that handles the helper's arguments.
    explicit ChooserProcess(const QString& program, QObject* parent = nullptr);

    bool needed() const;
    bool running() const;

    // Shows a folder chooser (no filters) or a file chooser starting at the
    // standard place ("desktop", "movies", "documents"), owned by window.
    Q_INVOKABLE void choose(const QString& title, const QString& place, const QStringList& filters,
                            QObject* window);
    // Closes the open dialog, as its Cancel would.
    Q_INVOKABLE void cancel();

    // True when the command line asks for the helper; runChooser then is the
    // whole program, before any settings, log or scaling.
    static bool isChooserCall(int argc, char** argv);
    static int runChooser(int argc, char** argv);

signals:
    void chosen(const QUrl& url);
    void cancelled();
    void runningChanged();

private:
    void finished(int exitCode);

    QString program;
    QProcess* process = nullptr;
};
