#include "cards/templatewriter.h"

#include "base/apppaths.h"
#include "cards/exclusivefile.h"
#include "cards/medianaming.h"
#include "cards/stitchtemplate.h"
#include "cards/templatediscovery.h"
#include "settings/settingsstore.h"

#include <QDebug>
#include <QDir>
#include <QDomDocument>
#include <QFile>
#include <QFileInfo>
#include <QVector>

namespace {

const QString VideoExtension = QStringLiteral(".MOV");
const QString XmlDeclaration = QStringLiteral("<?xml version='1.0' encoding='UTF-8'?>");

// The first `tag` child of `parent` and its next `tag` siblings, at most three.
QVector<QDomElement> firstThree(const QDomElement& parent, const QString& tag)
{
    QVector<QDomElement> elements;
    for (QDomElement e = parent.firstChildElement(tag); !e.isNull() && elements.size() < 3;
         e = e.nextSiblingElement(tag))
        elements.append(e);
    return elements;
}

void removeAllBelow(const QDomElement& parent, const QString& tag)
{
    const QDomNodeList found = parent.elementsByTagName(tag);
    QVector<QDomNode> nodes;
    for (int i = 0; i < found.size(); ++i)
        nodes.append(found.item(i));
    for (QDomNode& node : nodes)
        node.parentNode().removeChild(node);
}

// The images of the panorama get the cameras' files and, when asked for, the
// rig's calibration; thumbnails and control-point matches of the template's own
// pictures are dropped, as they do not fit the new ones.
void editPano(QDomElement pano, const QStringList& imageNames, const QVariantMap& settings)
{
    if (pano.isNull())
        return;
    const QVector<QDomElement> images =
        firstThree(pano.firstChildElement(QStringLiteral("images")), QStringLiteral("image"));
    for (int k = 0; k < images.size(); ++k)
        images[k]
            .firstChildElement(QStringLiteral("def"))
            .setAttribute(QStringLiteral("filename"), imageNames.value(k));

    const QString overwrite = QStringLiteral("OverwriteAngles");
    if (!images.isEmpty() && settings.contains(overwrite) && settings.value(overwrite).toBool()) {
        const QVariantMap angles = anglesForTemplate(settings);
        static const char* const attributes[][2] = {{"yaw", "Yaw"},
                                                    {"pitch", "Pitch"},
                                                    {"roll", "Roll"},
                                                    {"offset_x", "OffsetX"},
                                                    {"offset_y", "OffsetY"}};
        for (int k = 0; k < images.size(); ++k) {
            QDomElement camera = images[k].firstChildElement(QStringLiteral("camera"));
            for (const auto& attribute : attributes) {
                const QString key =
                    QStringLiteral("Camera%1%2").arg(k + 1).arg(QLatin1String(attribute[1]));
                // Text values as stored; converted angles as the variant's own text.
                camera.setAttribute(QLatin1String(attribute[0]), angles.value(key).toString());
            }
        }
    }

    removeAllBelow(pano, QStringLiteral("thumbnail"));
    removeAllBelow(pano, QStringLiteral("match"));
}

// A stand-alone photo project: the declaration line and the panorama element.
QByteArray photoProjectText(const QDomElement& pano)
{
    QDomDocument doc(QStringLiteral("pano"));
    if (!pano.isNull())
        doc.appendChild(doc.importNode(pano, true));
    QString text = doc.toString(1);
    const QString doctype = QStringLiteral("<!DOCTYPE pano>");
    if (text.startsWith(doctype))
        text.replace(0, doctype.size(), XmlDeclaration);
    else
        text = XmlDeclaration + QLatin1Char('\n') + text;
    return text.toUtf8();
}

QStringList cameraNames(const QString& basePath, const QString& extension,
                        const QString& projectName, int collision, const QString& suffix)
{
    QStringList names;
    for (int cardIndex = 1; cardIndex <= 3; ++cardIndex)
        names << MediaNaming::projectCameraName(basePath, extension, cardIndex, projectName,
                                                collision) +
                     suffix;
    return names;
}

// Writes `content` unless the file exists. True when this call created it.
bool writeNew(int cardIndex, const QString& path, const QByteArray& content)
{
    QString error;
    const ExclusiveFile::Outcome outcome = ExclusiveFile::write(path, content, &error);
    if (outcome == ExclusiveFile::Failed)
        qWarning().noquote() << QStringLiteral("Card %1: %2").arg(cardIndex).arg(error);
    return outcome == ExclusiveFile::Created;
}

void logWritten(const char* format, int cardIndex, const QString& path)
{
    qInfo() << QString::fromLatin1(format).arg(cardIndex).arg(path);
}

// The project lies beside the recording's copies: only the file name changes,
// so a destination folder whose name holds the extension is left as chosen.
QString projectFilePath(const QString& basePath, const QString& extension,
                        const QString& replacement)
{
    const int slash = basePath.lastIndexOf(QLatin1Char('/'));
    QString name = basePath.mid(slash + 1);
    name.replace(extension, replacement);
    return basePath.left(slash + 1) + name;
}

} // namespace

