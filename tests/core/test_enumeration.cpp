// Camera enumeration on device trees presented through the V4L2 seam.
#include "cameraenumeration.h"

#include <QMap>

#include <gtest/gtest.h>

#include <cstring>

namespace {

struct FakeFormat {
    quint32 fourcc;
    QList<QSize> sizes;
};

struct FakeNode {
    quint32 capabilities = V4L2_CAP_VIDEO_CAPTURE;
    QByteArray card;
    QList<FakeFormat> formats;
    bool queryFails = false;
};

// A device tree: "/dev/videoN" -> node; a missing entry cannot be opened.
class FakeV4l2 : public V4l2Api
{
public:
    QMap<QString, FakeNode> nodes;
    QList<int> openFds;

    int open(const QString &path) override
    {
        if (!nodes.contains(path))
            return -1;
        const int fd = 100 + int(paths.size());
        paths.append(path);
        openFds.append(fd);
        return fd;
    }
    int queryCap(int fd, v4l2_capability *cap) override
    {
        const FakeNode &n = node(fd);
        if (n.queryFails)
            return -1;
        cap->capabilities = n.capabilities;
        memcpy(cap->card, n.card.constData(), size_t(qMin(n.card.size(), int(sizeof cap->card))));
        return 0;
    }
    int enumFormat(int fd, v4l2_fmtdesc *desc) override
    {
        const FakeNode &n = node(fd);
        if (desc->type != V4L2_BUF_TYPE_VIDEO_CAPTURE || desc->index >= quint32(n.formats.size()))
            return -1;
        desc->pixelformat = n.formats[int(desc->index)].fourcc;
        return 0;
    }
    int enumFrameSizes(int fd, v4l2_frmsizeenum *size) override
    {
        for (const FakeFormat &f : node(fd).formats) {
            if (f.fourcc != size->pixel_format)
                continue;
            if (size->index >= quint32(f.sizes.size()))
                return -1;
            size->type = V4L2_FRMSIZE_TYPE_DISCRETE;
            size->discrete.width = quint32(f.sizes[int(size->index)].width());
            size->discrete.height = quint32(f.sizes[int(size->index)].height());
            return 0;
        }
        return -1;
    }
    void close(int fd) override { openFds.removeOne(fd); }

private:
    const FakeNode &node(int fd) const { return nodes.find(paths[fd - 100]).value(); }
    QList<QString> paths;
};

const quint32 kMjpg = v4l2_fourcc('M', 'J', 'P', 'G');
const quint32 kYuyv = v4l2_fourcc('Y', 'U', 'Y', 'V');

FakeNode camera(const char *card, QList<FakeFormat> formats = {{kMjpg, {QSize(1920, 1080)}}})
{
    FakeNode node;
    node.card = card;
    node.formats = formats;
    return node;
}

QString video(int n)
{
    return QStringLiteral("/dev/video") + QString::number(n);
}

TEST(CameraEnumeration, MetadataNodeEndsTheWalk)
{
    FakeV4l2 api;
    api.nodes[video(0)] = camera("Document Camera");
    FakeNode metadata = camera("Document Camera");
    metadata.capabilities = V4L2_CAP_META_CAPTURE;
    api.nodes[video(1)] = metadata;
    api.nodes[video(2)] = camera("Side Camera");

    const QList<CameraInfo> cameras = enumerateCameras(api);
    ASSERT_EQ(cameras.size(), 1);
    EXPECT_EQ(cameras[0].index, 0);
    EXPECT_EQ(cameras[0].devicePath, QStringLiteral("/dev/video0"));
    EXPECT_EQ(cameras[0].name, QStringLiteral("Document Camera"));
    EXPECT_TRUE(cameras[0].formats.isEmpty());
    EXPECT_TRUE(api.openFds.isEmpty()) << "every opened node is closed again";
}

TEST(CameraEnumeration, SameCardNameIsListedOnce)
{
    FakeV4l2 api;
    api.nodes[video(0)] = camera("高拍仪 A4");
    api.nodes[video(1)] = camera("高拍仪 A4");
    api.nodes[video(2)] = camera("Side Camera");

    const QList<CameraInfo> cameras = enumerateCameras(api);
    ASSERT_EQ(cameras.size(), 2);
    EXPECT_EQ(cameras[0].index, 0);
    EXPECT_EQ(cameras[0].name, QStringLiteral("高拍仪 A4"));
    EXPECT_EQ(cameras[1].index, 2);
    EXPECT_EQ(cameras[1].devicePath, QStringLiteral("/dev/video2"));
}

TEST(CameraEnumeration, NarrowSizesDroppedAndSizesListedOnceInDriverOrder)
{
    FakeV4l2 api;
    api.nodes[video(0)] = camera("Document Camera",
                                 {{kMjpg, {QSize(640, 480), QSize(1280, 720)}},
                                  {kYuyv, {QSize(1280, 720), QSize(1920, 1080), QSize(1279, 2000)}}});
    const QList<CameraInfo> cameras = enumerateCameras(api);
    ASSERT_EQ(cameras.size(), 1);
    EXPECT_EQ(cameras[0].resolutions, (QList<QSize>{QSize(1280, 720), QSize(1920, 1080)}));
}

TEST(CameraEnumeration, WalkEndsAtMissingOrUnqueryableNode)
{
    struct Case {
        const char *what;
        std::function<void(FakeV4l2 &)> build;
        int expected;
    };
    const QList<Case> cases = {
        {"no devices", [](FakeV4l2 &) {}, 0},
        {"gap after video0", [](FakeV4l2 &a) {
             a.nodes[video(0)] = camera("A");
             a.nodes[video(2)] = camera("B");
         }, 1},
        {"query fails on video1", [](FakeV4l2 &a) {
             a.nodes[video(0)] = camera("A");
             FakeNode broken = camera("B");
             broken.queryFails = true;
             a.nodes[video(1)] = broken;
             a.nodes[video(2)] = camera("C");
         }, 1},
        {"three cameras", [](FakeV4l2 &a) {
             a.nodes[video(0)] = camera("A");
             a.nodes[video(1)] = camera("B");
             a.nodes[video(2)] = camera("C");
         }, 3},
    };
    for (const Case &c : cases) {
        FakeV4l2 api;
        c.build(api);
        EXPECT_EQ(enumerateCameras(api).size(), c.expected) << c.what;
        EXPECT_TRUE(api.openFds.isEmpty()) << c.what;
    }
}

TEST(CameraEnumeration, CardNameFillingTheWholeFieldIsReadWithoutOverrun)
{
    FakeV4l2 api;
    api.nodes[video(0)] = camera("ABCDEFGHIJKLMNOPQRSTUVWXYZ012345");   // 32 bytes, no NUL
    const QList<CameraInfo> cameras = enumerateCameras(api);
    ASSERT_EQ(cameras.size(), 1);
    EXPECT_EQ(cameras[0].name, QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZ012345"));
}

} // namespace
