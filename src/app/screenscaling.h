#pragma once

#include <QString>

class QScreen;

// The display scale factor chosen at start-up and the screen metrics behind it.
// Only scaleFactor is used for scaling; the rest goes into the system report.
struct ScreenScaling
{
    explicit ScreenScaling(double settingsScaleFactor = 0.0);

    // Body text is drawn this many pixels high at scale 1; a computed factor
    // never takes it below the readable size.
    static constexpr double BodyTextPixels = 14.0;
    static constexpr double ReadableTextPixels = 11.0;

    double scaleFactor = 1.0;
    double settingsScaleFactor = 0.0;
    double calculatedScaleFactor = 0.0;
    // The factor the screen alone gives, before it is raised to keep text readable.
    double screenScaleFactor = 0.0;
    double referenceHeight = 1000.0;
    double baseFactor = 64.0;
    double heightOffset = 0.0;
    int sizeHeight = 0;
    double physicalSizeHeight = 0.0;
    double physicalDpi = 0.0;
    double logicalDpi = 0.0;
    int geometryHeight = 0;
    int availableSizeHeight = 0;
    int availableGeometryHeight = 0;
    int availableVirtualGeometryHeight = 0;
    int availableVirtualSizeHeight = 0;
    int virtualGeometryHeight = 0;
    int virtualSizeHeight = 0;
    QString appDirectory;
    QString appExecutable;

    // Reads the primary screen through a temporary GUI application made from
    // the program's arguments, then computes. Must run while no other
    // application object exists, before any scaling is set.
    double calculateScaleFactor(int argc, char** argv);

    // Copies the metrics of a screen into the record.
    void readScreen(const QScreen& screen);

    // The factor from the metrics already in the record; screenFound false
    // means there was no primary screen and the metrics stay 0.
    double computeScaleFactor(bool screenFound);
};

// The system report written into the log right after it is opened.
void logSystemInfo(const QString& appName, const QString& appVersion, const ScreenScaling& scaling);
