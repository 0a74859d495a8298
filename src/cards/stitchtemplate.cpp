#include "cards/stitchtemplate.h"

#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QXmlStreamReader>

namespace {

const QString RootElement = QStringLiteral("kava");

// Why a file is no usable template: the whole sentence, and the reason alone
// for a text that names the template already.
struct Problem
{
    QString text;
    QString brief;
};

Problem notATemplate(const QString& path, const QString& why)
{
    return {QStringLiteral("The template %1 is not a stitching template: %2").arg(path, why),
            QStringLiteral("not a stitching template: %1").arg(why)};
}

Problem unreadable(const QString& path, const QString& why)
{
    return {QStringLiteral("Cannot read the template %1: %2").arg(path, why),
            QStringLiteral("cannot be read: %1").arg(why)};
}

// Opens the template for reading; only a regular file, as a FIFO would block
// the opening and a device never end.
bool openTemplate(QFile& file, Problem* problem)
{
    const QFileInfo info(file.fileName());
    if (info.exists() && !info.isFile()) {
        *problem = unreadable(file.fileName(), QStringLiteral("not a file"));
        return false;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        *problem = unreadable(file.fileName(), file.errorString());
        return false;
    }
    return true;
}

// The check without building the document.
Problem checkFile(const QString& path)
{
    QFile file(path);
    Problem problem;
    if (!openTemplate(file, &problem))
        return problem;
    QXmlStreamReader xml(&file);
    QString root;
    while (!xml.atEnd()) {
        if (xml.readNext() == QXmlStreamReader::StartElement && root.isEmpty())
            root = xml.name().toString();
    }
    if (xml.hasError())
        return notATemplate(path, QStringLiteral("%1 at line %2, column %3")
                                      .arg(xml.errorString(), QString::number(xml.lineNumber()),
                                           QString::number(xml.columnNumber())));
    if (root != RootElement)
        return notATemplate(path, QStringLiteral("it holds <%1>, not <%2>").arg(root, RootElement));
    return {};
}

void removeAllBelow(const QDomElement& parent, const QString& tag)
{
    const QDomNodeList found = parent.elementsByTagName(tag);
    QList<QDomNode> nodes;
    for (int i = 0; i < found.size(); ++i)
        nodes.append(found.item(i));
    for (QDomNode& node : nodes)
        node.parentNode().removeChild(node);
}

} // namespace

StitchTemplate::StitchTemplate(const QString& path, const QDomDocument& document)
    : filePath(path), parsed(document)
{
}

std::shared_ptr<const StitchTemplate> StitchTemplate::load(const QString& path, QString* error)
{
    QFile file(path);
    Problem problem;
    if (!openTemplate(file, &problem)) {
        *error = problem.text;
        return nullptr;
    }
    QDomDocument document;
    QString message;
    int line = 0;
    int column = 0;
    if (!document.setContent(&file, &message, &line, &column)) {
        *error =
            notATemplate(path, QStringLiteral("%1 at line %2, column %3")
                                   .arg(message, QString::number(line), QString::number(column)))
                .text;
        return nullptr;
    }
    const QString root = document.documentElement().tagName();
    if (root != RootElement) {
        *error =
            notATemplate(path, QStringLiteral("it holds <%1>, not <%2>").arg(root, RootElement))
                .text;
        return nullptr;
    }
    // Every project drops the template's own thumbnails and control-point
    // matches: dropped once here, they are not copied for every recording.
    const QDomElement pano = document.documentElement().firstChildElement(QStringLiteral("pano"));
    if (!pano.isNull()) {
        removeAllBelow(pano, QStringLiteral("thumbnail"));
        removeAllBelow(pano, QStringLiteral("match"));
    }
    return std::shared_ptr<const StitchTemplate>(new StitchTemplate(path, document));
}

QString StitchTemplate::check(const QString& path)
{
    return checkFile(path).text;
}

QString StitchTemplate::reason(const QString& path)
{
    return checkFile(path).brief;
}

QDomDocument StitchTemplate::document() const
{
    QMutexLocker lock(&mutex);
    return parsed.cloneNode(true).toDocument();
}
