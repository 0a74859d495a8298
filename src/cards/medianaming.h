#pragma once

#include <QString>

class QDir;

// The one naming scheme for camera copies: the media import names its copies
// with it and the stitching projects name the copies they refer to with it.
// Names change in their last component only: copies keep the card's folder
// layout whatever its folders are called, so the three cameras' copies of a
// recording meet in one folder.
namespace MediaNaming {

// The media extension of a card file in upper case, matched without regard
// to case: ".MOV" for a video, ".JPG" or ".DNG" for a photo; empty for a
// file that is no media.
QString mediaExtension(const QString& path);

// What an import copies: a file with a mediaExtension(). The wipe's check of
// the copies goes by it too.
bool isMediaFile(const QString& path);

// ".DNG" for a path ending in ".dng" in any case, else ".JPG".
QString photoExtension(const QString& sourcePath);

// A card file's path relative to the card, its name's extension written as
// `extension` (".mov" becomes ".MOV"); folder names stay as on the card.
QString relativeTargetPath(const QDir& sourceDirectory, const QString& sourcePath,
                           const QString& extension);

// Name of camera `cardIndex`'s copy of the file at `path` (a target path or a
// bare file name): every `extension` in the file name is replaced by
// "_<project>_camN<ext>", "_camN<ext>" without a project, or
// "-<collision>_camN<ext>" after a collision.
QString cameraCopyName(const QString& path, const QString& extension, int cardIndex,
                       const QString& projectName, int collision);

// The recording's base path: the target path, or after a collision the target
// path with "-<collision>" in front of every `extension` in its file name.
QString basePath(const QString& targetPath, const QString& extension, int collision);

// Name of camera `cardIndex`'s copy as a stitching project refers to it, from
// the recording's base path (only its last component is used).
QString projectCameraName(const QString& basePath, const QString& extension, int cardIndex,
                          const QString& projectName, int collision);

// A project name becomes part of file names: refuse anything that could leave
// the destination folder or that no file name may hold.
bool isValidProjectName(const QString& projectName);

} // namespace MediaNaming
