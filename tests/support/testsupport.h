#pragma once

#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTest>

#include <initializer_list>
#include <utility>

class QSignalSpy;
struct UnitWaits;

// Small helpers shared by the tests.
namespace TestSupport {

// Writes bytes to a file, creating its folders; returns false on failure.
bool writeFile(const QString& path, const QByteArray& bytes);
// The whole content of a file, empty when it cannot be read.
QByteArray readFile(const QString& path);
// Everything below a folder, sorted: links as "name@", folders with a trailing slash.
QStringList tree(const QString& root);
// The files below a folder, hidden ones too, relative and sorted; those in
// the subfolder `leaveOut` (such as "ascmhl") left out.
QStringList files(const QString& root, const QString& leaveOut = {});
// "from,to,value,text" per report that a progress signal's spy caught.
QStringList progressTexts(const QSignalSpy& spy);
// XXH64 of bytes as 16 hex digits, computed apart from the code under test.
QString xxh64Of(const QByteArray& bytes);

// Message handlers: appendToLog adds every message, as one write, to the
// file logFilePath() names; captureLog keeps them in capturedLog as
// "<D|W|C|F|I> text", from any thread.
void appendToLog(QtMsgType, const QMessageLogContext&, const QString& message);
void captureLog(QtMsgType type, const QMessageLogContext&, const QString& message);
extern QStringList capturedLog;

// How a program ended: its exit status (-1 when it crashed or did not end
// within three minutes) and what it wrote.
struct ProgramRun
{
    int status = -1;
    QString out;
    QString err;
};
// Runs a program to its end; `unprivileged`: as "nobody" when the tests run
// as root, for whom file modes do not hold.
ProgramRun runProgram(const QString& program, const QStringList& arguments,
                      const QString& workingDir = {},
                      const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment(),
                      bool unprivileged = false);
// A program of this build (qvkctl, ...).
QString builtProgram(const QString& name);

// The waits of every new link client and task: the defaults with these
// members changed, so tests need not wait them out.
void setWaits(std::initializer_list<std::pair<int UnitWaits::*, int>> changed);

// Set (PQVK_REQUIRE_SAFETY=1, as .ci/run does) where every safety test must
// run: there a safety test that cannot is a failure, not a skip.
bool safetyRequired();
// The message of SKIP_SAFETY.
QByteArray safetySkipMessage(const QString& reason);
// The ASC's reference tool for hash lists, beside the project's checkout.
QString ascmhlTool();
// The exit status of the ASC's reference tool verifying `folder` against its
// history (0: every file matches), its output in `output`.
int ascmhlVerify(const QString& folder, QString* output = nullptr);
// Fills the file system of `folder` up, then leaves `pages` of 4 KiB free
// (tmpfs); the filler is `folder`/filler. False when it could not.
bool fillLeaving(const QString& folder, int pages);

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
