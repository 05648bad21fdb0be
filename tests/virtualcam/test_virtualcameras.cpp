// The variable's grammar: which entries become cameras, with which numbers,
// names, paths and resolutions, and which are refused.
#include "mediafiles.h"
#include "virtualcameras.h"
#include "virtualsource.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

QList<QSize> sizes(std::initializer_list<QSize> list)
{
    return QList<QSize>(list);
}

TEST(VirtualCameraEntries, SyntheticGetsNumberNameAndDefaultResolutions)
{
    const QList<CameraInfo> cameras = VirtualCameras::parse(QStringLiteral("synthetic"));
    ASSERT_EQ(cameras.size(), 1);
    EXPECT_EQ(cameras[0].index, 1000);
    EXPECT_EQ(cameras[0].devicePath, QStringLiteral("synthetic"));
    EXPECT_EQ(cameras[0].name, QStringLiteral("Virtual camera 1 (synthetic)"));
    EXPECT_TRUE(cameras[0].formats.isEmpty());
    const QList<QSize> &offered = cameras[0].resolutions;
    ASSERT_GE(offered.size(), 3);
    EXPECT_EQ(offered.first(), QSize(1920, 1080));
    EXPECT_TRUE(offered.contains(QSize(3264, 2448)));
    for (const QSize &size : offered)
        EXPECT_GE(size.width(), 1280) << size.width() << "x" << size.height();
}

TEST(VirtualCameraEntries, SeveralEntriesNumberedInOrderWithTheirOwnSizes)
{
    const QList<CameraInfo> cameras = VirtualCameras::parse(
        QStringLiteral(" synthetic:sizes=1280x720/1920x1080 ; ;synthetic:size=1600x900,sheets=2;"));
    ASSERT_EQ(cameras.size(), 2);
    EXPECT_EQ(cameras[0].index, 1000);
    EXPECT_EQ(cameras[1].index, 1001);
    EXPECT_EQ(cameras[0].resolutions, sizes({QSize(1280, 720), QSize(1920, 1080)}));
    // An unlisted opening size is offered first.
    EXPECT_EQ(cameras[1].resolutions.first(), QSize(1600, 900));
    EXPECT_EQ(cameras[1].devicePath, QStringLiteral("synthetic:size=1600x900,sheets=2"));
    EXPECT_EQ(cameras[1].name, QStringLiteral("Virtual camera 2 (synthetic)"));
    EXPECT_TRUE(VirtualCameras::isVirtual(cameras[1].index));
    EXPECT_FALSE(VirtualCameras::isVirtual(0));
    EXPECT_FALSE(VirtualCameras::isVirtual(999));
}

TEST(VirtualCameraEntries, BadEntriesAreSkippedAndTakeNoNumber)
{
    const QList<CameraInfo> cameras = VirtualCameras::parse(QStringLiteral(
        "bogus:1;synthetic:sheets=9;synthetic:frobnicate=1;synthetic:fps=abc;synthetic:sheets;"
        "video:/no/such/clip.avi;image:/no/such/page.png;images:/no/such/dir;video:;"
        "synthetic:name=Desk camera,sheets=3"));
    ASSERT_EQ(cameras.size(), 1);
    EXPECT_EQ(cameras[0].index, 1000);
    EXPECT_EQ(cameras[0].name, QStringLiteral("Desk camera"));
}

