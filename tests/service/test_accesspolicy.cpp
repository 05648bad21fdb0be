// Who may reach the local servers and which files a page may name.
#include "accesspolicy.h"

#include "cache.h"
#include "config.h"
#include "testenv.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace {

class AccessPolicyTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        testenv::resetConfig(documents);
        Cache::config->allowedOrigins.clear();
        Cache::config->listenAll = false;
    }
    static void touch(const QString &path)
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("x");
    }
    QTemporaryDir documents;
    QTemporaryDir outside;
};

TEST_F(AccessPolicyTest, ListensOnLoopbackUnlessSwitchedToEveryInterface)
{
    AccessPolicy policy(*Cache::config);
    EXPECT_EQ(policy.listenAddresses(),
              (QList<QHostAddress>{QHostAddress(QHostAddress::LocalHost),
                                   QHostAddress(QHostAddress::LocalHostIPv6)}));
    Cache::config->listenAll = true;
    EXPECT_EQ(policy.listenAddresses(), QList<QHostAddress>{QHostAddress(QHostAddress::Any)});
}

TEST_F(AccessPolicyTest, HostMustNameThisMachine)
{
    for (const char *host : {"127.0.0.1", "127.0.0.1:3417", "localhost", "LOCALHOST:38088", "[::1]",
                             "[::1]:3417"})
        EXPECT_TRUE(AccessPolicy::hostAllowed(host)) << host;
    for (const char *host : {"", "evil.example", "evil.example:3417", "127.0.0.1.evil.example",
                             "localhost.evil.example", "[::2]", "[::1]x", "127.0.0.1:abc", "10.0.0.5"})
        EXPECT_FALSE(AccessPolicy::hostAllowed(host)) << host;
}

TEST_F(AccessPolicyTest, OriginsAreServedAskedOrRefused)
{
    using V = AccessPolicy::OriginVerdict;
    AccessPolicy policy(*Cache::config);
    EXPECT_EQ(policy.decideOrigin("", "/"), V::Serve);                     // native program
    EXPECT_EQ(policy.decideOrigin("https://bank.example", "/"), V::Ask);
    EXPECT_EQ(policy.decideOrigin("null", "/"), V::Refuse);
    EXPECT_EQ(policy.decideOrigin("file://", "/"), V::Refuse);
    // The demo page proves itself with this start's token, whatever its Origin says.
    const QByteArray withToken = "/?token=" + policy.demoToken().toLatin1();
    EXPECT_EQ(policy.decideOrigin("null", withToken), V::Serve);
    EXPECT_EQ(policy.decideOrigin("null", "/?token=0123"), V::Refuse);
    EXPECT_EQ(policy.demoToken().size(), 32);
    EXPECT_NE(AccessPolicy(*Cache::config).demoToken(), policy.demoToken());
    EXPECT_TRUE(policy.demoPageUrl(QStringLiteral("/opt/x/wsVideoDemo.html")).toString()
                    .endsWith(QStringLiteral("wsVideoDemo.html?token=") + policy.demoToken()));

    policy.allowOnce(QStringLiteral("https://bank.example"));
    EXPECT_EQ(policy.decideOrigin("HTTPS://Bank.Example", "/"), V::Serve);
    EXPECT_EQ(policy.decideOrigin("https://bank.example:8443", "/"), V::Ask);   // another origin
    policy.revoke(QStringLiteral("https://bank.example"));
    EXPECT_EQ(policy.decideOrigin("https://bank.example", "/"), V::Ask);
}

