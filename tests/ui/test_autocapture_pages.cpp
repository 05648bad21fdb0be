// Automatic capture that knows pages (Config::knowPages): a page already
// taken in the run is not taken again, a hand over the sheet is waited out,
// and with the switch off the watcher shoots as it always did. The pieces
// first, on rendered scenes; then whole sessions on a scripted synthetic
// camera through the capture thread.
#include "autocapturesession.h"

#include "cache.h"
#include "config.h"
#include "docscene.h"
#include "documentdetection.h"
#include "handdetector.h"
#include "imageprocessing.h"
#include "pagehash.h"
#include "pagememory.h"
#include "pagesheet.h"
#include "pageturnguard.h"
#include "testenv.h"
#include "virtualcameras.h"
#include "virtualpagescript.h"

#include <QImageReader>
#include <QTemporaryDir>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <gtest/gtest.h>

namespace {

const cv::Size kSize(1280, 720);

docscene::Frame scene(int page)
{
    docscene::Options options;
    options.size = kSize;
    return docscene::render(options, page);
}

// As the watcher gets it: through the camera's JPEG, into a picture.
QImage asPreview(const cv::Mat &picture, bool grey = false)
{
    std::vector<uchar> bytes;
    cv::imencode(".jpg", picture, bytes, {cv::IMWRITE_JPEG_QUALITY, 80});
    cv::Mat decoded = cv::imdecode(bytes, grey ? cv::IMREAD_GRAYSCALE : cv::IMREAD_COLOR);
    return ImageProcessing::MatQImage(decoded);
}

QImage laidAgain(int page, int showing, bool grey = false)
{
    cv::Mat picture = scene(page).image;
    VirtualPageScript::layAgain(picture, showing);
    return asPreview(picture, grey);
}

QImage withHand(int page, double progress, bool grey = false)
{
    docscene::Frame frame = scene(page);
    docscene::paintHand(frame.image, frame.geometry, progress);
    return asPreview(frame.image, grey);
}

pagehash::Hash hashOf(const QImage &frame)
{
    return pagehash::of(PageSheet::of(frame));
}

} // namespace

TEST(PageRecognition, APageLaidAgainIsKnownOtherPagesAreNot)
{
    for (const bool grey : {false, true}) {
        SCOPED_TRACE(grey ? "grey preview" : "colour preview");
        PageMemory memory;
        for (int page = 1; page <= 3; ++page)
            memory.remember(hashOf(laidAgain(page, 0, grey)));
        for (int page = 1; page <= 3; ++page)
            for (int showing = 1; showing <= 3; ++showing)
                EXPECT_TRUE(memory.contains(hashOf(laidAgain(page, showing, grey)))) << page << "/" << showing;
        for (int page = 4; page <= 9; ++page)
            EXPECT_FALSE(memory.contains(hashOf(laidAgain(page, 0, grey)))) << page;
    }
}

TEST(PageRecognition, OnlyTheLastShotsAreRemembered)
{
    PageMemory memory(2);
    const pagehash::Hash first = hashOf(laidAgain(1, 0));
    memory.remember(first);
    memory.remember(hashOf(laidAgain(2, 0)));
    EXPECT_TRUE(memory.contains(first));
    memory.remember(hashOf(laidAgain(3, 0)));
    EXPECT_FALSE(memory.contains(first));
    EXPECT_EQ(memory.size(), 2);
    memory.clear();
    EXPECT_FALSE(memory.contains(hashOf(laidAgain(2, 0))));
}

TEST(PageRecognition, TheGuardAcceptsEachPageOncePerRun)
{
    PageTurnGuard guard;
    const auto accepts = [&](const QImage &frame) {
        guard.handInPicture(frame);
        return guard.acceptPage();
    };
    EXPECT_TRUE(accepts(laidAgain(1, 0)));
    EXPECT_TRUE(accepts(laidAgain(2, 0)));
    EXPECT_FALSE(accepts(laidAgain(1, 1)));
    EXPECT_FALSE(accepts(laidAgain(2, 2)));
    EXPECT_TRUE(accepts(laidAgain(3, 0)));
    guard.forget();
    EXPECT_TRUE(accepts(laidAgain(1, 1)));
    // A null frame gives nothing to judge by: the shot is not held back.
    EXPECT_TRUE(accepts(QImage()));
}

TEST(PageRecognition, AnotherPageIsAChangeTheSamePageMovedIsNot)
{
    PageTurnGuard guard;
    EXPECT_FALSE(guard.pageChanged());   // no reference yet
    guard.handInPicture(laidAgain(4, 0));
    guard.takeReference();
    guard.handInPicture(laidAgain(4, 2));
    EXPECT_FALSE(guard.pageChanged());
    for (int page = 5; page <= 8; ++page) {
        guard.handInPicture(laidAgain(page, 0));
        EXPECT_TRUE(guard.pageChanged()) << page;
    }
}

