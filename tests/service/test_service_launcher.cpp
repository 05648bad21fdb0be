// The page that opens the demo page with its token: written privately,
// never through a symlink, and forwarding its own query.
#include "demolauncher.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrlQuery>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace {

mode_t modeOf(const QString &path)
{
    struct stat info {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return 0;
    return info.st_mode;
}

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Sets an environment variable for one scope.
class ScopedEnv
{
public:
    ScopedEnv(const char *name, const QByteArray &value)
        : name(name), wasSet(qEnvironmentVariableIsSet(name)), old(qgetenv(name))
    {
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value);
    }
    ~ScopedEnv()
    {
        if (wasSet)
            qputenv(name, old);
        else
            qunsetenv(name);
    }

private:
    const char *name;
    bool wasSet;
    QByteArray old;
};

class DemoLauncherTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(pages.isValid());
        ASSERT_TRUE(dir.isValid());
        target = QUrl::fromLocalFile(pages.path() + QStringLiteral("/wsVideoDemo.html"));
        target.setQuery(QStringLiteral("token=0123456789abcdef0123456789abcdef"));
    }
    QString launcherPath() const { return dir.path() + QLatin1Char('/') + DemoLauncher::fileName(); }

    // Runs the launcher's script in node as if opened with `search` and
    // `hash`; returns the address it replaces itself with.
    static QString redirectOf(const QString &launcher, const QString &search,
                              const QString &hash = QString())
    {
        QString node = qEnvironmentVariable("DOCSTATION_NODE");
        if (node.isEmpty())
            node = QStandardPaths::findExecutable(QStringLiteral("node"));
        if (node.isEmpty())
            return QStringLiteral("<no node>");
        const QString script = QStringLiteral(
            "const html = require('fs').readFileSync(process.argv[1], 'utf8');"
            "const code = /<script>([\\s\\S]*?)<\\/script>/.exec(html)[1];"
            "let replaced = null;"
            "const location = { search: process.argv[2], hash: process.argv[3],"
            "  replace(address) { replaced = address; } };"
            "require('vm').runInNewContext(code, { location });"
            "process.stdout.write(String(replaced));");
        QProcess process;
        process.start(node, {QStringLiteral("-e"), script, launcher, search, hash});
        if (!process.waitForFinished(20000) || process.exitCode() != 0)
            return QStringLiteral("<failed> ") + QString::fromUtf8(process.readAllStandardError());
        return QString::fromUtf8(process.readAllStandardOutput());
    }

    QTemporaryDir pages;
    QTemporaryDir dir;
    QUrl target;
};

TEST_F(DemoLauncherTest, WrittenOwnerOnlyWhateverTheUmaskAndRemovedWithIt)
{
    const mode_t oldMask = ::umask(0);
    auto launcher = std::make_unique<DemoLauncher>(target, dir.path());
    ::umask(oldMask);

    ASSERT_TRUE(launcher->isWritten());
    EXPECT_EQ(launcher->filePath(), launcherPath());
    const mode_t mode = modeOf(launcherPath());
    EXPECT_TRUE(S_ISREG(mode));
    EXPECT_EQ(mode & 07777, 0600u);
    EXPECT_EQ(launcher->url(), QUrl::fromLocalFile(launcherPath()));
    EXPECT_FALSE(launcher->url().hasQuery());
    EXPECT_TRUE(contents(launcherPath()).contains(target.toEncoded()));
    // Nothing but the launcher is left in the directory.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
              QStringList{DemoLauncher::fileName()});

    launcher.reset();
    EXPECT_FALSE(QFileInfo::exists(launcherPath()));
}

TEST_F(DemoLauncherTest, NeverWritesThroughASymlinkAtItsName)
{
    const QString victim = pages.path() + QStringLiteral("/victim.txt");
    {
        QFile file(victim);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("keep me");
    }
    ASSERT_TRUE(QFile::link(victim, launcherPath()));
    {
        DemoLauncher launcher(target, dir.path());
        ASSERT_TRUE(launcher.isWritten());
        EXPECT_EQ(contents(victim), QByteArray("keep me"));
        const mode_t mode = modeOf(launcherPath());
        EXPECT_TRUE(S_ISREG(mode)) << "the symlink is replaced, not followed";
        EXPECT_EQ(mode & 07777, 0600u);
        EXPECT_TRUE(contents(launcherPath()).contains(target.toEncoded()));
    }
    EXPECT_EQ(contents(victim), QByteArray("keep me"));

    // A dangling link: nothing appears where it points.
    const QString nowhere = pages.path() + QStringLiteral("/created-through-link.html");
    ASSERT_TRUE(QFile::link(nowhere, launcherPath()));
    DemoLauncher launcher(target, dir.path());
    EXPECT_TRUE(launcher.isWritten());
    EXPECT_FALSE(QFileInfo::exists(nowhere));
}

