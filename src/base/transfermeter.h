#pragma once

#include <QString>
#include <QVector>

// Share, speed and time left of one card's copy, from the byte counts the
// import reports as it goes. The speed is taken over the last few seconds, so
// a slow stretch shows at once; once all is copied, over the whole copy.
class TransferMeter
{
public:
    // Before this much time has passed there is no speed to tell.
    static constexpr qint64 MinimumMs = 500;

    // `nowMs`: a steady clock in milliseconds; bytes copied of the total.
    void update(qint64 nowMs, qint64 copied, qint64 total);

    int percent() const;
    double bytesPerSecond() const; // 0 while too little time has passed
    qint64 secondsLeft() const;    // -1 when not known

    // " 42%  1.2 of 2.9 GB  85.3 MB/s  0:21 left"; "100%  2.9 GB  85.3 MB/s" at
    // the end; empty before the first count and when there is nothing to copy.
    QString text() const;

    static QString sizeText(qint64 bytes, qint64 scale); // in the unit that suits `scale`
    static QString durationText(qint64 seconds);         // "0:21", "1:02:03"

private:
    struct Sample
    {
        qint64 ms;
        qint64 bytes;
    };
    QVector<Sample> recent; // the last few seconds
    qint64 firstMs = -1;
    qint64 copied = 0;
    qint64 total = 0;
};
