// The live path of an MJPG camera per frame, decoded at the scale the
// preview needs, against its floor (the decode at that scale and the bare
// OpenCV calls of the colour mode) and against decoding every frame in full;
// and what the full-size decode adds to a photo. CPU time of this thread,
// medians, all measured in the same run.
//
//   bench_livedecode [--runs N] [--preview WxH]
//
// --preview is the preview widget's size (default 954x595, the desktop
// window's preview at 1280 x 800). Run it in a scratch directory: photos are
// written into a temporary directory.
#include "cache.h"
#include "config.h"
#include "docscene.h"
#include "fullsizeframe.h"
#include "imageprocessing.h"
#include "mjpgframe.h"
#include "startup.h"
#include "../support/benchstation.h"

#include <QGuiApplication>
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

double threadCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

double medianCpuMs(int runs, const std::function<void()> &work)
{
    work();   // warm-up
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const double start = threadCpuMs();
        work();
        times.push_back(threadCpuMs() - start);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// The frame a receiver gets: BGR to RGB into a picture, the one copy the
// bridge to Qt needs.
void bridgeFloor(const cv::Mat &picture)
{
    QImage image(picture.cols, picture.rows, QImage::Format_RGB888);
    cv::Mat into(picture.rows, picture.cols, CV_8UC3, image.bits(), size_t(image.bytesPerLine()));
    if (picture.channels() == 1)
        cv::cvtColor(picture, into, cv::COLOR_GRAY2RGB);
    else
        cv::cvtColor(picture, into, cv::COLOR_BGR2RGB);
}

int blockFor(int reduction)
{
    return std::max(3, ((25 + reduction / 2) / reduction) | 1);
}

// Decode at the scale, then only what the mode cannot do without.
void floorPass(const cv::Mat &bytes, int reduction, int correction, int shootType)
{
    cv::Mat frame;
    decodeMjpgFrame(bytes, frame, reduction);
    cv::Mat grey;
    cv::cvtColor(frame, grey, cv::COLOR_BGR2GRAY);
    if (correction != 0) {
        cv::Mat binary;
        cv::threshold(grey, binary, 60, 255, cv::THRESH_BINARY);
        std::vector<std::vector<cv::Point>> contours;
        cv::findContours(binary, contours, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_SIMPLE);
    }
    cv::Mat out = frame;
    if (shootType >= 2) {
        cv::Mat bw;
        cv::adaptiveThreshold(grey, bw, 255, cv::ADAPTIVE_THRESH_MEAN_C, cv::THRESH_BINARY,
                              blockFor(reduction), shootType == 2 ? 50.0 : 40.0);
        out = bw;
    }
    if (shootType == 3) {
        cv::Mat hsv;
        cv::cvtColor(frame, hsv, cv::COLOR_BGR2HSV);
        out = frame;
    }
    bridgeFloor(out);
}

struct Mode {
    const char *name;
    int correction;
    int shootType;
};

void liveFrames(cv::Size size, QSize preview, int runs)
{
    docscene::Options scene;
    scene.size = size;
    scene.sheets = 2;
    std::vector<uchar> encoded;
    cv::imencode(".jpg", docscene::render(scene, 0).image, encoded, {cv::IMWRITE_JPEG_QUALITY, 85});
    const cv::Mat bytes = cv::Mat(encoded, true).reshape(1, 1);

    ImageProcessing camera;
    camera.setPreviewSize(preview);
    const int reduction = reductionFor(size, camera.liveSizeNeeded(size));
    const cv::Size reduced = reducedSize(size, reduction);
    std::printf("\nlive path %dx%d, preview %dx%d: decoded at 1/%d (%dx%d); JPEG %zu bytes\n",
                size.width, size.height, preview.width(), preview.height(), reduction,
                reduced.width, reduced.height, encoded.size());
    std::printf("  %-34s %9s %9s %9s %7s %9s\n", "mode", "reduced", "floor", "full", "ratio",
                "vs full");
    const Mode modes[] = {{"colour, single correction", 1, 0},
                          {"black-and-white", 0, 2},
                          {"black-and-white, red seals", 0, 3},
                          {"black-and-white, single correction", 1, 2}};
    for (const Mode &mode : modes) {
        camera.correction = mode.correction;
        camera.shootType = mode.shootType;
        const double reducedMs = medianCpuMs(runs, [&] {
            cv::Mat live;
            decodeMjpgFrame(bytes, live, reduction);
            const QImage image = camera.handleQImage(camera.processLiveFrame(live, reduction));
            (void)image;
        });
        const double floorMs = medianCpuMs(runs, [&] {
            floorPass(bytes, reduction, mode.correction, mode.shootType);
        });
        const double fullMs = medianCpuMs(runs, [&] {
            cv::Mat live;
            decodeMjpgFrame(bytes, live, 1);
            const QImage image = camera.handleQImage(camera.processLiveFrame(live, 1));
            (void)image;
        });
        std::printf("  %-34s %6.2f ms %6.2f ms %6.2f ms %6.2fx %8.2fx%s\n", mode.name, reducedMs,
                    floorMs, fullMs, reducedMs / floorMs, reducedMs / fullMs,
                    reducedMs / floorMs <= 1.3 ? "" : "  (target <= 1.3x MISSED)");
    }
}

// A photo of a frame the live path decoded reduced decodes it in full
// first; against a photo of a frame that is already full size plus that decode.
void photoFrames(cv::Size size, QSize preview, int runs, const char *allocator)
{
    docscene::Options scene;
    scene.size = size;
    scene.sheets = 2;
    std::vector<uchar> encoded;
    cv::imencode(".jpg", docscene::render(scene, 0).image, encoded, {cv::IMWRITE_JPEG_QUALITY, 85});
    const cv::Mat bytes = cv::Mat(encoded, true).reshape(1, 1);
    ImageProcessing camera;
    camera.setPreviewSize(preview);
    const int reduction = reductionFor(size, camera.liveSizeNeeded(size));
    Config &config = *Cache::config;
    config.codec = QStringLiteral("jpg");
    config.gnIswhite = false;
    camera.correction = 1;
    camera.shootType = 0;
    cv::Mat live;
    decodeMjpgFrame(bytes, live, reduction);
    cv::Mat full;
    decodeMjpgFrame(bytes, full, 1);
    const double decodeMs = medianCpuMs(runs, [&] {
        FullSizeFrame::ofCompressed(bytes, live, reduction)->picture();
    });
    const double photoFullMs = medianCpuMs(runs, [&] {
        camera.setCurrentFrame(full);
        camera.takePhotoPaths();
    });
    const double photoReducedMs = medianCpuMs(runs, [&] {
        camera.setCurrentFrame(FullSizeFrame::ofCompressed(bytes, live, reduction));
        camera.takePhotoPaths();
    });
    const double floorMs = photoFullMs + decodeMs;
    std::printf("  photo %dx%d (single correction, JPEG file), %s: %.2f ms from a reduced frame, "
                "%.2f ms from a full one, full decode alone %.2f ms: %.2fx of photo + decode "
                "(%.2f ms)%s\n",
                size.width, size.height, allocator, photoReducedMs, photoFullMs, decodeMs,
                photoReducedMs / floorMs, floorMs,
                photoReducedMs / floorMs <= 1.3 ? "" : "  (target <= 1.3x MISSED)");
}

} // namespace

int main(int argc, char **argv)
{
    int runs = 15;
    QSize preview(954, 595);
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--runs") && i + 1 < argc) {
            runs = std::max(3, std::atoi(argv[++i]));
        } else if (!std::strcmp(argv[i], "--preview") && i + 1 < argc) {
            int w = 0;
            int h = 0;
            if (std::sscanf(argv[++i], "%dx%d", &w, &h) == 2)
                preview = QSize(w, h);
        }
    }
    preferOffscreenPlatform();
    QGuiApplication app(argc, argv);
    QTemporaryDir documents;
    benchStationConfig(documents.path());
    liveFrames({1920, 1080}, preview, runs);
    liveFrames({3264, 2448}, preview, runs);
    // The station's main() keeps frame-sized buffers in the heap; without
    // that, a full decode and every buffer after it fault in fresh pages.
    std::printf("\n");
    photoFrames({1920, 1080}, preview, runs, "allocator defaults");
    photoFrames({3264, 2448}, preview, runs, "allocator defaults");
    Startup::keepFrameBuffersInHeap();
    photoFrames({1920, 1080}, preview, runs, "station start-up");
    photoFrames({3264, 2448}, preview, runs, "station start-up");
    return 0;
}
