#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTest>

class QSignalSpy;

// Small helpers shared by the tests.
namespace TestSupport {

// Writes bytes to a file, creating its folders; returns false on failure.
bool writeFile(const QString& path, const QByteArray& bytes);
// The whole content of a file, empty when it cannot be read.
QByteArray readFile(const QString& path);
// Everything below a folder, sorted: links as "name@", folders with a trailing slash.
QStringList tree(const QString& root);
// "from,to,value,text" per report that a progress signal's spy caught.
QStringList progressTexts(const QSignalSpy& spy);

// Set (PQVK_REQUIRE_SAFETY=1, as .ci/run does) where every safety test must
// run: there a safety test that cannot is a failure, not a skip.
bool safetyRequired();
// The message of SKIP_SAFETY.
QByteArray safetySkipMessage(const QString& reason);

} // namespace TestSupport

// Ends a safety test that this machine cannot run (no loop devices, FUSE,
// tmpfs or second user; not root): skipped, or failed where safety tests are
// required. `reason` is a QString or a C string.
#define SKIP_SAFETY(reason)                                                                        \
    do {                                                                                           \
        const QByteArray safetyMessage_ = TestSupport::safetySkipMessage(reason);                  \
        if (TestSupport::safetyRequired())                                                         \
            QFAIL(safetyMessage_.constData());                                                     \
        QSKIP(safetyMessage_.constData());                                                         \
    } while (false)
