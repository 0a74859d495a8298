#pragma once

// How long the link waits for the controller unit. Each wait is one absolute
// deadline for one operation, counted from its start, never a count of smaller
// waits: "how long may this take" is answered here and nowhere else.
struct UnitWaits
{
    // One command's answer, every line read for it included.
    int answerMs = 8000;
    // Nothing the unit could have said (no line with a valid checksum) for this
    // long: the port is given up, whatever command or retry is under way.
    int silenceMs = 20000;
    // Memory erase and factory reset: the unit answers only once it is done.
    int slowAnswerMs = 90000;
    // The next record of a download; status lines and garbage do not count.
    int recordMs = 10000;
    // Before a download is asked for again, what the unit still sends of the
    // last one is read and dropped until it has been quiet this long...
    int settleMs = 500;
    // ...and for no longer than this: a unit that never stops is not asked again.
    int settleLimitMs = 10000;
    // The firmware boot-loader printing nothing at all.
    int bootloaderQuietMs = 600000;

    // What every new client and task starts with. Tests shorten the waits
    // here instead of waiting them out.
    static UnitWaits defaults();
    static void setDefaults(const UnitWaits& waits);
};
