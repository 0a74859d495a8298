#include "cards/mhlhistory.h"

#include "base/apppaths.h"
#include "cards/exclusivefile.h"
#include "cards/runlock.h"

#include <QCryptographicHash>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QRegularExpression>
#include <QSysInfo>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <algorithm>

namespace {

const QString ManifestNamespace = QStringLiteral("urn:ASC:MHL:v2.0");
const QString ChainNamespace = QStringLiteral("urn:ASC:MHL:DIRECTORY:v2.0");
const QString ToolName = QStringLiteral("VazizidADU");

// How long an import waits for another one to finish writing its generation.
constexpr int LockWaitMs = 60 * 1000;

// ISO 8601 with the local offset, as the hash lists write their dates.
QString isoDate(const QDateTime& time)
{
    const QDateTime local = time.toLocalTime();
    return local.toOffsetFromUtc(local.offsetFromUtc()).toString(Qt::ISODate);
}

// The generation number a manifest's name starts with; 0 for other names.
int manifestNumber(const QString& fileName)
{
    static const QRegularExpression name(QStringLiteral("^(\\d{4,})_.*\\.mhl$"));
    const QRegularExpressionMatch match = name.match(fileName);
    return match.hasMatch() ? match.captured(1).toInt() : 0;
}

} // namespace

MhlHistory::MhlHistory(const QString& folder) : folder(QDir(folder).absolutePath()) {}

QString MhlHistory::historyPath() const
{
    return folder + QStringLiteral("/ascmhl");
}

QString MhlHistory::chainPath() const
{
    return historyPath() + QStringLiteral("/ascmhl_chain.xml");
}

bool MhlHistory::fail(const QString& reason)
{
    error = reason;
    return false;
}

QString MhlHistory::c4Id(const QByteArray& bytes)
{
    static const char alphabet[] = "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz";
    // The digest as one big-endian number, divided by 58 until nothing is left.
    QByteArray number = QCryptographicHash::hash(bytes, QCryptographicHash::Sha512);
    QString digits;
    for (bool zero = false; !zero;) {
        zero = true;
        int remainder = 0;
        for (char& byte : number) {
            const int value = remainder * 256 + quint8(byte);
            byte = char(value / 58);
            remainder = value % 58;
            zero = zero && byte == 0;
        }
        digits.prepend(QLatin1Char(alphabet[remainder]));
    }
    return QStringLiteral("c4") + digits.rightJustified(88, QLatin1Char('1'));
}

QByteArray MhlHistory::manifest(const QVector<File>& files, const QDateTime& created) const
{
    QByteArray text;
    QXmlStreamWriter xml(&text);
    xml.setAutoFormatting(true);
    xml.setAutoFormattingIndent(2);
    xml.writeStartDocument();
    xml.writeDefaultNamespace(ManifestNamespace);
    xml.writeStartElement(ManifestNamespace, QStringLiteral("hashlist"));
    xml.writeAttribute(QStringLiteral("version"), QStringLiteral("2.0"));

    xml.writeStartElement(QStringLiteral("creatorinfo"));
    xml.writeTextElement(QStringLiteral("creationdate"), isoDate(created));
    xml.writeTextElement(QStringLiteral("hostname"), QSysInfo::machineHostName());
    xml.writeStartElement(QStringLiteral("tool"));
    xml.writeAttribute(QStringLiteral("version"), AppVersion);
    xml.writeCharacters(ToolName);
    xml.writeEndElement();
    xml.writeEndElement();

    xml.writeStartElement(QStringLiteral("processinfo"));
    xml.writeTextElement(QStringLiteral("process"), QStringLiteral("transfer"));
    xml.writeEndElement();

    xml.writeStartElement(QStringLiteral("hashes"));
    for (const File& file : files) {
        xml.writeStartElement(QStringLiteral("hash"));
        xml.writeStartElement(QStringLiteral("path"));
        xml.writeAttribute(QStringLiteral("size"), QString::number(file.size));
        xml.writeAttribute(QStringLiteral("lastmodificationdate"), isoDate(file.modified));
        xml.writeCharacters(file.path);
        xml.writeEndElement();
        xml.writeStartElement(QStringLiteral("xxh64"));
        xml.writeAttribute(QStringLiteral("action"), QStringLiteral("original"));
        xml.writeCharacters(QStringLiteral("%1").arg(file.xxh64, 16, 16, QLatin1Char('0')));
        xml.writeEndElement();
        xml.writeEndElement();
    }
    xml.writeEndElement();

    xml.writeEndElement();
    xml.writeEndDocument();
    return text;
}

