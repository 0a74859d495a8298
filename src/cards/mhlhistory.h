#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QSet>
#include <QString>
#include <QVector>
#include <QtGlobal>

// The ASC Media Hash List history of a folder: its sub-folder "ascmhl" holds
// one manifest per generation, "NNNN_<folder name>_<yyyy-MM-dd_HHmmss>Z.mhl",
// and "ascmhl_chain.xml", which lists every generation with the C4 ID of its
// manifest. Any tool that reads ASC MHL can then verify the folder's files.
//
// A generation is only ever added: a manifest, once written, is never
// changed, and the chain file is the one file that is replaced (atomically).
// Writers of one history take turns through a lock file, and a manifest takes
// its name only if no file holds it, so two imports into one folder at once
// never share a generation number nor lose each other's chain entry.
class MhlHistory
{
public:
    struct File
    {
        QString path;       // relative to the folder, '/' separated
        qint64 size = -1;   // bytes
        QDateTime modified; // the file's modification time
        quint64 xxh64 = 0;  // XXH64 (seed 0) of its bytes
    };

    struct Generation
    {
        int number = 0;
        QString manifest; // the manifest's file name
        QString c4;       // its C4 ID
    };

    explicit MhlHistory(const QString& folder);

    // Adds one generation recording `files` (process "transfer", each hash
    // "original"), created by this tool at `created`, and those of
    // `unlessListed` that no generation lists by then (decided while this
    // writer holds the history, so that two writers never both take one).
    // False, with the reason in errorString(), when it could not be written;
    // nothing of an earlier generation is changed either way.
    bool addGeneration(const QVector<File>& files, const QDateTime& created,
                       const QVector<File>& unlessListed = {});

    // The paths that the chain's generations list; false, with the reason in
    // errorString(), when the chain or one of its manifests cannot be read.
    bool listedPaths(QSet<QString>* paths);

    // The generations the chain file lists, in its order; empty, with the
    // reason in errorString(), when it is missing or unreadable.
    QVector<Generation> generations();

    QString historyPath() const; // folder + "/ascmhl"
    QString chainPath() const;   // historyPath() + "/ascmhl_chain.xml"
    QString errorString() const { return error; }

    // The C4 ID of bytes: "c4" and their SHA-512 digest in base 58, 90 characters.
    static QString c4Id(const QByteArray& bytes);

private:
    bool fail(const QString& reason);
    bool readChain(QVector<Generation>* chain);
    bool readListed(const QVector<Generation>& chain, QSet<QString>* paths);
    bool writeChain(const QVector<Generation>& chain);
    int highestManifestNumber() const;
    QByteArray manifest(const QVector<File>& files, const QDateTime& created) const;

    QString folder;
    QString error;
};