TEST_F(AccessPolicyTest, AlwaysAllowIsKeptInTheSettingsFileAndCanBeRevoked)
{
    AccessPolicy policy(*Cache::config);
    policy.allowAlways(QStringLiteral("http://his.example:8080"));
    policy.allowAlways(QStringLiteral("https://bank.example"));
    {
        QSettings file(Cache::config->fileName, QSettings::IniFormat);
        EXPECT_EQ(file.value("camera/allowedOrigins").toString(),
                  QStringLiteral("http://his.example:8080 https://bank.example"));
    }
    Config reloaded;
    EXPECT_EQ(reloaded.allowedOrigins,
              (QStringList{"http://his.example:8080", "https://bank.example"}));
    AccessPolicy next(reloaded);   // a later start
    EXPECT_EQ(next.decideOrigin("http://his.example:8080", "/"), AccessPolicy::OriginVerdict::Serve);

    policy.revoke(QStringLiteral("http://his.example:8080"));
    QSettings file(Cache::config->fileName, QSettings::IniFormat);
    EXPECT_EQ(file.value("camera/allowedOrigins").toString(), QStringLiteral("https://bank.example"));
}

TEST_F(AccessPolicyTest, PagesReadOnlyTheWorkingDirectoryAndWhatWasWrittenForThem)
{
    AccessPolicy policy(*Cache::config);
    const QString inside = documents.path() + QStringLiteral("/sub/a.jpg");
    QDir().mkpath(documents.path() + QStringLiteral("/sub"));
    touch(inside);
    const QString secret = outside.path() + QStringLiteral("/id_rsa");
    touch(secret);
    EXPECT_TRUE(policy.mayRead(inside));
    EXPECT_TRUE(policy.mayRead(documents.path() + QStringLiteral("/sub/../sub/a.jpg")));
    EXPECT_FALSE(policy.mayRead(secret));
    EXPECT_FALSE(policy.mayRead(documents.path() + QStringLiteral("/../") + QDir(outside.path()).dirName()
                                + QStringLiteral("/id_rsa")));
    EXPECT_FALSE(policy.mayRead(documents.path() + QStringLiteral("/missing.jpg")));
    EXPECT_FALSE(policy.mayRead(documents.path()));   // a directory
    EXPECT_FALSE(policy.mayRead(QString()));
    // A link inside the working directory is judged by where it leads.
    const QString link = documents.path() + QStringLiteral("/link.jpg");
    ASSERT_TRUE(QFile::link(secret, link));
    EXPECT_FALSE(policy.mayRead(link));
    // A directory next to the working one whose name merely starts the same.
    const QString sibling = documents.path() + QStringLiteral("-x");
    QDir().mkpath(sibling);
    touch(sibling + QStringLiteral("/b.jpg"));
    EXPECT_FALSE(policy.mayRead(sibling + QStringLiteral("/b.jpg")));
    QDir(sibling).removeRecursively();

    const QString written = outside.path() + QStringLiteral("/capture.jpg");
    touch(written);
    EXPECT_FALSE(policy.mayRead(written));
    policy.rememberWritten(written);
    EXPECT_TRUE(policy.mayRead(written));
}

TEST_F(AccessPolicyTest, PagesWriteOnlyImagesAndVideosToPlainFiles)
{
    const QString dir = outside.path();
    for (const char *name : {"a.jpg", "a.JPEG", "a.png", "a.bmp", "a.tif", "a.tiff"})
        EXPECT_TRUE(AccessPolicy::mayWriteImage(dir + QLatin1Char('/') + QLatin1String(name))) << name;
    for (const char *name : {"a.sh", "a", ".bashrc", "a.jpg.desktop", "a.avi", "a.jpg/"})
        EXPECT_FALSE(AccessPolicy::mayWriteImage(dir + QLatin1Char('/') + QLatin1String(name))) << name;
    for (const char *name : {"v.avi", "v.mp4", "v.MKV", "v.mov"})
        EXPECT_TRUE(AccessPolicy::mayWriteVideo(dir + QLatin1Char('/') + QLatin1String(name))) << name;
    for (const char *name : {"v.jpg", "v.txt", "v"})
        EXPECT_FALSE(AccessPolicy::mayWriteVideo(dir + QLatin1Char('/') + QLatin1String(name))) << name;

    const QString existing = dir + QStringLiteral("/old.jpg");
    touch(existing);
    EXPECT_TRUE(AccessPolicy::mayWriteImage(existing));   // a regular file may be replaced
    const QString link = dir + QStringLiteral("/link.jpg");
    ASSERT_TRUE(QFile::link(existing, link));
    EXPECT_FALSE(AccessPolicy::mayWriteImage(link));
    const QString dangling = dir + QStringLiteral("/dangling.png");
    ASSERT_TRUE(QFile::link(dir + QStringLiteral("/nowhere"), dangling));
    EXPECT_FALSE(AccessPolicy::mayWriteImage(dangling));
    QDir().mkpath(dir + QStringLiteral("/folder.jpg"));
    EXPECT_FALSE(AccessPolicy::mayWriteImage(dir + QStringLiteral("/folder.jpg")));
    const QString fifo = dir + QStringLiteral("/pipe.avi");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    EXPECT_FALSE(AccessPolicy::mayWriteVideo(fifo));
    EXPECT_FALSE(AccessPolicy::mayWriteImage(QString()));
}

