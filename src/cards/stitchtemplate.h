#pragma once

#include <QDomDocument>
#include <QMutex>
#include <QString>

#include <memory>

// A video stitching template (".kava"), read and checked once per import
// run: a template that cannot be read or is no stitching template refuses the
// run before anything is copied, rather than giving every recording an empty
// project that would then stand in the way of a good one. The projects of
// all recordings are edited on copies of its one parsed document.
class StitchTemplate
{
public:
    // Reads and parses the template; null, with the reason in `error`, when
    // it is unusable.
    static std::shared_ptr<const StitchTemplate> load(const QString& path, QString* error);

    // The reason the file is no usable template, or empty. Reads it as a
    // stream, without building the document: quick enough to ask before a run.
    static QString check(const QString& path);
    // The same reason without the template's path ("cannot be read: ...",
    // "not a stitching template: ..."), or empty.
    static QString reason(const QString& path);

    QString path() const { return filePath; }
    // A copy of the document for one project's edits; any thread.
    QDomDocument document() const;

private:
    StitchTemplate(const QString& path, const QDomDocument& document);

    QString filePath;
    QDomDocument parsed;
    mutable QMutex mutex; // the document's nodes are shared, not thread-safe
};
