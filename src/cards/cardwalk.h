#pragma once

#include <QString>
#include <QVector>

// Lists the files of a card for an import and accounts for every entry it
// meets: what it could not list, open or name is returned as a problem, never
// dropped. A card file system holds folders and regular files only; a folder
// given as a card may hold more:
// - symbolic links to files are listed under the link's name (their target is
//   what the copy reads); links to folders are not followed (a problem: the
//   media behind one would otherwise be missed, or met twice, or a loop walked);
//   links that lead nowhere are problems;
// - FIFOs, sockets and devices are listed as files that are not regular, so
//   that the import can say it did not copy one with a media name;
// - names that begin with a dot belong to file systems and other computers
//   (trash, indexes, resource forks, unfinished copies): not listed, and
//   folders of that kind not entered.
// Folders come in name order, each folder's entries in name order, a
// subfolder's entries where the subfolder stands.
//
// A wipe's walk lists what a wipe of the card would delete instead: names
// that begin with a dot too; no links (the wipe removes a link, never what
// it leads to); nothing on another volume mounted below the card, nor the
// file system's own folders at its root (the wipe leaves them).
class CardWalk
{
public:
    enum class Scope
    {
        Import,
        Wipe
    };

    struct File
    {
        QString path;        // absolute, '/' separated
        bool regular = true; // a regular file, or a link to one
    };

    struct Problem
    {
        QString path;   // what could not be read; undecodable bytes as \xNN
        QString reason; // for the user, e.g. "cannot be listed: Permission denied"
    };

    struct Result
    {
        QVector<File> files;
        QVector<Problem> problems;
    };

    // Walks the folder `root` (an absolute path) and everything below it.
    static Result walk(const QString& root, Scope scope = Scope::Import);
};
