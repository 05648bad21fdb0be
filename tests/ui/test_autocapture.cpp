// Automatic capture: the average hash and the watcher thread fed frame by frame.
#include "cache.h"
#include "config.h"
#include "fakeclock.h"
#include "iamgezhuapai.h"
#include "imageprocessing.h"
#include "testenv.h"

#include <QPainter>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

#include <atomic>
#include <functional>

namespace {

enum class Page { First, Second, FirstWithShadow };

// A camera-like frame: grey desk, a sheet with a block of text lines.
QImage pageFrame(Page page, QSize size = QSize(640, 480))
{
    QImage image(size, QImage::Format_RGB888);
    QPainter painter(&image);
    painter.fillRect(image.rect(), QColor(90, 86, 80));
    const QRect sheet(size.width() / 6, size.height() / 12, size.width() * 2 / 3, size.height() * 5 / 6);
    painter.fillRect(sheet, QColor(238, 236, 230));
    const bool top = page != Page::Second;
    const int firstLine = top ? sheet.top() + 20 : sheet.center().y();
    for (int y = firstLine; y < firstLine + sheet.height() / 2 - 30; y += 12)
        painter.fillRect(QRect(sheet.left() + 20, y, sheet.width() - 40, 7), QColor(30, 30, 30));
    if (page == Page::Second)
        painter.fillRect(QRect(sheet.left() + 30, sheet.top() + 30, sheet.width() / 2, sheet.height() / 3),
                         QColor(40, 60, 140));
    if (page == Page::FirstWithShadow)
        painter.fillRect(QRect(0, size.height() - 40, 50, 40), QColor(40, 38, 36));
    return image;
}

QImage greyOf(const QImage &colour)
{
    cv::Mat grey;
    cv::cvtColor(ImageProcessing::QImageToMat(colour), grey, cv::COLOR_BGR2GRAY);
    return ImageProcessing::MatQImage(grey);
}

int distance(const QImage &a, const QImage &b)
{
    IamgeZhuaPai watcher;
    watcher.referenceFrame = a;
    watcher.candidateFrame = b;
    return watcher.aHash();
}

// Feeds frames to the watcher from this (the owner's) thread, as the preview
// does, one every 30 ms of the test clock; the clock moves on only while the
// watcher sleeps.
class Feeder
{
public:
    Feeder(IamgeZhuaPai &watcher, FakeClock &clock) : watcher(watcher), clock(clock) {}
    void feed(const QImage &frame, int ms)
    {
        for (int fed = 0; fed < ms; fed += kFramePeriodMs) {
            ASSERT_TRUE(clock.waitForSleepers());
            watcher.readFarme(frame);
            clock.advance(kFramePeriodMs);
        }
    }

    bool feedUntil(const QImage &frame, const std::function<bool()> &done, int timeoutMs)
    {
        const qint64 start = clock.elapsedMs();
        while (!done()) {
            if (clock.elapsedMs() - start > timeoutMs)
                return false;
            feed(frame, kFramePeriodMs);
        }
        return true;
    }

private:
    static constexpr int kFramePeriodMs = 30;
    IamgeZhuaPai &watcher;
    FakeClock &clock;
};

class AutoCaptureTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        testenv::resetConfig(documents);
        connection = QObject::connect(&watcher, &IamgeZhuaPai::sendTakePhoto, &watcher, [this] {
            photos++;
            if (!firstPhotoAt)
                firstPhotoAt = clock.elapsedMs();
        }, Qt::DirectConnection);
    }
    void TearDown() override
    {
        watcher.end();
        Cache::config->autoCaptureOn = false;
    }

    QTemporaryDir documents;
    FakeClock clock;   // outlives the watcher
    IamgeZhuaPai watcher;
    QMetaObject::Connection connection;
    std::atomic<int> photos{0};
    std::atomic<qint64> firstPhotoAt{0};
};

} // namespace

TEST(AverageHash, DistanceBetweenScenes)
{
    const QImage first = pageFrame(Page::First);
    const QImage second = pageFrame(Page::Second);
    const QImage shadow = pageFrame(Page::FirstWithShadow);
    EXPECT_EQ(distance(first, first), 0);
    EXPECT_EQ(distance(first, first.copy()), 0);
    EXPECT_GT(distance(first, second), 7);
    EXPECT_LE(distance(first, shadow), 7);
    EXPECT_EQ(distance(first, second), distance(second, first));
    EXPECT_EQ(distance(QImage(), first), 0);
    EXPECT_EQ(distance(first, QImage()), 0);
}