TEST(VirtualCameraEntries, EntryGrammar)
{
    struct Case {
        const char *text;
        bool ok;
        VirtualCameras::Kind kind;
        const char *options;   // "k=v" pairs joined by ','
    };
    const Case cases[] = {
        {"synthetic", true, VirtualCameras::Kind::Synthetic, ""},
        {"SYNTHETIC:Sheets=2, seal=0", true, VirtualCameras::Kind::Synthetic, "seal=0,sheets=2"},
        {"synthetic:qr=a=b", true, VirtualCameras::Kind::Synthetic, "qr=a=b"},
        {"images:/tmp/p/page?.png", true, VirtualCameras::Kind::Images, ""},
        {"images:/tmp/p/page?.png?hold=2,fps=10", true, VirtualCameras::Kind::Images, "fps=10,hold=2"},
        {"video:/tmp/clip.avi", true, VirtualCameras::Kind::Video, ""},
        {"image:/tmp/a.png?name=Still", true, VirtualCameras::Kind::Image, "name=Still"},
        {"webcam:0", false, VirtualCameras::Kind::Synthetic, ""},
        {"video", false, VirtualCameras::Kind::Synthetic, ""},
        {"synthetic:=3", false, VirtualCameras::Kind::Synthetic, ""},
        {"synthetic:sheets", false, VirtualCameras::Kind::Synthetic, ""},
    };
    for (const Case &c : cases) {
        VirtualCameras::Entry entry;
        QString error;
        const bool ok = VirtualCameras::parseEntry(QString::fromUtf8(c.text), entry, &error);
        ASSERT_EQ(ok, c.ok) << c.text << " " << error.toStdString();
        if (!ok) {
            EXPECT_FALSE(error.isEmpty()) << c.text;
            continue;
        }
        EXPECT_EQ(entry.kind, c.kind) << c.text;
        QStringList pairs;
        for (auto it = entry.options.cbegin(); it != entry.options.cend(); ++it)
            pairs << it.key() + QLatin1Char('=') + it.value();
        EXPECT_EQ(pairs.join(QLatin1Char(',')).toStdString(), c.options) << c.text;
    }
    VirtualCameras::Entry entry;
    ASSERT_TRUE(VirtualCameras::parseEntry(QStringLiteral("images:/tmp/p/page?.png?hold=2"), entry));
    EXPECT_EQ(entry.location, QStringLiteral("/tmp/p/page?.png"));
}

TEST(VirtualCameraEntries, FilesReportTheirOwnSize)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString clip = dir.filePath(QStringLiteral("clip.avi"));
    ASSERT_TRUE(mediafiles::writeVideo(clip, 4, 25, cv::Size(320, 240)));
    ASSERT_TRUE(mediafiles::writeImage(dir.filePath(QStringLiteral("page1.png")), 100, cv::Size(200, 150)));
    ASSERT_TRUE(mediafiles::writeImage(dir.filePath(QStringLiteral("page2.png")), 150, cv::Size(640, 480)));

    const QList<CameraInfo> cameras = VirtualCameras::parse(
        QStringLiteral("video:%1;image:%2?fps=5;images:%3?hold=1;images:%4")
            .arg(clip, dir.filePath(QStringLiteral("page2.png")), dir.filePath(QStringLiteral("page?.png")),
                 dir.path()));
    ASSERT_EQ(cameras.size(), 4);
    EXPECT_EQ(cameras[0].resolutions, sizes({QSize(320, 240)}));
    EXPECT_EQ(cameras[0].devicePath, QStringLiteral("video:") + clip);
    EXPECT_EQ(cameras[0].name, QStringLiteral("Virtual camera 1 (video clip.avi)"));
    EXPECT_EQ(cameras[1].resolutions, sizes({QSize(640, 480)}));
    EXPECT_EQ(cameras[1].devicePath, QStringLiteral("image:%1?fps=5").arg(dir.filePath(QStringLiteral("page2.png"))));
    // A sequence is as large as its first image, in name order.
    EXPECT_EQ(cameras[2].resolutions, sizes({QSize(200, 150)}));
    EXPECT_EQ(cameras[3].resolutions, sizes({QSize(200, 150)}));
    for (const CameraInfo &camera : cameras)
        EXPECT_NE(VirtualCameras::createSource(camera.index), nullptr) << camera.devicePath.toStdString();
}

TEST(VirtualCameraEntries, SourcesOnlyForNumbersOfTheLastParse)
{
    VirtualCameras::parse(QStringLiteral("synthetic;synthetic"));
    EXPECT_NE(VirtualCameras::createSource(1001), nullptr);
    VirtualCameras::parse(QStringLiteral("synthetic"));
    EXPECT_NE(VirtualCameras::createSource(1000), nullptr);
    EXPECT_EQ(VirtualCameras::createSource(1001), nullptr);
    EXPECT_EQ(VirtualCameras::createSource(0), nullptr);
}

TEST(VirtualCameraEntries, TheEnvironmentVariableNamesTheCameras)
{
    qputenv(VirtualCameras::environmentVariable, "synthetic:fps=10;synthetic");
    EXPECT_EQ(VirtualCameras::fromEnvironment().size(), 2);
    qunsetenv(VirtualCameras::environmentVariable);
    EXPECT_TRUE(VirtualCameras::fromEnvironment().isEmpty());
}

} // namespace
