#include "cli/livelines.h"

#include <QMutexLocker>
#include <QTextStream>

#include <atomic>

namespace {

std::atomic<LiveLines*> activeLines{nullptr};

// Escape sequences every terminal of today knows (VT100).
QString cursorUp(int lines)
{
    return QStringLiteral("\x1b[%1A").arg(lines);
}
const QLatin1String ClearToEnd("\x1b[J");
const QLatin1String ClearLine("\x1b[2K");

} // namespace

LiveLines::LiveLines(QTextStream& terminal, std::function<int()> columnCount)
    : out(terminal), columns(std::move(columnCount))
{
    LiveLines* none = nullptr;
    activeLines.compare_exchange_strong(none, this);
}

LiveLines::~LiveLines()
{
    LiveLines* self = this;
    activeLines.compare_exchange_strong(self, nullptr);
    retire();
}

LiveLines* LiveLines::active()
{
    return activeLines.load();
}

void LiveLines::setLine(int index, const QString& text)
{
    QMutexLocker lock(&mutex);
    while (lines.size() <= index)
        lines.append(QString());
    if (lines.at(index) == text && shown == lines.size())
        return;
    lines[index] = text;
    draw();
}

void LiveLines::print(const QString& text)
{
    QMutexLocker lock(&mutex);
    erase();
    out << text << '\n';
    draw();
}

void LiveLines::retire()
{
    QMutexLocker lock(&mutex);
    if (lines.isEmpty())
        return;
    erase();
    for (const QString& line : qAsConst(lines))
        out << line << '\n';
    out.flush();
    lines.clear();
}

bool LiveLines::isEmpty() const
{
    QMutexLocker lock(&mutex);
    return lines.isEmpty();
}

void LiveLines::suspend()
{
    mutex.lock();
    erase();
}

void LiveLines::resume()
{
    draw();
    mutex.unlock();
}

void LiveLines::erase()
{
    if (shown > 0)
        out << cursorUp(shown) << '\r' << ClearToEnd;
    shown = 0;
    out.flush();
}

void LiveLines::draw()
{
    // Over the lines shown, one by one: no blank moment between two states.
    if (shown > 0)
        out << cursorUp(shown);
    const int width = qMax(10, columns ? columns() : 80) - 1; // never wrap
    for (const QString& line : qAsConst(lines)) {
        out << '\r' << ClearLine;
        out << (line.size() > width ? line.left(width - 3) + QLatin1String("...") : line) << '\n';
    }
    shown = lines.size();
    out.flush();
}
