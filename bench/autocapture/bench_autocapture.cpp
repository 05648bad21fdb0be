// Automatic capture that knows pages, measured on the synthetic scene.
//  1. Page hashes: distances between different pages and between a page and
//     itself laid again (moved, turned, through JPEG, in grey), which is what
//     PageMemory's bit limit is chosen on; skin and motion on pages without a
//     hand, and skin with one, which HandDetector's shares are chosen on.
//  2. A scripted session on a synthetic camera through the capture thread:
//     20 pages, 5 of them laid again, a hand sweeping in 5 turns; pages taken,
//     repeats refused, shots with a hand, with the checks on and (as the
//     floor) off.
//  3. CPU of the checks per watcher pass against the average hash the pass
//     computes anyway and against the capture thread's live processing of
//     one frame.

#include "autocapturesession.h"

#include "cache.h"
#include "config.h"
#include "docscene.h"
#include "documentdetection.h"
#include "handdetector.h"
#include "iamgezhuapai.h"
#include "imageprocessing.h"
#include "pagehash.h"
#include "pagememory.h"
#include "pagesheet.h"
#include "pageturnguard.h"
#include "virtualpagescript.h"
#include "../support/benchstation.h"

#include <QGuiApplication>
#include <QImageReader>
#include <QSet>
#include <QTemporaryDir>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <time.h>
#include <vector>