QStringList writeVideoTemplate(int cardIndex, const StitchTemplate& stitchTemplate,
                               const QString& basePath, const QString& projectName,
                               const QVariantMap& settings, int collision)
{
    QStringList written;
    const QString projectPath = projectFilePath(
        basePath, VideoExtension,
        projectName.isEmpty() ? QStringLiteral("_autopano.kava")
                              : QStringLiteral("_%1_autopano.kava").arg(projectName));
    if (projectPath == basePath) {
        qWarning().noquote()
            << QStringLiteral("Card %1: no video name in %2.").arg(cardIndex).arg(basePath);
        return written;
    }
    if (QFileInfo::exists(projectPath) || QFileInfo(projectPath).isSymLink())
        return written;

    QDomDocument doc = stitchTemplate.document();

    const QStringList videos = cameraNames(basePath, VideoExtension, projectName, collision, {});
    const QStringList images =
        cameraNames(basePath, VideoExtension, projectName, collision, QStringLiteral(".jpg"));
    QString rendered = QFileInfo(basePath).fileName();
    rendered.replace(VideoExtension, QStringLiteral("_rendered.kava"));

    const QDomElement kava = doc.firstChildElement(QStringLiteral("kava"));
    const QVector<QDomElement> playback =
        firstThree(kava.firstChildElement(QStringLiteral("videos")), QStringLiteral("video"));
    for (int k = 0; k < playback.size(); ++k) {
        QDomElement video = playback[k];
        video.setAttribute(QStringLiteral("file"), videos[k]);
        video.setAttribute(QStringLiteral("dt"), QStringLiteral("0"));
    }
    for (const QString& section : {QStringLiteral("stabilization"), QStringLiteral("exposure")}) {
        const QVector<QDomElement> list =
            firstThree(kava.firstChildElement(section), QStringLiteral("video"));
        for (int k = 0; k < list.size(); ++k) {
            QDomElement video = list[k];
            video.setAttribute(QStringLiteral("file"), videos[k]);
        }
    }

    const QDomElement pano = kava.firstChildElement(QStringLiteral("pano"));
    editPano(pano, images, settings);

    QDomElement output = kava.firstChildElement(QStringLiteral("output"));
    if (!output.isNull()) {
        output.setAttribute(QStringLiteral("file"), rendered);
        // The stitching tool reads its render settings from the output element.
        if (!kava.firstChildElement(QStringLiteral("encodingrules")).isNull()) {
            output.setAttribute(QStringLiteral("presets"), QStringLiteral("4;"));
            output.setAttribute(QStringLiteral("quality"), QStringLiteral("1;"));
            output.setAttribute(QStringLiteral("profile"), QStringLiteral("2;"));
            output.setAttribute(QStringLiteral("framerateMode"), QStringLiteral("0;"));
            output.setAttribute(QStringLiteral("vbitrate"), QStringLiteral("100000000"));
            output.setAttribute(QStringLiteral("abitrate"), QStringLiteral("160000"));
        }
    }

    // Encoded as the template's own declaration says (UTF-8 without one).
    const QByteArray project = doc.toByteArray(1);
    QString error;
    switch (ExclusiveFile::write(projectPath, project, &error)) {
    case ExclusiveFile::Created:
        logWritten("Card %1: wrote template file %2.", cardIndex, projectPath);
        written << projectPath;
        break;
    case ExclusiveFile::AlreadyExists:
        return written; // another card's worker wrote this recording's project first
    case ExclusiveFile::Failed:
        qWarning().noquote() << QStringLiteral("Card %1: %2").arg(cardIndex).arg(error);
        break;
    }

    const QString templatesDir = templatesDirPath();
    const QString copyPath =
        templatesDir + QLatin1Char('/') + QFileInfo(stitchTemplate.path()).fileName();
    if (!QFileInfo::exists(copyPath)) {
        QDir().mkpath(templatesDir);
        if (writeNew(cardIndex, copyPath, project)) {
            logWritten("Card %1: copied template file %2.", cardIndex, copyPath);
            written << copyPath;
        }
    }

    const QString panoPath = templateSiblingPath(copyPath, QStringLiteral(".pano"));
    if (!QFileInfo::exists(panoPath) && writeNew(cardIndex, panoPath, photoProjectText(pano))) {
        logWritten("Card %1: wrote template file %2.", cardIndex, panoPath);
        written << panoPath;
    }
    return written;
}