bool MhlHistory::readChain(QVector<Generation>* chain)
{
    chain->clear();
    QFile file(chainPath());
    if (!file.exists())
        return true;
    if (!file.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("Cannot read %1: %2").arg(chainPath(), file.errorString()));
    QXmlStreamReader xml(&file);
    if (!xml.readNextStartElement() || xml.name() != QLatin1String("ascmhldirectory") ||
        xml.namespaceUri() != ChainNamespace)
        return fail(QStringLiteral("%1 is not an ASC MHL chain file").arg(chainPath()));
    while (xml.readNextStartElement()) {
        if (xml.name() != QLatin1String("hashlist")) {
            xml.skipCurrentElement();
            continue;
        }
        Generation generation;
        generation.number = xml.attributes().value(QLatin1String("sequencenr")).toInt();
        while (xml.readNextStartElement()) {
            if (xml.name() == QLatin1String("path"))
                generation.manifest = xml.readElementText();
            else if (xml.name() == QLatin1String("c4"))
                generation.c4 = xml.readElementText();
            else
                xml.skipCurrentElement();
        }
        chain->append(generation);
    }
    if (xml.hasError())
        return fail(QStringLiteral("Cannot read %1: %2 (line %3)")
                        .arg(chainPath(), xml.errorString())
                        .arg(xml.lineNumber()));
    return true;
}

// Written whole to a temporary name, every step checked, then renamed over
// the old chain: a full disk leaves the old chain as it was, never an empty
// or cut one (QSaveFile would replace it after a failed final flush).
bool MhlHistory::writeChain(const QVector<Generation>& chain)
{
    QByteArray text;
    QXmlStreamWriter xml(&text);
    xml.setAutoFormatting(true);
    xml.setAutoFormattingIndent(4);
    xml.writeStartDocument();
    xml.writeDefaultNamespace(ChainNamespace);
    xml.writeStartElement(ChainNamespace, QStringLiteral("ascmhldirectory"));
    for (const Generation& generation : chain) {
        xml.writeStartElement(QStringLiteral("hashlist"));
        xml.writeAttribute(QStringLiteral("sequencenr"), QString::number(generation.number));
        xml.writeTextElement(QStringLiteral("path"), generation.manifest);
        xml.writeTextElement(QStringLiteral("c4"), generation.c4);
        xml.writeEndElement();
    }
    xml.writeEndElement();
    xml.writeEndDocument();
    QString reason;
    if (ExclusiveFile::replace(chainPath(), text, &reason) != ExclusiveFile::Created)
        return fail(reason);
    return true;
}

bool MhlHistory::readListed(const QVector<Generation>& chain, QSet<QString>* paths)
{
    for (const Generation& generation : chain) {
        const QString path = historyPath() + QLatin1Char('/') + generation.manifest;
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return fail(QStringLiteral("Cannot read %1: %2").arg(path, file.errorString()));
        QXmlStreamReader xml(&file);
        while (!xml.atEnd()) {
            xml.readNext();
            if (!xml.isStartElement() || xml.name() != QLatin1String("hash"))
                continue;
            while (xml.readNextStartElement()) {
                if (xml.name() == QLatin1String("path"))
                    paths->insert(xml.readElementText());
                else
                    xml.skipCurrentElement();
            }
        }
        if (xml.hasError())
            return fail(QStringLiteral("Cannot read %1: %2 (line %3)")
                            .arg(path, xml.errorString())
                            .arg(xml.lineNumber()));
    }
    return true;
}

