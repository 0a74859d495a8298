#include "cards/cardpreparation.h"

#include "cards/volumes.h"
#include "cards/wipecheck.h"

#include <QDebug>
#include <QDir>
#include <QException>
#include <QFile>
#include <QFileInfo>

namespace {

// Cards above 128 GiB are refused: the cameras cannot use them.
const qint64 maxCardBytes = 137438953472LL;

const QByteArray configText = QByteArrayLiteral("multi.auto_ena=1\nrecord.tl_enable=0\n");

QString cardText(const char* pattern, int card, const QString& path)
{
    return QString::fromLatin1(pattern).arg(QString::number(card), path);
}

QByteArray autoRunText(int card)
{
    return QStringLiteral("[autorun]\r\nlabel=QVK_0%1\r\n\r\n[Content]\r\nMusicFiles=0\r\n"
                          "PictureFiles=0\r\nVideoFiles=0")
        .arg(card)
        .toLatin1();
}

bool removeFile(const QString& path)
{
    if (QFile::remove(path))
        return true;
    // A read-only file cannot be deleted on Windows until it is made writable.
    const QFile::Permissions permissions = QFile::permissions(path);
    return !(permissions & QFile::WriteUser) &&
           QFile::setPermissions(path, permissions | QFile::WriteUser) && QFile::remove(path);
}

struct Wipe
{
    QString cardRoot;
    quint64 device = 0;
    bool complete = true;
    QStringList leftMounts; // relative to the card root
};

// Deletes everything below the folder that lies on the card's own file
// system. Links are removed as links: the wipe never follows one out of the
// card. Another volume mounted below the card is left as it is, and with it
// the folders that lead to it. Returns whether the folder holds nothing of
// the card any more except such folders.
bool eraseBelow(const QString& folder, Wipe& wipe, bool top)
{
    bool holdsMount = false;
    const QFileInfoList entries = QDir(folder).entryInfoList(QDir::AllEntries | QDir::Hidden |
                                                             QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo& entry : entries) {
        const QString path = entry.filePath();
        quint64 device = 0;
        if (!Volumes::deviceOf(path, &device)) {
            wipe.complete = false;
            continue;
        }
        if (device != wipe.device) {
            // A mount point: another file system, never part of the card.
            wipe.leftMounts << QDir(wipe.cardRoot).relativeFilePath(path);
            holdsMount = true;
            continue;
        }
        if (entry.isDir() && !entry.isSymLink()) {
            if (top && Volumes::isVolumeManagedFolder(entry.fileName()))
                continue;
            if (eraseBelow(path, wipe, false)) {
                if (!QDir(folder).rmdir(entry.fileName()))
                    wipe.complete = false;
            } else {
                holdsMount = true;
            }
        } else if (!removeFile(path)) {
            wipe.complete = false;
        }
    }
    return !holdsMount;
}

// A link standing where a card file belongs would send the write off the card.
void dropLink(const QString& path)
{
    if (QFileInfo(path).isSymLink())
        QFile::remove(path);
}

// Writes the file whole: an older, longer file never keeps its tail.
bool writeWhole(const QString& path, const QByteArray& bytes)
{
    dropLink(path);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const bool written = file.write(bytes) == bytes.size() && file.flush();
    file.close();
    return written && file.error() == QFileDevice::NoError;
}

QByteArray readWhole(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

// Both name the same folder, links and ".." resolved where the folders exist.
bool samePath(const QString& a, const QString& b)
{
    const auto resolved = [](const QString& path) {
        const QFileInfo info(path);
        const QString canonical = info.canonicalFilePath();
        return canonical.isEmpty() ? QDir::cleanPath(info.absoluteFilePath()) : canonical;
    };
    return resolved(a) == resolved(b);
}

// The card's final report names its first failure; `failed` says there was one.
Outcome prepareCard(int card, const QString& path, bool erase, bool createSyncConfig,
                    const CardReport& report)
{
    QString status = QStringLiteral("No action");
    bool failed = false;
    const auto fail = [&](const QString& text) {
        if (!failed)
            status = text;
        failed = true;
    };
    QDir root(path);

    if (erase) {
        report(card, 0, 2, 1, QStringLiteral("Erasing"));
        Wipe wipe;
        wipe.cardRoot = path;
        const bool complete = Volumes::deviceOf(path, &wipe.device);
        if (complete)
            eraseBelow(path, wipe, true);
        root.rmdir(QStringLiteral("DCIM"));
        root.rmdir(QStringLiteral("MISC"));
        root.rmdir(QStringLiteral("QVK_0%1").arg(card));
        root.rmdir(QStringLiteral(".disable_osx_metadata"));
        root.rmdir(QStringLiteral(".metadata_never_index"));
        for (const QString& mount : qAsConst(wipe.leftMounts))
            qWarning() << QStringLiteral("Left the volume mounted at %3 on card %1 (%2) as it is")
                              .arg(QString::number(card), path, mount);
        if (complete && wipe.complete && !wipe.leftMounts.isEmpty()) {
            fail(QStringLiteral("Error: Erased all but other volumes mounted inside: %1")
                     .arg(wipe.leftMounts.join(QStringLiteral(", "))));
            qWarning() << cardText("Erased card %1 (%2) except other volumes mounted inside", card,
                                   path);
        } else if (complete && wipe.complete) {
            status = QStringLiteral("Erased");
            qInfo() << cardText("Erased card %1 (%2)", card, path);
        } else {
            fail(QStringLiteral("Error: Could not erase everything"));
            qWarning() << cardText("Could not erase everything on card %1 (%2)", card, path);
        }
    }

    if (createSyncConfig) {
        report(card, 0, 2, 2, QStringLiteral("Creating config"));
        dropLink(root.filePath(QStringLiteral("MISC")));
        root.mkpath(QStringLiteral("MISC"));
        const QString cfg = root.filePath(QStringLiteral("MISC/cfg"));
        const bool written = writeWhole(cfg, configText);
        // The read-only file of an earlier preparation cannot be opened
        // again; it is fine as long as it holds the right text.
        const bool inPlace = !written && readWhole(cfg) == configText;
        QFile::setPermissions(cfg, QFileDevice::Permissions(0x4444));
        if (written || inPlace) {
            if (!failed)
                status =
                    erase ? status + QStringLiteral(" and prepared.") : QStringLiteral("Prepared.");
            if (written)
                qInfo() << cardText("Created config file on card %1 (%2)", card, path);
            else
                qInfo() << cardText("Config file on card %1 (%2) already in place, left as it was",
                                    card, path);
        } else {
            fail(QStringLiteral("Error: Could not write config file"));
            qWarning() << cardText("Could not write config file on card %1 (%2)", card, path);
        }
    }

    auto marker = [&](const QString& name, const QByteArray& bytes, const char* logText) {
        if (writeWhole(root.filePath(name), bytes)) {
            qInfo() << cardText(logText, card, path);
            return;
        }
        qWarning() << QStringLiteral("Could not write %1 on card %2 (%3)")
                          .arg(name, QString::number(card), path);
        fail(QStringLiteral("Error: Could not write %1").arg(name));
    };

    try {
        marker(QStringLiteral("QVK_0%1").arg(card), QByteArray(),
               "Created index file on card %1 (%2)");
        marker(QStringLiteral(".disable_osx_metadata"), QByteArray(),
               "Created disable_osx_metadata file on card %1 (%2)");
        marker(QStringLiteral(".metadata_never_index"), QByteArray(),
               "Created metadata_never_index file on card %1 (%2)");
    } catch (const QException& e) {
        qInfo() << cardText("Exception working on card %1 (%2): ", card, path) +
                       QString::fromLocal8Bit(e.what());
    }
    try {
        marker(QStringLiteral("AutoRun.inf"), autoRunText(card),
               "Created AutoRun file on card %1 (%2)");
    } catch (const QException& e) {
        qInfo() << QString::fromLocal8Bit(e.what());
    }

    report(card, 0, 2, 2, status);
    return Outcome(failed ? Outcome::Status::Failed : Outcome::Status::Succeeded);
}

// The files of a card that are not imported, named for the user: the first
// few, and how many more.
QString notImportedText(const QStringList& paths)
{
    const int shown = 10;
    QString text =
        (paths.size() == 1 ? QStringLiteral("1 file that is not imported")
                           : QStringLiteral("%1 files that are not imported").arg(paths.size())) +
        QStringLiteral(" will be wiped: ") + paths.mid(0, shown).join(QStringLiteral(", "));
    if (paths.size() > shown)
        text += QStringLiteral(" and %1 more").arg(paths.size() - shown);
    return text;
}

// The files that are not media: named before any wipe; without `force`
// they keep the card from being wiped.
bool checkNotImported(int card, const QString& path, const QStringList& paths,
                      const WipeOptions& wipe, const CardReport& report)
{
    if (paths.isEmpty())
        return true;
    for (const QString& file : paths) {
        const QString line = cardText("Card %1 (%2): ", card, path) +
                             (wipe.force ? QStringLiteral("wiping a file that is not imported: ")
                                         : QStringLiteral("not imported: ")) +
                             file;
        if (wipe.force)
            qWarning() << line;
        else
            qInfo() << line;
    }
    if (wipe.notImported)
        wipe.notImported(card, paths);
    const QString text = notImportedText(paths);
    if (wipe.force) {
        report(card, 0, 1, 2, text);
        return true;
    }
    report(card, 0, 2, 2, QStringLiteral("Error: ") + text);
    return false;
}

// The wipe's check of one card: true when it may go on. Every file without a
// proven copy is named in the log, as a warning when the wipe is forced.
bool checkCopies(int card, const QString& path, const WipeOptions& wipe, const CardReport& report)
{
    WipeCheck check(wipe.ledgerPath);
    check.setReverify(wipe.reverify);
    check.setCopiesRequired(wipe.copies);
    const CardCopies copies = check.check(path);
    const QString counts =
        QStringLiteral("%1 of %2").arg(copies.verifiedFiles()).arg(copies.mediaFiles);
    if (copies.safeToWipe()) {
        qInfo() << cardText("Card %1 (%2): ", card, path) + counts +
                       QStringLiteral(" media files copied and verified");
        return checkNotImported(card, path, copies.notImported, wipe, report);
    }

    // Refused, the log lists them; forced, each is a warning of what was lost.
    QStringList paths;
    const auto name = [&](const CardCopies::Entry& entry, const QString& shown) {
        paths << shown;
        const QString line = cardText("Card %1 (%2): ", card, path) +
                             (wipe.force ? QStringLiteral("wiping without a verified copy: ")
                                         : QStringLiteral("no verified copy: ")) +
                             entry.relativePath + QStringLiteral(" (") + entry.reason +
                             QLatin1Char(')');
        if (wipe.force)
            qWarning() << line;
        else
            qInfo() << line;
    };
    for (const CardCopies::Entry& entry : copies.unverified)
        name(entry, entry.relativePath);
    for (const CardCopies::Entry& entry : copies.unreadable)
        name(entry, entry.relativePath + QStringLiteral(" (cannot be read)"));
    if (wipe.unverified)
        wipe.unverified(card, paths);

    const QString lacking =
        copies.copiesRequired > 1
            ? QStringLiteral("fewer than %1 verified copies in distinct destinations")
                  .arg(copies.copiesRequired)
            : QStringLiteral("no verified copy");
    QString problem =
        QStringLiteral("%1 of %2 media files on card %3 (%4) have %5")
            .arg(QString::number(copies.unverified.size()), QString::number(copies.mediaFiles),
                 QString::number(card), path, lacking);
    if (!copies.unreadable.isEmpty())
        problem +=
            QStringLiteral(", %1 more places could not be read").arg(copies.unreadable.size());
    if (wipe.force) {
        qWarning() << QStringLiteral("Forced: ") + problem + QStringLiteral("; wiping anyway");
        return checkNotImported(card, path, copies.notImported, wipe, report);
    }
    const QString text = QStringLiteral("Error: ") + problem;
    qCritical() << text;
    // The others are named too, so that one run says all that keeps the card.
    checkNotImported(card, path, copies.notImported, wipe,
                     [](int, int, int, int, const QString&) {});
    report(card, 0, 2, 2, text);
    return false;
}

} // namespace

bool isPreparationFile(const QString& relativePath)
{
    static const QStringList written = {
        QStringLiteral("QVK_01"),
        QStringLiteral("QVK_02"),
        QStringLiteral("QVK_03"),
        QStringLiteral(".disable_osx_metadata"),
        QStringLiteral(".metadata_never_index"),
        QStringLiteral("AutoRun.inf"),
        QStringLiteral("MISC/cfg"),
    };
    return written.contains(relativePath);
}

QString cardScopeProblem(const QString& path, bool wipe)
{
    if (path.isEmpty())
        return QStringLiteral("no card chosen");
    const VolumeInfo volume = Volumes::volumeForPath(path);
    if (!volume.valid)
        return QStringLiteral("no volume holds it");
    if (!volume.ready)
        return QStringLiteral("the volume is not ready");
    if (volume.root)
        return QStringLiteral("the system's own volume");
    if (volume.bytesTotal > maxCardBytes)
        return QStringLiteral("larger than 128 GiB");
    if (volume.readOnly)
        return QStringLiteral("the volume is read-only");
    if (!Volumes::isCardCandidate(volume))
        return QStringLiteral("a %1 file system, not a card").arg(volume.fileSystemType);
    if (!wipe)
        return QString();
    // A wipe takes everything below the path: only a whole volume, never a
    // folder that a slip of the hand chose.
    if (!samePath(path, volume.rootPath))
        return QStringLiteral("a folder, not the root of its volume (%1)").arg(volume.rootPath);
    if (!volume.isFileSystemRoot())
        return QStringLiteral("a folder of another volume mounted here, not a whole file system");
    return QString();
}

std::array<Outcome, 3> prepareCards(const QString& card1, const QString& card2,
                                    const QString& card3, bool eraseCards, bool createSyncConfig,
                                    const CardReport& report, const WipeOptions& wipe)
{
    const QString cards[] = {card1, card2, card3};
    // Untouched unless all three pass.
    std::array<Outcome, 3> outcomes;
    outcomes.fill(Outcome(Outcome::Status::Refused));

    for (int card = 1; card <= 3; ++card)
        report(card, 0, 1, 2, QString());

    // Nothing is touched unless all three cards pass. A card that is no whole
    // card volume ends the check at once; the copies of every card are
    // checked, so that one run names all that is missing.
    bool refused = false;
    for (int card = 1; card <= 3; ++card) {
        const QString& path = cards[card - 1];
        const QString problem = cardScopeProblem(path, eraseCards);
        if (!problem.isEmpty()) {
            const QString text =
                cardText("Invalid directory for card %1 (%2): ", card, path) + problem;
            qCritical() << text;
            report(card, 0, 2, 2, text);
            return outcomes;
        }
        if (eraseCards && !checkCopies(card, path, wipe, report)) {
            refused = true;
            continue;
        }
        const QString text = cardText("Card %1 (%2) ok.", card, path);
        qInfo() << text;
        report(card, 0, 1, 2, text);
    }
    if (refused)
        return outcomes;

    for (int card = 1; card <= 3; ++card) {
        const QString& path = cards[card - 1];
        if (path.isEmpty() || path == QLatin1String("/") || path == QDir::rootPath() ||
            QDir::cleanPath(path) == QDir::rootPath()) {
            qInfo() << cardText("Invalid directory for card %1 (%2)", card, path);
            report(card, 0, 2, 2, QStringLiteral("Invalid directory"));
            continue;
        }
        outcomes[card - 1] = prepareCard(card, path, eraseCards, createSyncConfig, report);
    }
    return outcomes;
}
