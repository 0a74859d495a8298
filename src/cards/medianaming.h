#pragma once

#include <QString>

class QDir;

// The one naming scheme for camera copies: the media import names its copies
// with it and the stitching projects name the copies they refer to with it.
namespace MediaNaming {

// What an import copies: videos (".MOV") and photos (".JPG", ".DNG"). The
// import and the wipe's check of the copies both go by these.
bool isVideoFile(const QString& path);
bool isPhotoFile(const QString& path);
bool isMediaFile(const QString& path);

// ".DNG" for a path ending in ".DNG" (case-sensitive), else ".JPG".
QString photoExtension(const QString& sourcePath);

// A card file's path relative to the card; a video's ".mov" parts (folders
// included) become ".MOV" before it is named. Names are formed on this part
// only, so the chosen destination folder is never renamed.
QString relativeTargetPath(const QDir& sourceDirectory, const QString& sourcePath, bool video);

// Name of camera `cardIndex`'s copy of the file at `path` (a target path or a
// bare file name): every `extension` in it is replaced by "_<project>_camN<ext>",
// "_camN<ext>" without a project, or "-<collision>_camN<ext>" after a collision.
QString cameraCopyName(const QString& path, const QString& extension, int cardIndex,
                       const QString& projectName, int collision);

// The recording's base path: the target path, or after a collision the target
// path with "-<collision>" in front of every `extension`.
QString basePath(const QString& targetPath, const QString& extension, int collision);

// Name of camera `cardIndex`'s copy as a stitching project refers to it, from
// the recording's base path (only its last component is used).
QString projectCameraName(const QString& basePath, const QString& extension, int cardIndex,
                          const QString& projectName, int collision);

// A project name becomes part of file names: refuse anything that could leave
// the destination folder or that no file name may hold.
bool isValidProjectName(const QString& projectName);

} // namespace MediaNaming
