#include "apppaths.h"
#include "testsupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

// Each case starts from empty caches, a temporary application folder and a
// temporary platform data folder (XDG_DATA_HOME).
class TestAppPaths : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();
    void userDataFolder_data();
    void userDataFolder();
    void uncreatableDataFolder();
    void templatesFolder_data();
    void templatesFolder();
    void toolFolders_data();
    void toolFolders();
    void logFileOfItsOwn();

private:
    QString appFolder() const { return root->filePath(QStringLiteral("install/bin")); }

    QScopedPointer<QTemporaryDir> root;
    QString startDir;
    QString appName;
    QString orgName;
};

void TestAppPaths::initTestCase()
{
    startDir = QDir::currentPath();
    appName = QCoreApplication::applicationName();
    orgName = QCoreApplication::organizationName();
}

void TestAppPaths::init()
{
    root.reset(new QTemporaryDir);
    QVERIFY(root->isValid());
    QVERIFY(QDir().mkpath(appFolder()));
    resetPathCaches();
    updateAppDirPath(appFolder() + QStringLiteral("/VazizidADU"));
    qputenv("XDG_DATA_HOME", QFile::encodeName(root->filePath(QStringLiteral("data"))));
}

void TestAppPaths::cleanup()
{
    QDir::setCurrent(startDir);
    QCoreApplication::setApplicationName(appName);
    QCoreApplication::setOrganizationName(orgName);
    resetPathCaches();
}

void TestAppPaths::cleanupTestCase()
{
    qunsetenv("XDG_DATA_HOME");
}

// The platform folder is XDG_DATA_HOME/organisation/application; the user data
// folder is always named "Pelorin QVK".
void TestAppPaths::userDataFolder_data()
{
    QTest::addColumn<QString>("dataHome"); // relative to the temporary root
    QTest::addColumn<QString>("organization");
    QTest::addColumn<QString>("application");
    QTest::addColumn<QString>("expected"); // relative to the temporary root

    QTest::newRow("program name steps up")
        << QStringLiteral("data") << QStringLiteral("") << QStringLiteral("VazizidADU")
        << QStringLiteral("data/Pelorin QVK");
    QTest::newRow("product name kept")
        << QStringLiteral("data") << QStringLiteral("") << QStringLiteral("Pelorin QVK")
        << QStringLiteral("data/Pelorin QVK");
    QTest::newRow("another name gets the folder inside")
        << QStringLiteral("data") << QStringLiteral("") << QStringLiteral("qvkctl")
        << QStringLiteral("data/qvkctl/Pelorin QVK");
    QTest::newRow("program name compared by case")
        << QStringLiteral("data") << QStringLiteral("") << QStringLiteral("vazizidadu")
        << QStringLiteral("data/vazizidadu/Pelorin QVK");
    QTest::newRow("program name in the organisation")
        << QStringLiteral("data") << QStringLiteral("VazizidADU") << QStringLiteral("Tool")
        << QStringLiteral("data/VazizidADU/Pelorin QVK");
    QTest::newRow("program name in a parent folder")
        << QStringLiteral("VazizidADU-home/data") << QStringLiteral("") << QStringLiteral("Tool")
        << QStringLiteral("VazizidADU-home/data/Pelorin QVK");
    QTest::newRow("product name in a parent folder")
        << QStringLiteral("Pelorin QVK home") << QStringLiteral("") << QStringLiteral("Tool")
        << QStringLiteral("Pelorin QVK home/Tool");
}

void TestAppPaths::userDataFolder()
{
    QFETCH(QString, dataHome);
    QFETCH(QString, organization);
    QFETCH(QString, application);
    QFETCH(QString, expected);

    qputenv("XDG_DATA_HOME", QFile::encodeName(root->filePath(dataHome)));
    QCoreApplication::setOrganizationName(organization);
    QCoreApplication::setApplicationName(application);

    const QString folder = root->filePath(expected);
    QCOMPARE(dataDirPath(), folder);
    QVERIFY(QFileInfo(folder).isDir());
    QCOMPARE(iniFilePath(), folder + QStringLiteral("/VazizidADU.ini"));
    QCOMPARE(logFilePath(), folder + QStringLiteral("/VazizidADU.log"));

    // Fixed once found, whatever the application is called later.
    QCoreApplication::setApplicationName(QStringLiteral("Other"));
    QCOMPARE(dataDirPath(), folder);
}

// Without a user data folder the files lie in the application folder.
void TestAppPaths::uncreatableDataFolder()
{
    const QString blocker = root->filePath(QStringLiteral("blocker"));
    QVERIFY(TestSupport::writeFile(blocker, "not a folder"));
    qputenv("XDG_DATA_HOME", QFile::encodeName(blocker));

    QCOMPARE(dataDirPath(), QString());
    QCOMPARE(iniFilePath(), appFolder() + QStringLiteral("/VazizidADU.ini"));
    QCOMPARE(logFilePath(), appFolder() + QStringLiteral("/VazizidADU.log"));
    QCOMPARE(templatesDirPath(), appFolder() + QStringLiteral("/templates"));
}

void TestAppPaths::templatesFolder_data()
{
    QTest::addColumn<bool>("shipped");
    QTest::addColumn<bool>("usersOwn");
    QTest::addColumn<bool>("fromAppFolder");
    QTest::newRow("shipped wins") << true << true << true;
    QTest::newRow("shipped only") << true << false << true;
    QTest::newRow("user's own") << false << true << false;
    QTest::newRow("none at all") << false << false << false;
}

void TestAppPaths::templatesFolder()
{
    QFETCH(bool, shipped);
    QFETCH(bool, usersOwn);
    QFETCH(bool, fromAppFolder);

    QCoreApplication::setApplicationName(QStringLiteral("Pelorin QVK"));
    const QString user = dataDirPath() + QStringLiteral("/templates");
    const QString app = appFolder() + QStringLiteral("/templates");
    if (shipped)
        QVERIFY(QDir().mkpath(app));
    if (usersOwn)
        QVERIFY(QDir().mkpath(user));

    QCOMPARE(templatesDirPath(), fromAppFolder ? app : user);
    QCOMPARE(QFileInfo::exists(user), usersOwn); // never created
}

void TestAppPaths::toolFolders_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("present");
    QTest::newRow("utilities present") << QStringLiteral("utilities") << true;
    QTest::newRow("utilities missing") << QStringLiteral("utilities") << false;
    QTest::newRow("firmware present") << QStringLiteral("firmware") << true;
    QTest::newRow("firmware missing") << QStringLiteral("firmware") << false;
}

void TestAppPaths::toolFolders()
{
    QFETCH(QString, name);
    QFETCH(bool, present);
    if (present)
        QVERIFY(QDir(appFolder()).mkdir(name));

    const QString path =
        name == QLatin1String("utilities") ? utilitiesDirPath() : firmwareDirPath();
    QCOMPARE(path, present ? appFolder() + '/' + name : appFolder());
    QCOMPARE(QDir::currentPath(), appFolder());
}

// The command-line companion writes a log of its own, and the app's start-up
// clean-up then removes that one.
void TestAppPaths::logFileOfItsOwn()
{
    const QString own = root->filePath(QStringLiteral("run/qvkctl.log"));
    setLogFilePath(own);
    QCOMPARE(logFilePath(), own);
    QVERIFY(TestSupport::writeFile(own, "line\n"));
    removeLogFile();
    QVERIFY(!QFileInfo::exists(own));
    removeLogFile(); // a missing file is no error
}

QTEST_GUILESS_MAIN(TestAppPaths)
#include "tst_apppaths.moc"