TEST_F(DemoLauncherTest, OpensTheTokenedAddressWhenItCannotBeWritten)
{
    // The directory is a file.
    const QString notADirectory = dir.path() + QStringLiteral("/plain");
    {
        QFile file(notADirectory);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    DemoLauncher inFile(target, notADirectory);
    EXPECT_FALSE(inFile.isWritten());
    EXPECT_TRUE(inFile.filePath().isEmpty());
    EXPECT_EQ(inFile.url(), target);

    // A directory stands at the launcher's name: it is kept, and no
    // temporary file is left beside it.
    ASSERT_TRUE(QDir().mkdir(launcherPath()));
    {
        DemoLauncher blocked(target, dir.path());
        EXPECT_FALSE(blocked.isWritten());
        EXPECT_EQ(blocked.url(), target);
    }
    EXPECT_TRUE(QFileInfo(launcherPath()).isDir());
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).size(), 2);
}

TEST_F(DemoLauncherTest, UsesTheRuntimeDirectoryOnlyWhenItIsPrivate)
{
    ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0700), 0);
    {
        ScopedEnv runtime("XDG_RUNTIME_DIR", QFile::encodeName(dir.path()));
        DemoLauncher launcher(target);
        EXPECT_EQ(launcher.filePath(), launcherPath());
    }

    // Open to others, or not set: a new private directory in the temporary directory.
    ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
    for (const QByteArray &value : {QFile::encodeName(dir.path()), QByteArray()}) {
        ScopedEnv runtime("XDG_RUNTIME_DIR", value);
        QString privateDir;
        {
            DemoLauncher launcher(target);
            ASSERT_TRUE(launcher.isWritten());
            privateDir = QFileInfo(launcher.filePath()).path();
            EXPECT_NE(privateDir, dir.path());
            EXPECT_TRUE(privateDir.startsWith(QDir::tempPath() + QLatin1Char('/')));
            const mode_t mode = modeOf(privateDir);
            EXPECT_TRUE(S_ISDIR(mode));
            EXPECT_EQ(mode & 07777, 0700u);
            EXPECT_EQ(modeOf(launcher.filePath()) & 07777, 0600u);
        }
        EXPECT_FALSE(QFileInfo::exists(privateDir));
    }
}

TEST_F(DemoLauncherTest, ForwardsItsOwnQueryToTheTokenedPage)
{
    DemoLauncher launcher(target, dir.path());
    ASSERT_TRUE(launcher.isWritten());
    const QString tokened = QString::fromLatin1(target.toEncoded());
    EXPECT_EQ(redirectOf(launcherPath(), QString()), tokened);
    EXPECT_EQ(redirectOf(launcherPath(), QStringLiteral("?port=1234")),
              tokened + QStringLiteral("&port=1234"));
    EXPECT_EQ(redirectOf(launcherPath(), QStringLiteral("?port=1234&x=%20"), QStringLiteral("#top")),
              tokened + QStringLiteral("&port=1234&x=%20#top"));

    // Without a query of its own the target gains one.
    const QUrl bare = QUrl::fromLocalFile(pages.path() + QStringLiteral("/page.html"));
    DemoLauncher bareLauncher(bare, pages.path());
    EXPECT_EQ(redirectOf(bareLauncher.filePath(), QStringLiteral("?port=1")),
              QString::fromLatin1(bare.toEncoded()) + QStringLiteral("?port=1"));
}

TEST_F(DemoLauncherTest, OddDirectoryNamesCannotBreakOutOfThePage)
{
    const QString odd = pages.path() + QStringLiteral("/a \"b' </script><b>&amp; 演示");
    ASSERT_TRUE(QDir().mkpath(odd));
    QUrl oddTarget = QUrl::fromLocalFile(odd + QStringLiteral("/wsVideoDemo.html"));
    oddTarget.setQuery(QStringLiteral("token=feedface"));
    DemoLauncher launcher(oddTarget, dir.path());
    ASSERT_TRUE(launcher.isWritten());
    const QByteArray page = contents(launcherPath());
    EXPECT_EQ(page.count("</script>"), 1);
    EXPECT_EQ(page.count("<b>"), 0);
    EXPECT_EQ(QUrl::fromEncoded(redirectOf(launcherPath(), QString()).toUtf8()), oddTarget);

    // The refresh used without scripts names the same address.
    const QRegularExpression refresh(QStringLiteral("content=\"0; url=([^\"]*)\""));
    const QRegularExpressionMatch match = refresh.match(QString::fromUtf8(page));
    ASSERT_TRUE(match.hasMatch());
    QString address = match.captured(1);
    address.replace(QStringLiteral("&amp;"), QStringLiteral("&"));
    EXPECT_EQ(QUrl::fromEncoded(address.toUtf8()), oddTarget);
}

} // namespace
