#pragma once

#include <QRecursiveMutex>
#include <QString>
#include <QStringList>

#include <functional>

class QTextStream;

// Lines a terminal shows in place below what scrolls: the live progress of a
// long operation, one line per card of an import. Text printed meanwhile
// scrolls above them. Each line is cut to the terminal's width so that the
// cursor arithmetic holds; once retired, the lines stay as ordinary output in
// full. Safe to call from several threads (the message handler's echo comes
// from pool threads).
class LiveLines
{
public:
    // `columns` gives the terminal's width at each drawing.
    LiveLines(QTextStream& terminal, std::function<int()> columns);
    ~LiveLines(); // retires the lines

    void setLine(int index, const QString& text);
    // A line of ordinary output, above the live lines.
    void print(const QString& text);
    // The live lines become ordinary output; the next setLine starts anew.
    void retire();
    bool isEmpty() const;

    // Around output that reaches the terminal by another way: the live lines
    // are taken away before and drawn again after.
    void suspend();
    void resume();

    // The live lines of the running program, if any, for the message handler.
    static LiveLines* active();

private:
    void erase();
    void draw();

    mutable QRecursiveMutex mutex;
    QTextStream& out;
    std::function<int()> columns;
    QStringList lines;
    int shown = 0; // lines on the screen above the cursor
};
