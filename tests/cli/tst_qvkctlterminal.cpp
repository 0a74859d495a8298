#include "base/transfermeter.h"
#include "cli/livelines.h"
#include "simulator/controllersimulator.h"
#include "support/testsupport.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTextStream>
#include <QtTest>

#include <cerrno>
#include <csignal>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// What a terminal shows after it received `text`: the rows of the screen
// (no scrolling limit), for the few controls live lines use: carriage
// return, line feed, cursor up, clear to the end of the screen or the line.
QStringList screen(const QString& text)
{
    QStringList rows{QString()};
    int row = 0, column = 0;
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == '\x1b' && i + 1 < text.size() && text.at(i + 1) == '[') {
            int j = i + 2;
            QString number;
            while (j < text.size() && text.at(j).isDigit())
                number += text.at(j++);
            const int n = number.isEmpty() ? 1 : number.toInt();
            const QChar command = j < text.size() ? text.at(j) : QChar();
            if (command == 'A') {
                row = qMax(0, row - n);
            } else if (command == 'J') {
                rows[row].truncate(column);
                rows.erase(rows.begin() + row + 1, rows.end());
            } else if (command == 'K') {
                rows[row] = n == 2 ? QString() : rows[row].left(column);
            } else {
                rows[row] += "<unknown control>";
            }
            i = j;
        } else if (c == '\r') {
            column = 0;
        } else if (c == '\n') {
            if (++row == rows.size())
                rows << QString();
            column = 0; // as a terminal that turns LF into CR LF
        } else {
            QString& line = rows[row];
            if (line.size() < column)
                line += QString(column - line.size(), ' ');
            line.replace(column, 1, c);
            ++column;
        }
    }
    if (rows.last().isEmpty())
        rows.removeLast();
    return rows;
}

struct TerminalRun
{
    int status = -1;
    QString output; // what the terminal received
};

// The real qvkctl on a pseudo-terminal `columns` wide, as a user runs it.
TerminalRun runOnTerminal(const QStringList& arguments, int columns, const QString& dataHome)
{
    QList<QByteArray> args{QFile::encodeName(TestSupport::builtProgram("qvkctl"))};
    for (const QString& argument : arguments)
        args << argument.toLocal8Bit();
    std::vector<char*> argv;
    for (QByteArray& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    // The program takes this process's environment (a pipe's run sets its own).
    qputenv("XDG_DATA_HOME", QFile::encodeName(dataHome));
    qputenv("TERM", "xterm");

    winsize size{};
    size.ws_row = 24;
    size.ws_col = static_cast<unsigned short>(columns);
    int master = -1;
    const pid_t pid = forkpty(&master, nullptr, nullptr, &size);
    if (pid == 0) {
        execv(argv[0], argv.data());
        _exit(127);
    }
    TerminalRun run;
    if (pid < 0)
        return run;
    QByteArray bytes;
    for (;;) {
        pollfd fd{master, POLLIN, 0};
        const int ready = poll(&fd, 1, 60000);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0) { // silent for a minute: stuck
            kill(pid, SIGKILL);
            break;
        }
        char buffer[4096];
        const ssize_t n = read(master, buffer, sizeof buffer);
        if (n > 0)
            bytes.append(buffer, int(n));
        else if (!(n < 0 && errno == EINTR))
            break; // EIO: the program and its terminal have ended
    }
    int status = 0;
    waitpid(pid, &status, 0);
    close(master);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.output = QString::fromUtf8(bytes);
    return run;
}

// The same with standard error a pipe, as a script runs it.
TerminalRun runPiped(const QStringList& arguments, const QString& dataHome)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_DATA_HOME", dataHome);
    const TestSupport::ProgramRun run =
        TestSupport::runProgram(TestSupport::builtProgram("qvkctl"), arguments, {}, env);
    return {run.status, run.err};
}

const QRegularExpression stamp("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} ");

} // namespace

// qvkctl on a terminal: progress in lines that change in place; the same
// reports as in a pipe, where every report stays a line of its own. The
// cards' lines of an import use the same live lines as the records' line.
class TestQvkCtlTerminal : public QObject
{
    Q_OBJECT

private slots:
    // Byte counts at times (ms:copied/total, in the order they came) and the
    // figures a card's live line shows after them.
    void meter_data()
    {
        QTest::addColumn<QString>("counts");
        QTest::addColumn<QString>("shown");
        const auto row = [](const char* name, const char* counts, const char* shown) {
            QTest::newRow(name) << QString(counts) << QString(shown);
        };
        row("first count", "0:0/1000000000", "  0%  0.0 of 1.0 GB  --/s  -:-- left");
        row("a slow stretch shows at once",
            "0:0/2000000000 1000:500000000/2000000000 6000:600000000/2000000000 "
            "11000:700000000/2000000000",
            " 35%  0.7 of 2.0 GB  20.0 MB/s  1:05 left");
        row("never 100% before the last byte", "0:0/1000 1000:999/1000",
            " 99%  0.9 of 1.0 kB  999 B/s  0:01 left");
        row("done: the speed of the whole copy",
            "0:0/3000000000 1000:1000000000/3000000000 3000:3000000000/3000000000",
            "100%  3.0 GB  1.0 GB/s");
        row("hours left", "0:0/1000000000000 1000:100000000/1000000000000",
            "  0%  0.0 of 1.0 TB  100 MB/s  2:46:39 left");
        row("nothing to copy", "0:0/0", "");
    }