TEST_F(AccessPolicyTest, NamesWithNulOrControlCharactersAreNeitherReadNorWritten)
{
    // The file calls end a name at its NUL, so the name checked would not be
    // the file used; control characters belong in no name a page gives.
    AccessPolicy policy(*Cache::config);
    const QString victim = documents.path() + QStringLiteral("/victim.txt");
    touch(victim);
    EXPECT_FALSE(AccessPolicy::mayWriteImage(victim + QChar(0) + QStringLiteral(".jpg")));
    EXPECT_FALSE(AccessPolicy::mayWriteVideo(victim + QChar(0) + QStringLiteral(".avi")));
    EXPECT_FALSE(AccessPolicy::mayWriteImage(documents.path() + QStringLiteral("/new") + QChar(0)
                                             + QStringLiteral(".png")));
    for (const char16_t control : {u'\n', u'\r', u'\t', u'\x1b', u'\x7f'}) {
        const QString name = documents.path() + QStringLiteral("/a") + QChar(control) + QStringLiteral("b");
        EXPECT_FALSE(AccessPolicy::mayWriteImage(name + QStringLiteral(".jpg"))) << int(control);
        EXPECT_FALSE(AccessPolicy::mayWriteVideo(name + QStringLiteral(".mp4"))) << int(control);
        touch(name + QStringLiteral(".jpg"));
        EXPECT_FALSE(policy.mayRead(name + QStringLiteral(".jpg"))) << int(control);
    }
    const QString inside = documents.path() + QStringLiteral("/a.jpg");
    touch(inside);
    EXPECT_FALSE(policy.mayRead(inside + QChar(0)));
    EXPECT_FALSE(policy.mayRead(inside + QChar(0) + QStringLiteral("/../a.jpg")));
    EXPECT_TRUE(policy.mayRead(inside));
    EXPECT_TRUE(AccessPolicy::mayWriteImage(documents.path() + QStringLiteral("/名字 with spaces.jpg")));
}

TEST_F(AccessPolicyTest, CrossSiteRequestsOfTheEndpoint)
{
    AccessPolicy policy(*Cache::config);
    const QByteArray plain = "GET /?param=get HTTP/1.1\r\nHost: 127.0.0.1:38088\r\n";
    EXPECT_FALSE(policy.crossSiteRequest(plain, "/?param=get"));
    EXPECT_TRUE(policy.crossSiteRequest(plain + "Origin: https://evil.example\r\n", "/?param=get"));
    EXPECT_TRUE(policy.crossSiteRequest(plain + "sec-fetch-site: cross-site\r\n", "/?param=get"));
    EXPECT_FALSE(policy.crossSiteRequest(plain + "Sec-Fetch-Site: same-origin\r\n", "/?param=get"));
    policy.allowAlways(QStringLiteral("https://bank.example"));
    EXPECT_FALSE(policy.crossSiteRequest(
        plain + "Origin: https://bank.example\r\nSec-Fetch-Site: cross-site\r\n", "/?param=get"));

    bool found = true;
    EXPECT_EQ(AccessPolicy::headerValue(plain, "host", &found), QByteArray("127.0.0.1:38088"));
    EXPECT_TRUE(found);
    EXPECT_EQ(AccessPolicy::headerValue(plain, "Origin", &found), QByteArray());
    EXPECT_FALSE(found);
}

} // namespace
