#pragma once

#include <QByteArray>
#include <QString>

// Small helpers shared by the tests.
namespace TestSupport {

// Writes bytes to a file, creating its folders; returns false on failure.
bool writeFile(const QString& path, const QByteArray& bytes);
// The whole content of a file, empty when it cannot be read.
QByteArray readFile(const QString& path);

} // namespace TestSupport
