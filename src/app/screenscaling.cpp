#include "app/screenscaling.h"

#include "base/apppaths.h"

#include <QDebug>
#include <QDir>
#include <QGuiApplication>
#include <QScreen>
#include <QSysInfo>

#include <algorithm>
#include <vector>

ScreenScaling::ScreenScaling(double settingsFactor) : settingsScaleFactor(settingsFactor) {}

double ScreenScaling::calculateScaleFactor(int argc, char** argv)
{
    if (argc > 0 && argv && argv[0])
        appExecutable = QString::fromUtf8(argv[0]);
    appDirectory = appDirPath();

    // The application removes the framework's own options (-platform, ...) from
    // the list it is given; it gets a copy so the real application still sees them.
    std::vector<char*> arguments(argv, argv + (argv ? argc : 0));
    arguments.push_back(nullptr);
    int argumentCount = argv ? argc : 0;

    bool screenFound = false;
    {
        QGuiApplication probe(argumentCount, arguments.data());
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            readScreen(*screen);
            screenFound = true;
        }
    }
    return computeScaleFactor(screenFound);
}

void ScreenScaling::readScreen(const QScreen& screen)
{
    sizeHeight = screen.size().height();
    physicalSizeHeight = screen.physicalSize().height();
    physicalDpi = screen.physicalDotsPerInchY();
    logicalDpi = screen.logicalDotsPerInchY();
    geometryHeight = screen.geometry().height();
    availableSizeHeight = screen.availableSize().height();
    availableGeometryHeight = screen.availableGeometry().height();
    availableVirtualGeometryHeight = screen.availableVirtualGeometry().height();
    availableVirtualSizeHeight = screen.availableVirtualSize().height();
    virtualGeometryHeight = screen.virtualGeometry().height();
    virtualSizeHeight = screen.virtualSize().height();
}

double ScreenScaling::computeScaleFactor(bool screenFound)
{
    if (screenFound) {
        const double height = availableSizeHeight;
        // Screens between 1300 and 1800 pixels high get the window at its base size.
        heightOffset = (height > 1300 && height < 1800) ? height - referenceHeight : 0.0;
        screenScaleFactor = (baseFactor / logicalDpi) * (height - heightOffset) / referenceHeight;
        // A small screen would get text too small to read: the window is then
        // drawn larger and may be resized or scrolled.
        calculatedScaleFactor = std::max(screenScaleFactor, ReadableTextPixels / BodyTextPixels);
    }
    scaleFactor = settingsScaleFactor > 0.1 ? settingsScaleFactor : calculatedScaleFactor;
    return scaleFactor;
}

void logSystemInfo(const QString& appName, const QString& appVersion, const ScreenScaling& s)
{
    qInfo() << "AppName:" << appName;
    qInfo() << "AppVersion:" << appVersion;
    qInfo() << "AppExecutable:" << s.appExecutable;
    qInfo() << "AppDirectory:" << s.appDirectory;
    qInfo() << "WorkingDirectory:" << QDir::currentPath();
    qInfo() << "CpuArchitecture:" << QSysInfo::currentCpuArchitecture();
    qInfo() << "KernelType:" << QSysInfo::kernelType();
    qInfo() << "KernelVersion:" << QSysInfo::kernelVersion();
    qInfo() << "OperatingSystem:" << QSysInfo::productType() << QSysInfo::productVersion();
    qInfo() << "PhysicalSizeHeight:" << s.physicalSizeHeight;
    qInfo() << "PhysicalDpi:" << s.physicalDpi;
    qInfo() << "LogicalDpi:" << s.logicalDpi;
    qInfo() << "SizeHeight:" << s.sizeHeight;
    qInfo() << "GeometryHeight:" << s.geometryHeight;
    qInfo() << "AvailableSizeHeight:" << s.availableSizeHeight;
    qInfo() << "AvailableGeometryHeight:" << s.availableGeometryHeight;
    qInfo() << "AvailableVirtualGeometryHeight:" << s.availableVirtualGeometryHeight;
    qInfo() << "AvailableVirtualSizeHeight:" << s.availableVirtualSizeHeight;
    qInfo() << "VirtualGeometryHeight:" << s.virtualGeometryHeight;
    qInfo() << "VirtualSizeHeight:" << s.virtualSizeHeight;
    qInfo() << "CalculatedScaleFactor:" << s.calculatedScaleFactor;
    qInfo() << "SettingsScaleFactor:" << s.settingsScaleFactor;
    qInfo() << "ScaleFactor:" << s.scaleFactor;
    if (s.scaleFactor == s.calculatedScaleFactor && s.calculatedScaleFactor > s.screenScaleFactor)
        qInfo().noquote() << QStringLiteral(
                                 "Scale factor %1 raised to %2: body text at least %3 px")
                                 .arg(s.screenScaleFactor)
                                 .arg(s.calculatedScaleFactor)
                                 .arg(ScreenScaling::ReadableTextPixels);
}
