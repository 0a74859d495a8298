#include "exclusivefile.h"
#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

class TestExclusiveFile : public QObject
{
    Q_OBJECT

private slots:
    void write_data();
    void write();
    void lostRaceAtCommitKeepsTheWinner();
    void uncommittedLeavesNothing();

private:
    // Every entry of the folder, hidden ones included: no temporary may stay.
    static QStringList entries(const QString& dir)
    {
        return QDir(dir).entryList(
            QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    }
};

void TestExclusiveFile::write_data()
{
    QTest::addColumn<QString>("before"); // "none", "file", "empty", "dangling link"
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("after");

    QTest::newRow("new file") << "none"
                              << "p.kava" << int(ExclusiveFile::Created) << QByteArray("new")
                              << QStringList{"p.kava"};
    QTest::newRow("existing file kept") << "file"
                                        << "p.kava" << int(ExclusiveFile::AlreadyExists)
                                        << QByteArray("old") << QStringList{"p.kava"};
    QTest::newRow("existing empty file kept")
        << "empty"
        << "p.kava" << int(ExclusiveFile::AlreadyExists) << QByteArray() << QStringList{"p.kava"};
    QTest::newRow("dangling link not followed")
        << "dangling link"
        << "p.kava" << int(ExclusiveFile::AlreadyExists) << QByteArray() << QStringList{"p.kava"};
    QTest::newRow("missing folder")
        << "none"
        << "missing/p.kava" << int(ExclusiveFile::Failed) << QByteArray() << QStringList{};
}

void TestExclusiveFile::write()
{
    QFETCH(QString, before);
    QFETCH(QString, name);
    QFETCH(int, outcome);
    QFETCH(QByteArray, content);
    QFETCH(QStringList, after);

    QTemporaryDir dir;
    const QString path = dir.filePath(name);
    if (before == "file")
        QVERIFY(TestSupport::writeFile(path, "old"));
    else if (before == "empty")
        QVERIFY(TestSupport::writeFile(path, QByteArray()));
    else if (before == "dangling link")
        QVERIFY(QFile::link(dir.filePath("nowhere"), path));

    QString error;
    QCOMPARE(int(ExclusiveFile::write(path, "new", &error)), outcome);
    QCOMPARE(error.isEmpty(), outcome != ExclusiveFile::Failed);
    QCOMPARE(TestSupport::readFile(path), content);
    QCOMPARE(entries(dir.path()), after);
    if (before == "dangling link")
        QVERIFY(!QFile::exists(dir.filePath("nowhere")));
}

void TestExclusiveFile::lostRaceAtCommitKeepsTheWinner()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("V0042_autopano.kava");
    ExclusiveFile loser(path);
    QVERIFY(loser.open());
    loser.file().write("loser");
    QVERIFY(TestSupport::writeFile(path, "winner"));
    QCOMPARE(int(loser.commit()), int(ExclusiveFile::AlreadyExists));
    QCOMPARE(TestSupport::readFile(path), QByteArray("winner"));
    QCOMPARE(entries(dir.path()), QStringList{"V0042_autopano.kava"});

    // A later attempt gives up before writing anything.
    ExclusiveFile late(path);
    QVERIFY(!late.open());
    QCOMPARE(int(late.outcome()), int(ExclusiveFile::AlreadyExists));
}

void TestExclusiveFile::uncommittedLeavesNothing()
{
    QTemporaryDir dir;
    {
        ExclusiveFile out(dir.filePath("a.MOV"));
        QVERIFY(out.open());
        out.file().write(QByteArray(4096, 'x'));
    }
    QVERIFY(entries(dir.path()).isEmpty());

    ExclusiveFile out(dir.filePath("b.MOV"));
    QVERIFY(out.open());
    out.file().write("partial");
    out.discard();
    QVERIFY(entries(dir.path()).isEmpty());
}

QTEST_GUILESS_MAIN(TestExclusiveFile)
#include "tst_exclusivefile.moc"
