#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

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
// The ASC's reference tool for hash lists, beside the project's checkout.
QString ascmhlTool();
// The exit status of the ASC's reference tool verifying `folder` against its
// history (0: every file matches), its output in `output`.
int ascmhlVerify(const QString& folder, QString* output = nullptr);
// Fills the file system of `folder` up, then leaves `pages` of 4 KiB free
// (tmpfs); the filler is `folder`/filler. False when it could not.
bool fillLeaving(const QString& folder, int pages);

} // namespace TestSupport