QStringList writePhotoProject(int cardIndex, const StitchTemplate& stitchTemplate,
                              const QString& basePath, const QString& projectName,
                              const QVariantMap& settings, int collision)
{
    const QString extension = MediaNaming::photoExtension(basePath);
    const QString projectPath = projectFilePath(
        basePath, extension,
        projectName.isEmpty() ? QStringLiteral("_giga%1.pano").arg(extension)
                              : QStringLiteral("_%1_giga%2.pano").arg(projectName, extension));
    if (projectPath == basePath) {
        qWarning().noquote()
            << QStringLiteral("Card %1: no photo name in %2.").arg(cardIndex).arg(basePath);
        return {};
    }
    if (QFileInfo::exists(projectPath) || QFileInfo(projectPath).isSymLink())
        return {};

    const QDomDocument doc = stitchTemplate.document();
    const QDomElement pano =
        doc.firstChildElement(QStringLiteral("kava")).firstChildElement(QStringLiteral("pano"));
    editPano(pano, cameraNames(basePath, extension, projectName, collision, {}), settings);

    if (!writeNew(cardIndex, projectPath, photoProjectText(pano)))
        return {};
    logWritten("Card %1: wrote template file %2.", cardIndex, projectPath);
    return {projectPath};
}

QStringList writeVideoTemplate(int cardIndex, const QString& templatePath, const QString& basePath,
                               const QString& projectName, const QVariantMap& settings,
                               int collision)
{
    QString error;
    if (const auto loaded = StitchTemplate::load(templatePath, &error))
        return writeVideoTemplate(cardIndex, *loaded, basePath, projectName, settings, collision);
    qWarning().noquote() << QStringLiteral("Card %1: %2").arg(cardIndex).arg(error);
    return {};
}

QStringList writePhotoProject(int cardIndex, const QString& templatePath, const QString& basePath,
                              const QString& projectName, const QVariantMap& settings,
                              int collision)
{
    QString error;
    if (const auto loaded = StitchTemplate::load(templatePath, &error))
        return writePhotoProject(cardIndex, *loaded, basePath, projectName, settings, collision);
    qWarning().noquote() << QStringLiteral("Card %1: %2").arg(cardIndex).arg(error);
    return {};
}