bool MhlHistory::listedPaths(QSet<QString>* paths)
{
    error.clear();
    paths->clear();
    QVector<Generation> chain;
    return readChain(&chain) && readListed(chain, paths);
}

int MhlHistory::highestManifestNumber() const
{
    int highest = 0;
    const QStringList names = QDir(historyPath()).entryList({QStringLiteral("*.mhl")}, QDir::Files);
    for (const QString& name : names)
        highest = std::max(highest, manifestNumber(name));
    return highest;
}

QVector<MhlHistory::Generation> MhlHistory::generations()
{
    QVector<Generation> chain;
    if (!QFileInfo::exists(chainPath()))
        fail(QStringLiteral("%1 does not exist").arg(chainPath()));
    else
        readChain(&chain);
    return chain;
}

bool MhlHistory::addGeneration(const QVector<File>& files, const QDateTime& created,
                               const QVector<File>& unlessListed)
{
    error.clear();
    if (files.isEmpty() && unlessListed.isEmpty())
        return fail(QStringLiteral("No files to record"));
    if (!QDir().mkpath(historyPath()))
        return fail(QStringLiteral("Cannot create %1").arg(historyPath()));

    // One writer at a time: the chain is read, extended and replaced as a whole.
    QLockFile lock(historyPath() + QStringLiteral("/.ascmhl_chain.lock"));
    if (!lock.tryLock(LockWaitMs))
        return fail(lock.error() == QLockFile::LockFailedError
                        ? QStringLiteral("%1 stayed locked by another import").arg(historyPath())
                        : QStringLiteral("Cannot create the lock file in %1 (is the disk full "
                                         "or read-only?)")
                              .arg(historyPath()));

    // What a killed writer left half-written (a manifest, the chain) goes.
    for (const QString& removed : RunLock::removeStaleTemporaries(historyPath()))
        qInfo().noquote()
            << QStringLiteral("Hash list: removed %1, left by a killed run.").arg(removed);

    QVector<Generation> chain;
    if (!readChain(&chain))
        return false;
    int number = highestManifestNumber();
    for (const Generation& generation : chain)
        number = std::max(number, generation.number);

    QVector<File> sorted = files;
    if (!unlessListed.isEmpty()) {
        QSet<QString> listed;
        if (!readListed(chain, &listed))
            return false;
        for (const File& file : unlessListed)
            if (!listed.contains(file.path))
                sorted.append(file);
    }
    // Another writer may have listed them all meanwhile.
    if (sorted.isEmpty())
        return true;
    std::sort(sorted.begin(), sorted.end(),
              [](const File& a, const File& b) { return a.path < b.path; });
    const QByteArray content = manifest(sorted, created);
    const QString folderName = QFileInfo(folder).fileName();
    const QString time = created.toUTC().toString(QStringLiteral("yyyy-MM-dd_HHmmss"));

    // The name is taken only if free: a writer that ignored the lock (or a
    // file left by hand) moves this generation on to the next number.
    Generation added;
    for (int attempt = 0; added.number == 0; ++attempt) {
        ++number;
        const QString name = QStringLiteral("%1_%2_%3Z.mhl")
                                 .arg(number, 4, 10, QLatin1Char('0'))
                                 .arg(folderName, time);
        QString reason;
        switch (ExclusiveFile::write(historyPath() + QLatin1Char('/') + name, content, &reason)) {
        case ExclusiveFile::Created:
            added.number = number;
            added.manifest = name;
            break;
        case ExclusiveFile::AlreadyExists:
            if (attempt < 100)
                continue;
            return fail(QStringLiteral("No free generation number in %1").arg(historyPath()));
        case ExclusiveFile::Failed:
            return fail(reason);
        }
    }
    added.c4 = c4Id(content);
    chain.append(added);
    if (!writeChain(chain)) {
        // A manifest the chain does not list would fail every verification.
        QFile::remove(historyPath() + QLatin1Char('/') + added.manifest);
        return false;
    }
    return true;
}