    void meter()
    {
        QFETCH(QString, counts);
        QFETCH(QString, shown);
        TransferMeter meter;
        for (const QString& count : counts.split(' ')) {
            const QStringList parts = count.split(QRegularExpression("[:/]"));
            meter.update(parts.at(0).toLongLong(), parts.at(1).toLongLong(),
                         parts.at(2).toLongLong());
        }
        QCOMPARE(meter.text(), shown);
    }

    // Steps: "0=text" sets live line 0, "print=text" prints above, "retire",
    // "foreign=text" writes past the live lines between suspend and resume.
    void liveLines_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<int>("columns");
        QTest::addColumn<QString>("shown"); // the screen's rows, '|' between them
        QTest::newRow("lines change in place") << "0=a;1=b;0=c;1=d" << 80 << "c|d";
        QTest::newRow("printed text scrolls above")
            << "0=card 1;1=card 2;print=error;0=card 1 done" << 80 << "error|card 1 done|card 2";
        QTest::newRow("cut to the width while live")
            << "0=0123456789abcdefghijklmnop" << 20 << "0123456789abcdef...";
        QTest::newRow("retired lines stay whole, new ones below")
            << "0=0123456789abcdefghijklmnop;retire;print=done;0=next" << 20
            << "0123456789abcdefghijklmnop|done|next";
        QTest::newRow("other output does not land inside")
            << "0=a;1=b;foreign=warning;1=c" << 80 << "warning|a|c";
    }

    void liveLines()
    {
        QFETCH(QString, steps);
        QFETCH(int, columns);
        QFETCH(QString, shown);
        QString text, whileLive;
        {
            QTextStream stream(&text);
            LiveLines lines(stream, [columns] { return columns; });
            QCOMPARE(LiveLines::active(), &lines);
            for (const QString& step : steps.split(';')) {
                const QString what = step.section('=', 0, 0), value = step.section('=', 1);
                if (what == "print") {
                    lines.print(value);
                } else if (what == "retire") {
                    lines.retire();
                } else if (what == "foreign") {
                    lines.suspend();
                    stream << value << '\n';
                    lines.resume();
                } else {
                    lines.setLine(what.toInt(), value);
                }
            }
            whileLive = text;
        }
        QCOMPARE(LiveLines::active(), nullptr);
        QCOMPARE(screen(whileLive).join('|'), shown);
    }

    // A data export on a terminal and through a pipe: the terminal shows one
    // line that counts the records where the pipe has a line per record, and
    // the same reports otherwise. Warnings (of a unit that vanishes) land
    // whole, outside the live line.
    void dataExport_data()
    {
        QTest::addColumn<int>("vanishAfter"); // -1: never
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("records"); // the live line at its end
        QTest::newRow("whole download") << -1 << 0 << "Receiving records: 8 of 8 (100%)";
        QTest::newRow("unit vanishes") << 3 << 1 << "Receiving records: 3 of 8 (37%)";
    }

    void dataExport()
    {
        QFETCH(int, vanishAfter);
        QFETCH(int, status);
        QFETCH(QString, records);
        QTemporaryDir temp;
        const auto exportTo = [&](const QString& folder, bool terminal) {
            ControllerSimulator sim;
            sim.start();
            sim.setDatasets(2, 3);
            sim.setVanishAfter(vanishAfter);
            const QStringList arguments{"data",         "export", "--port",
                                        sim.portPath(), "--dest", temp.filePath(folder)};
            if (terminal)
                return runOnTerminal(arguments, 100, temp.filePath("data"));
            return runPiped(arguments, temp.filePath("data"));
        };
        const TerminalRun piped = exportTo("piped", false);
        const TerminalRun shown = exportTo("shown", true);
        QCOMPARE(piped.status, status);
        QCOMPARE(shown.status, status);
        QVERIFY2(!piped.output.contains('\x1b'), qPrintable(piped.output));
        QVERIFY2(shown.output.contains("\x1b["), qPrintable(shown.output));

        // The pipe's lines with each run of record lines as the one live line.
        const auto withoutWarnings = [](const QStringList& lines, QStringList* warnings) {
            QStringList kept;
            for (QString line : lines) {
                line.replace(QRegularExpression("(piped|shown)"), "DEST");
                line.replace(QRegularExpression("/dev/pts/\\d+"), "PORT");
                if (line.contains(stamp))
                    *warnings << line.remove(stamp);
                else
                    kept << line;
            }
            return kept;
        };
        QStringList pipedWarnings, shownWarnings, expected;
        for (const QString& line :
             withoutWarnings(piped.output.split('\n', Qt::SkipEmptyParts), &pipedWarnings)) {
            const bool record = line.startsWith("Reading dataset ");
            if (!record || expected.isEmpty() || !expected.last().startsWith("Receiving"))
                expected << (record ? QString("Receiving") : line);
        }
        expected.replaceInStrings(QRegularExpression("^Receiving$"), records);
        const QStringList rows = screen(shown.output);
        QCOMPARE(withoutWarnings(rows, &shownWarnings), expected);
        QCOMPARE(shownWarnings, pipedWarnings);
        QCOMPARE(rows.count(records), 1);
        QCOMPARE(pipedWarnings.isEmpty(), status == 0);
    }
};

QTEST_GUILESS_MAIN(TestQvkCtlTerminal)
#include "tst_qvkctlterminal.moc"
