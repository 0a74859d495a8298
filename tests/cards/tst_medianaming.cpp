#include "medianaming.h"

#include <QDir>
#include <QFileInfo>
#include <QtTest>

class TestMediaNaming : public QObject
{
    Q_OBJECT

private slots:
    void copyNames_data();
    void copyNames();
    void projectNames_data();
    void projectNames();
};

void TestMediaNaming::copyNames_data()
{
    QTest::addColumn<QString>("cardFile"); // relative to the card
    QTest::addColumn<int>("card");
    QTest::addColumn<QString>("project");
    QTest::addColumn<int>("collision");
    QTest::addColumn<QString>("copy"); // relative to the destination
    QTest::addColumn<QString>("base");

    QTest::newRow("card 3, no project") << "A/B/C.MOV" << 3 << "" << 0 << "A/B/C_cam3.MOV"
                                        << "A/B/C.MOV";
    QTest::newRow("project") << "DCIM/101/V0042.MOV" << 2 << "Reef" << 0
                             << "DCIM/101/V0042_Reef_cam2.MOV"
                             << "DCIM/101/V0042.MOV";
    QTest::newRow("collision 1, project")
        << "DCIM/101/V0042.MOV" << 2 << "Reef" << 1 << "DCIM/101/V0042-1_cam2.MOV"
        << "DCIM/101/V0042-1.MOV";
    QTest::newRow("collision 2, project")
        << "DCIM/101/V0042.MOV" << 2 << "Reef" << 2 << "DCIM/101/V0042-2_cam2.MOV"
        << "DCIM/101/V0042-2.MOV";
    QTest::newRow("collision 1, no project")
        << "DCIM/101/V0042.MOV" << 1 << "" << 1 << "DCIM/101/V0042-1_cam1.MOV"
        << "DCIM/101/V0042-1.MOV";
    QTest::newRow("collision 2, no project")
        << "DCIM/101/V0042.MOV" << 1 << "" << 2 << "DCIM/101/V0042-2_cam1.MOV"
        << "DCIM/101/V0042-2.MOV";
    QTest::newRow(".MOV in a folder name")
        << "X.MOV/V.MOV" << 1 << "" << 0 << "X_cam1.MOV/V_cam1.MOV"
        << "X.MOV/V.MOV";
    QTest::newRow("lower-case .mov folder part")
        << "a.mov/V.MOV" << 2 << "" << 0 << "a_cam2.MOV/V_cam2.MOV"
        << "a.MOV/V.MOV";
    QTest::newRow("DNG photo") << "DCIM/101/P0007.DNG" << 1 << "Reef" << 0
                               << "DCIM/101/P0007_Reef_cam1.DNG"
                               << "DCIM/101/P0007.DNG";
    QTest::newRow("JPG photo after a collision")
        << "DCIM/P0001.JPG" << 3 << "Reef" << 1 << "DCIM/P0001-1_cam3.JPG"
        << "DCIM/P0001-1.JPG";
    // Photos keep their case: a ".jpg" folder is not touched.
    QTest::newRow("photo in a .jpg folder") << "x.jpg/P.JPG" << 1 << "" << 0 << "x.jpg/P_cam1.JPG"
                                            << "x.jpg/P.JPG";
    QTest::newRow("placeholder in project name")
        << "V.MOV" << 2 << "A%1%2" << 0 << "V_A%1%2_cam2.MOV"
        << "V.MOV";
}

void TestMediaNaming::copyNames()
{
    QFETCH(QString, cardFile);
    QFETCH(int, card);
    QFETCH(QString, project);
    QFETCH(int, collision);
    QFETCH(QString, copy);
    QFETCH(QString, base);

    const QDir cardDir(QStringLiteral("/media/card"));
    const QDir destination(QStringLiteral("/data/import"));
    const bool video = cardFile.endsWith(QLatin1String(".MOV"));
    const QString extension =
        video ? QStringLiteral(".MOV") : MediaNaming::photoExtension(cardFile);
    const QString target =
        MediaNaming::targetPath(cardDir, destination, cardDir.filePath(cardFile), video);

    const QString copyPath =
        MediaNaming::cameraCopyName(target, extension, card, project, collision);
    const QString basePath = MediaNaming::basePath(target, extension, collision);
    QCOMPARE(copyPath, destination.filePath(copy));
    QCOMPARE(basePath, destination.filePath(base));
    // The stitching projects name the copy from the base path alone.
    QCOMPARE(MediaNaming::projectCameraName(basePath, extension, card, project, collision),
             QFileInfo(copyPath).fileName());
}

void TestMediaNaming::projectNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("valid");

    QTest::newRow("none") << "" << true;
    QTest::newRow("plain") << "Reef" << true;
    QTest::newRow("blanks, dots, percent") << "Reef 2. day 100%" << true;
    QTest::newRow("non-ASCII") << QStringLiteral("Récif_Ø") << true;
    QTest::newRow("slash") << "a/b" << false;
    QTest::newRow("parent inside") << "a..b" << false;
    QTest::newRow("colon") << "C:x" << false;
    QTest::newRow("wildcards") << "a*?" << false;
    QTest::newRow("newline") << "a\nb" << false;
}

void TestMediaNaming::projectNames()
{
    QFETCH(QString, name);
    QFETCH(bool, valid);
    QCOMPARE(MediaNaming::isValidProjectName(name), valid);
}

QTEST_GUILESS_MAIN(TestMediaNaming)
#include "tst_medianaming.moc"