TEST(HandWatching, SkinOverTheSheetOrMovementOnItIsAHand)
{
    // A still page (seal included) is no hand, looked at once or again.
    HandDetector colour;
    const PageSheet still = PageSheet::of(laidAgain(1, 0));
    ASSERT_TRUE(still.found());
    EXPECT_FALSE(colour.look(still));
    EXPECT_FALSE(colour.look(PageSheet::of(laidAgain(1, 0))));
    // A resting hand is skin-coloured, even when it stopped moving.
    EXPECT_TRUE(colour.look(PageSheet::of(withHand(1, 0.5))));
    EXPECT_TRUE(colour.look(PageSheet::of(withHand(1, 0.5))));
    // The preview's outline around sheet and hand cuts across the arm: still a hand.
    for (int page = 1; page <= 12; ++page) {
        docscene::Frame frame = scene(page);
        docscene::paintHand(frame.image, frame.geometry, 0.5);
        const auto found = documentdetection::keepDocuments(documentdetection::candidates(frame.image));
        documentdetection::drawOutlines(frame.image, documentdetection::resultFor(found, 1), 1);
        HandDetector outlined;
        EXPECT_TRUE(outlined.look(PageSheet::of(asPreview(frame.image)))) << page;
    }
    // A skin-coloured picture lying on the sheet, clear of the edges, is part of the page.
    docscene::Frame portrait = scene(1);
    const cv::Point2f centre = portrait.geometry.sheets[0].rect.center;
    cv::rectangle(portrait.image, cv::Rect(int(centre.x) - 60, int(centre.y) - 80, 120, 160),
                  cv::Scalar(118, 158, 212), cv::FILLED);
    HandDetector onPortrait;
    onPortrait.look(PageSheet::of(asPreview(portrait.image)));
    EXPECT_FALSE(onPortrait.look(PageSheet::of(asPreview(portrait.image))));
    // Gone again: one look still sees it leave, the next sees a still page.
    colour.look(PageSheet::of(laidAgain(1, 0)));
    EXPECT_FALSE(colour.look(PageSheet::of(laidAgain(1, 0))));

    // Grey previews have no skin colour: a hand shows by moving over the sheet.
    HandDetector grey;
    EXPECT_FALSE(grey.look(PageSheet::of(laidAgain(2, 0, true))));
    EXPECT_TRUE(grey.look(PageSheet::of(withHand(2, 0.3, true))));
    EXPECT_TRUE(grey.look(PageSheet::of(withHand(2, 0.5, true))));
    EXPECT_FALSE(HandDetector::skinShare(PageSheet::of(withHand(2, 0.5, true)).small, cv::Rect(0, 0, 320, 180)) > 0);
}

TEST(ScriptedCamera, StepsParseAndBadScriptsAreRefused)
{
    VirtualPageScript script;
    ASSERT_TRUE(VirtualPageScript::parse(QStringLiteral("-/1/2h/1/ 2 "), script));
    ASSERT_EQ(script.size(), 5);
    EXPECT_TRUE(script.at(0).empty);
    EXPECT_EQ(script.at(1).page, 1);
    EXPECT_EQ(script.at(1).showing, 0);
    EXPECT_TRUE(script.at(2).hand);
    EXPECT_EQ(script.at(3).showing, 1);
    EXPECT_EQ(script.at(4).showing, 1);
    EXPECT_EQ(script.at(99).page, 2);   // the last step stays
    for (const char *bad : {"", "1//2", "x", "1/h", "-1", "+3", "10000", "2hh"})
        EXPECT_FALSE(VirtualPageScript::parse(QString::fromLatin1(bad), script)) << bad;
    EXPECT_TRUE(VirtualCameras::parse(QStringLiteral("synthetic:page=3,script=1/x")).isEmpty());
    EXPECT_EQ(VirtualCameras::parse(QStringLiteral("synthetic:page=3,script=-/1/2h,hand=1.2")).size(), 1);
}

namespace {

// "-": the watcher's first reference; then page 1 laid down with a hand
// sweeping over it for 2 s, page 2, and page 1 again.
const QString kSession = QStringLiteral("synthetic:sizes=640x480,fps=15,page=4,hand=2,script=-/1h/2/1");
const QList<int> kPages{1, 2};

class PageSession : public ::testing::Test
{
protected:
    void SetUp() override { testenv::resetConfig(documents); }
    void TearDown() override
    {
        Cache::config->knowPages = false;
        Cache::config->autoCaptureOn = false;
    }

    static QImage read(const QString &path) { return QImageReader(path).read(); }

    QTemporaryDir documents;
};

} // namespace

TEST_F(PageSession, KnowingPagesTakesEachNewPageOnceAndWaitsForTheHand)
{
    Cache::config->knowPages = true;
    const auto result = autocapturesession::run(kSession, 40000, [](const autocapturesession::Result &r) {
        return r.refused >= 1;
    });
    ASSERT_EQ(result.refused, 1) << "page 1 laid again was not refused";
    ASSERT_EQ(result.photos.size(), 2);
    const QImage first = read(result.photos[0]);
    const QImage second = read(result.photos[1]);
    ASSERT_FALSE(first.isNull());
    ASSERT_FALSE(second.isNull());
    EXPECT_EQ(autocapturesession::pageShown(first, kPages), 1);
    EXPECT_FALSE(autocapturesession::showsHand(first)) << "shot while the hand was over the page";
    EXPECT_EQ(autocapturesession::pageShown(second, kPages), 2);
    EXPECT_FALSE(autocapturesession::showsHand(second));
}

TEST_F(PageSession, SwitchedOffEveryChangeIsShotAsBefore)
{
    Cache::config->knowPages = false;
    // Until page 1, laid again, has been photographed again.
    int looked = 0;
    const auto result = autocapturesession::run(kSession, 40000, [&](const autocapturesession::Result &r) {
        if (r.photos.size() < 3 || r.photos.size() == looked)
            return false;
        looked = r.photos.size();
        return autocapturesession::pageShown(read(r.photos.last()), kPages) == 1;
    });
    EXPECT_EQ(result.refused, 0);
    ASSERT_GE(result.photos.size(), 3);
    // Page 1 laid again is taken again.
    EXPECT_EQ(autocapturesession::pageShown(read(result.photos.last()), kPages), 1);
}
