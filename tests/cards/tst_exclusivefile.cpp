#include "cards/exclusivefile.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

// Every entry of the folder, hidden ones included: no temporary file may stay.
static QStringList entries(const QString& dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                               QDir::NoDotAndDotDot);
}

class TestExclusiveFile : public QObject
{
    Q_OBJECT

private slots:
    void refusesAndFails()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("p.kava");
        // A dangling link holds the name: it is neither followed nor replaced.
        QVERIFY(QFile::link(dir.filePath("nowhere"), path));
        QCOMPARE(int(ExclusiveFile::write(path, "new")), int(ExclusiveFile::AlreadyExists));
        QVERIFY(QFileInfo(path).isSymLink());
        QString error;
        QCOMPARE(int(ExclusiveFile::write(dir.filePath("missing/p.kava"), "new", &error)),
                 int(ExclusiveFile::Failed));
        QVERIFY(!error.isEmpty());
        QCOMPARE(entries(dir.path()), QStringList{"p.kava"});
    }
};

QTEST_GUILESS_MAIN(TestExclusiveFile)
#include "tst_exclusivefile.moc"