namespace {

const cv::Size kSize(1280, 720);

double threadCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

double cpuMsPerRun(int runs, const std::function<void()> &work)
{
    work();
    const double start = threadCpuMs();
    for (int i = 0; i < runs; ++i)
        work();
    return (threadCpuMs() - start) / runs;
}

// What the watcher sees: the camera's JPEG, decoded, with the preview's outline.
cv::Mat preview(const cv::Mat &scene, int quality = 85)
{
    std::vector<uchar> bytes;
    cv::imencode(".jpg", scene, bytes, {cv::IMWRITE_JPEG_QUALITY, quality});
    cv::Mat frame = cv::imdecode(bytes, cv::IMREAD_COLOR);
    const auto found = documentdetection::keepDocuments(documentdetection::candidates(frame));
    documentdetection::drawOutlines(frame, documentdetection::resultFor(found, 1), 1);
    return frame;
}

cv::Mat grey(const cv::Mat &bgr)
{
    cv::Mat out;
    cv::cvtColor(bgr, out, cv::COLOR_BGR2GRAY);
    return out;
}

pagehash::Hash hashOf(const cv::Mat &frame)
{
    return pagehash::of(PageSheet::of(ImageProcessing::MatQImage(frame)));
}

cv::Mat page(int number)
{
    docscene::Options scene;
    scene.size = kSize;
    return docscene::render(scene, number).image;
}

void measureHashes(int pages)
{
    std::vector<pagehash::Hash> colour, greyed;
    int sameWorst = 0;
    int sameGreyWorst = 0;
    for (int p = 1; p <= pages; ++p) {
        const cv::Mat scene = page(p);
        colour.push_back(hashOf(preview(scene)));
        greyed.push_back(hashOf(grey(preview(scene))));
        for (int showing = 1; showing <= 3; ++showing) {
            cv::Mat again = scene.clone();
            VirtualPageScript::layAgain(again, showing);
            sameWorst = std::max(sameWorst, pagehash::distance(colour.back(), hashOf(preview(again, 70))));
            sameGreyWorst = std::max(sameGreyWorst,
                                     pagehash::distance(greyed.back(), hashOf(grey(preview(again, 70)))));
        }
    }
    int differentBest = pagehash::kBits, differentGreyBest = pagehash::kBits;
    std::vector<int> histogram(pagehash::kBits + 1, 0);
    for (size_t a = 0; a < colour.size(); ++a)
        for (size_t b = a + 1; b < colour.size(); ++b) {
            const int d = pagehash::distance(colour[a], colour[b]);
            ++histogram[size_t(d)];
            differentBest = std::min(differentBest, d);
            differentGreyBest = std::min(differentGreyBest, pagehash::distance(greyed[a], greyed[b]));
        }
    std::printf("page hash, %d pages at %dx%d:\n", pages, kSize.width, kSize.height);
    std::printf("  same page laid again (moved, turned, JPEG 70): worst %d bits colour, %d grey\n", sameWorst,
                sameGreyWorst);
    std::printf("  different pages: nearest %d bits colour, %d grey; pairs within 60 bits:", differentBest,
                differentGreyBest);
    for (int d = 0; d <= 60; ++d)
        if (histogram[size_t(d)])
            std::printf(" %d:%d", d, histogram[size_t(d)]);
    std::printf("\n  limit in use: same page within %d bits, last %d shots remembered\n",
                PageMemory::kSamePageBits, PageMemory::kRemembered);
    // The watcher's own trigger, an 8 x 8 average hash over the whole frame
    // (above 7 bits is a change), on the same turns.
    int seenByScene = 0, seenByPage = 0;
    for (int p = 1; p < pages; ++p) {
        const QImage before = ImageProcessing::MatQImage(preview(page(p)));
        const QImage after = ImageProcessing::MatQImage(preview(page(p + 1)));
        quint64 a = 0, b = 0;
        IamgeZhuaPai::averageHash(before, a);
        IamgeZhuaPai::averageHash(after, b);
        seenByScene += __builtin_popcountll(a ^ b) > 7;
        seenByPage += pagehash::distance(hashOf(preview(page(p))), hashOf(preview(page(p + 1))))
                      > PageMemory::kSamePageBits;
    }
    std::printf("  turns from one page to the next seen as a change: %d of %d by the scene hash, %d by the "
                "page hash\n", seenByScene, pages - 1, seenByPage);
}

void measureHands(int pages)
{
    double skinWithout = 0, motionStill = 0, skinWith = 1, motionWith = 1;
    for (int p = 1; p <= pages; ++p) {
        docscene::Options scene;
        scene.size = kSize;
        const docscene::Frame frame = docscene::render(scene, p);
        const PageSheet clean = PageSheet::of(ImageProcessing::MatQImage(preview(frame.image)));
        skinWithout = std::max(skinWithout, HandDetector::skinShare(clean.small, clean.area(0.05)));
        const PageSheet noisy = PageSheet::of(ImageProcessing::MatQImage(preview(frame.image, 60)));
        cv::Mat a, b;
        cv::GaussianBlur(grey(clean.small), a, cv::Size(5, 5), 0);
        cv::GaussianBlur(grey(noisy.small), b, cv::Size(5, 5), 0);
        motionStill = std::max(motionStill, HandDetector::motionShare(a, b, clean.area(0.05)));
        for (double progress : {0.2, 0.5, 0.8}) {
            cv::Mat withHand = frame.image.clone();
            docscene::paintHand(withHand, frame.geometry, progress);
            const PageSheet handed = PageSheet::of(ImageProcessing::MatQImage(preview(withHand)));
            const double skin = HandDetector::skinShare(handed.small, handed.area(0.05));
            cv::Mat c;
            cv::GaussianBlur(grey(handed.small), c, cv::Size(5, 5), 0);
            if (progress == 0.5) {
                skinWith = std::min(skinWith, skin);
                motionWith = std::min(motionWith, HandDetector::motionShare(a, c, clean.area(0.05)));
            }
        }
    }
    std::printf("hand, %d pages:\n", pages);
    std::printf("  skin share over the sheet without a hand: worst %.4f; with a hand resting: least %.4f "
                "(limit %.4f)\n", skinWithout, skinWith, HandDetector::kSkinShare);
    std::printf("  motion share, same page through two JPEG qualities: worst %.4f; hand arriving: least %.4f "
                "(limit %.4f)\n", motionStill, motionWith, HandDetector::kMotionShare);
}

struct Tally
{
    int photos = 0;
    int pagesTaken = 0;        // distinct script pages photographed
    int extraShots = 0;        // photos of a page already photographed
    int withHand = 0;
    int unknown = 0;
    int refused = 0;
};

Tally session(const QString &entry, const QList<int> &pages, int steps, double slotSeconds)
{
    const int expectedMs = int((steps + 0.6) * slotSeconds * 1000);
    const auto result = autocapturesession::run(entry, expectedMs, [](const autocapturesession::Result &) {
        return false;
    });
    Tally tally;
    tally.refused = result.refused;
    QSet<int> seen;
    for (const QString &path : result.photos) {
        const QImage photo = QImageReader(path).read();
        ++tally.photos;
        if (autocapturesession::showsHand(photo))
            ++tally.withHand;
        const int shown = autocapturesession::pageShown(photo, pages);
        if (shown < 0)
            ++tally.unknown;
        else if (seen.contains(shown))
            ++tally.extraShots;
        else
            seen.insert(shown);
    }
    tally.pagesTaken = seen.size();
    return tally;
}

void runSessions(double slotSeconds)
{
    // 20 pages; 2, 4, 8, 13 and 1 laid again; a hand sweeps in while 3, 7, 11, 15 and 19 are laid down.
    const QString script = QStringLiteral("-/1/2/3h/4/5/2/6/7h/8/9/4/10/11h/12/13/8/14/15h/16/17/13/18/19h/20/1");
    const int steps = script.count(QLatin1Char('/')) + 1;
    QList<int> pages;
    for (int p = 1; p <= 20; ++p)
        pages.append(p);
    const QString entry = QStringLiteral("synthetic:size=%1x%2,page=%3,hand=2,script=%4")
                              .arg(kSize.width)
                              .arg(kSize.height)
                              .arg(slotSeconds)
                              .arg(script);
    std::printf("session: %d slots of %.1f s, camera \"%s\"\n", steps, slotSeconds, qPrintable(entry));
    Config &config = *Cache::config;
    config.knowPages = true;
    const Tally on = session(entry, pages, steps, slotSeconds);
    config.knowPages = false;
    const Tally off = session(entry, pages, steps, slotSeconds);
    std::printf("  %-22s %7s %9s %8s %8s %6s %8s\n", "", "photos", "pages ok", "refused", "repeats", "hand",
                "unknown");
    for (const auto &[name, t] : {std::pair<const char *, const Tally &>{"knowPages on", on},
                                  std::pair<const char *, const Tally &>{"knowPages off (floor)", off}})
        std::printf("  %-22s %7d %9d %8d %8d %6d %8d\n", name, t.photos, t.pagesTaken, t.refused, t.extraShots,
                    t.withHand, t.unknown);
    std::printf("  targets with knowPages on: pages ok 20, refused 5, repeats 0, hand 0\n");
}

void measureCpu(int runs)
{
    docscene::Options scene;
    scene.size = cv::Size(1920, 1080);
    const QImage frame = ImageProcessing::MatQImage(preview(docscene::render(scene, 3).image));
    PageTurnGuard guard;
    const double checks = cpuMsPerRun(runs, [&] {
        guard.handInPicture(frame);
        guard.acceptPage();
        guard.forget();
    });
    const double handOnly = cpuMsPerRun(runs, [&] { guard.handInPicture(frame); });
    quint64 hash = 0;
    const double averageHash = cpuMsPerRun(runs, [&] { IamgeZhuaPai::averageHash(frame, hash); });
    ImageProcessing processing;
    processing.correction = 1;
    const cv::Mat bgr = ImageProcessing::QImageToMat(frame).clone();
    const double live = cpuMsPerRun(runs, [&] {
        cv::Mat out;
        processing.handleMat(bgr, out, true);
        ImageProcessing::MatQImage(out);
    });
    const double framesPerPass = 30.0 * 0.2;   // a pass every 200 ms at 30 frames a second
    std::printf("CPU at 1920x1080, %d runs (thread CPU time):\n", runs);
    std::printf("  checks per pass (hand + page hash)   %7.3f ms  = %5.2fx the pass's average hash (%.3f ms)\n",
                checks, checks / averageHash, averageHash);
    std::printf("  hand check alone (every pass)        %7.3f ms\n", handOnly);
    std::printf("  per camera frame (a pass every %.0f)  %7.3f ms  = %5.3fx the live processing of a frame (%.3f ms)\n",
                framesPerPass, checks / framesPerPass, checks / framesPerPass / live, live);
}

} // namespace

int main(int argc, char **argv)
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0);   // the session runs for minutes: show each figure as it comes
    preferOffscreenPlatform();
    QGuiApplication app(argc, argv);
    QTemporaryDir documents;
    Config &config = benchStationConfig(documents.path());
    config.saveNumber = 1;

    bool skipSession = false;
    double slot = 4.0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--no-session") == 0)
            skipSession = true;
        else if (std::atof(argv[i]) > 0)
            slot = std::atof(argv[i]);
    }
    measureHashes(40);
    measureHands(20);
    measureCpu(50);
    if (!skipSession)
        runSessions(slot);
    return 0;
}