TEST(AverageHash, OneChannelFramesAreHashedAsTheyAre)
{
    const QImage first = pageFrame(Page::First);
    const QImage second = pageFrame(Page::Second);
    const QImage greyFirst = greyOf(first);
    ASSERT_EQ(greyFirst.format(), QImage::Format_Indexed8);

    quint64 colourHash = 0;
    quint64 greyHash = 0;
    ASSERT_TRUE(IamgeZhuaPai::averageHash(first, colourHash));
    ASSERT_TRUE(IamgeZhuaPai::averageHash(greyFirst, greyHash));
    EXPECT_LE(__builtin_popcountll(colourHash ^ greyHash), 2);   // same scene, converted before or after resizing
    EXPECT_GT(distance(greyFirst, greyOf(second)), 7);
    EXPECT_EQ(distance(greyFirst, greyOf(first)), 0);
    // Qt's own grey format too.
    EXPECT_EQ(distance(greyFirst, first.convertToFormat(QImage::Format_Grayscale8)),
              distance(greyFirst, greyFirst));
    quint64 unused = 0;
    EXPECT_FALSE(IamgeZhuaPai::averageHash(QImage(), unused));
}

TEST(AverageHash, BitsFollowTheRowOrderAgainstTheMean)
{
    // Top half black, bottom half white: bits 32..63 set, 0..31 clear.
    QImage halves(8, 8, QImage::Format_RGB888);
    halves.fill(Qt::white);
    QPainter(&halves).fillRect(0, 0, 8, 4, Qt::black);
    quint64 hash = 0;
    ASSERT_TRUE(IamgeZhuaPai::averageHash(halves, hash));
    EXPECT_EQ(hash, quint64(0xFFFFFFFF00000000ull));
    // A uniform picture equals its mean everywhere: every bit set.
    QImage flat(16, 16, QImage::Format_RGB888);
    flat.fill(QColor(130, 130, 130));
    ASSERT_TRUE(IamgeZhuaPai::averageHash(flat, hash));
    EXPECT_EQ(hash, ~quint64(0));
}

TEST_F(AutoCaptureTest, StaticSceneAndShadowsNeverShootAPageTurnShootsOnce)
{
    Cache::config->autoCaptureOn = true;
    watcher.begin();
    Feeder feeder(watcher, clock);
    const QImage first = pageFrame(Page::First);
    ASSERT_TRUE(feeder.feedUntil(first, [this] { return watcher.zhuapaiState == IamgeZhuaPai::Compare; }, 5000));
    feeder.feed(first, 1600);   // compared several times with the reference by now
    EXPECT_EQ(photos, 0);
    feeder.feed(pageFrame(Page::FirstWithShadow), 1000);
    EXPECT_EQ(photos, 0);
    EXPECT_EQ(watcher.zhuapaiState, IamgeZhuaPai::Compare);

    const qint64 turnedAt = clock.elapsedMs();
    ASSERT_TRUE(feeder.feedUntil(pageFrame(Page::Second), [this] { return photos > 0; }, 6000));
    EXPECT_EQ(photos, 1);
    EXPECT_GE(firstPhotoAt - turnedAt, 1000);   // the change must settle for a second

    // The next reference is the new page: it stays quiet.
    feeder.feed(pageFrame(Page::Second), 1600);
    EXPECT_EQ(photos, 1);
}

TEST_F(AutoCaptureTest, TurnedOffStoresNoFramesAndNeverShoots)
{
    Cache::config->autoCaptureOn = false;
    watcher.begin();
    Feeder feeder(watcher, clock);
    feeder.feed(pageFrame(Page::First), 500);
    feeder.feed(pageFrame(Page::Second), 500);
    EXPECT_TRUE(watcher.currentFrame.isNull());
    EXPECT_EQ(photos, 0);
    EXPECT_EQ(watcher.zhuapaiState, IamgeZhuaPai::TakeReference);
}

TEST_F(AutoCaptureTest, EndStopsTheThreadWhileItSleeps)
{
    Cache::config->autoCaptureOn = true;   // no frame yet: the loop sleeps two seconds
    watcher.begin();
    ASSERT_TRUE(clock.waitForSleepers());
    clock.advance(300);
    ASSERT_TRUE(watcher.isRunning());
    watcher.end();
    EXPECT_TRUE(watcher.isFinished());
    watcher.readFarme(pageFrame(Page::First));
    EXPECT_TRUE(watcher.currentFrame.isNull());   // no longer accepting frames
}

TEST_F(AutoCaptureTest, ResumesWithTheOldReferenceAfterBeingTurnedOff)
{
    Cache::config->autoCaptureOn = true;
    watcher.begin();
    Feeder feeder(watcher, clock);
    ASSERT_TRUE(feeder.feedUntil(pageFrame(Page::First), [this] { return watcher.zhuapaiState == IamgeZhuaPai::Compare; }, 5000));
    Cache::config->autoCaptureOn = false;
    clock.advance(300);   // the pass under way ends
    const int stateWhenOff = watcher.zhuapaiState;
    EXPECT_EQ(stateWhenOff, 1);
    feeder.feed(pageFrame(Page::Second), 300);
    EXPECT_EQ(watcher.zhuapaiState, stateWhenOff);
    EXPECT_EQ(photos, 0);
}
