// Ratios of the pipeline's operations to the library calls they cannot do
// without, timed in the same run, with the absolute times beside them.

#include "base64.h"
#include "cameracapture.h"
#include "virtualcameras.h"
#include "imageprocessing.h"
#include "testframes.h"

#include "cache.h"
#include "config.h"
#include "../support/benchstation.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <malloc.h>
#include <time.h>
#include <vector>

using testframes::Sheet;

namespace {

double medianMs(int runs, const std::function<void()> &work)
{
    work();   // warm-up
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        work();
        const auto stop = std::chrono::steady_clock::now();
        times.push_back(std::chrono::duration<double, std::milli>(stop - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

double threadCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

void report(const char *what, double ms, double floorMs, double target)
{
    const double ratio = ms / floorMs;
    std::printf("%-44s %8.2f ms  floor %8.2f ms  ratio %5.2f  (target <= %.1f)%s\n", what, ms,
                floorMs, ratio, target, ratio <= target ? "" : "  MISSED");
}

// The frame a receiver gets: BGR to RGB into a picture, the one copy the
// bridge to Qt needs.
void bridgeFloor(const cv::Mat &picture)
{
    if (picture.channels() == 1) {
        QImage image(picture.cols, picture.rows, QImage::Format_Grayscale8);
        cv::Mat into(picture.rows, picture.cols, CV_8UC1, image.bits(), size_t(image.bytesPerLine()));
        picture.copyTo(into);
        return;
    }
    QImage image(picture.cols, picture.rows, QImage::Format_RGB888);
    cv::Mat into(picture.rows, picture.cols, CV_8UC3, image.bits(), size_t(image.bytesPerLine()));
    cv::cvtColor(picture, into, cv::COLOR_BGR2RGB);
}

void livePath(const cv::Size size, int runs)
{
    const float sx = size.width / 1920.0f;
    const float sy = size.height / 1080.0f;
    const cv::Mat frame = testframes::scene(
        size, {Sheet{{480 * sx, 540 * sy}, {cvRound(600 * sx), cvRound(420 * sy)}, 8, true},
               Sheet{{1440 * sx, 540 * sy}, {cvRound(600 * sx), cvRound(420 * sy)}, -5}});
    ImageProcessing camera;
    std::printf("\nlive path %dx%d (the loop's live processing + handleQImage at angle 0)\n",
                size.width, size.height);
    for (int correction = 0; correction <= 2; ++correction) {
        for (int shootType = 0; shootType <= 3; ++shootType) {
            camera.correction = correction;
            camera.shootType = shootType;
            camera.angle = 0;
            const double ms = medianMs(runs, [&] {
                const QImage image = camera.handleQImage(camera.processLiveFrame(frame));
                (void)image;
            });
            const double floorMs = medianMs(runs, [&] {
                cv::Mat grey;
                cv::Mat out = frame;
                if (correction != 0 || shootType != 0)
                    cv::cvtColor(frame, grey, cv::COLOR_BGR2GRAY);
                if (correction != 0) {
                    cv::Mat binary;
                    cv::threshold(grey, binary, 60, 255, cv::THRESH_BINARY);
                    std::vector<std::vector<cv::Point>> contours;
                    cv::findContours(binary, contours, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_SIMPLE);
                }
                if (shootType == 1)
                    out = grey;
                if (shootType >= 2) {
                    cv::Mat bw;
                    cv::adaptiveThreshold(grey, bw, 255, cv::ADAPTIVE_THRESH_MEAN_C,
                                          cv::THRESH_BINARY, 25, shootType == 2 ? 50.0 : 40.0);
                    out = bw;
                }
                if (shootType == 3) {
                    cv::Mat hsv;
                    cv::cvtColor(frame, hsv, cv::COLOR_BGR2HSV);
                    out = frame;
                }
                bridgeFloor(out);
            });
            char label[96];
            std::snprintf(label, sizeof label, "  correction %d, colour mode %d", correction,
                          shootType);
            report(label, ms, floorMs, 1.3);
        }
    }
    camera.correction = 0;
    camera.shootType = 0;
    camera.angle = 1;
    const double rotated = medianMs(runs, [&] {
        cv::Mat processed;
        camera.handleMat(frame, processed, true);
        const QImage image = camera.handleQImage(ImageProcessing::MatQImage(processed));
        (void)image;
    });
    std::printf("  (for reference: colour, no correction, rotated a quarter turn: %.2f ms)\n",
                rotated);
}

// What reading one frame from a virtual camera costs the capture thread:
// asked for MJPG, every read decodes JPEG bytes, as with a real camera; the
// floor is the bare decode of the same bytes. CPU time of this thread, so the
// camera's pacing does not count.
void cameraRead(cv::Size size, int runs)
{
    VirtualCameras::parse(QStringLiteral("synthetic:sizes=%1x%2,fps=240,sheets=2")
                              .arg(size.width)
                              .arg(size.height));
    double perFormat[2] = {0, 0};
    cv::Mat decoded;
    for (int mjpg = 0; mjpg < 2; ++mjpg) {
        CameraCapture capture;
        capture.open(VirtualCameras::firstIndex);
        capture.set(cv::CAP_PROP_FOURCC, mjpg ? cv::VideoWriter::fourcc('M', 'J', 'P', 'G')
                                              : cv::VideoWriter::fourcc('Y', 'U', 'Y', 'V'));
        cv::Mat frame;
        capture.read(frame);   // the first read of MJPG encodes the picture
        const double start = threadCpuMs();
        for (int i = 0; i < runs; ++i)
            capture.read(frame);
        perFormat[mjpg] = (threadCpuMs() - start) / runs;
        decoded = frame;
    }
    std::vector<uchar> bytes;
    cv::imencode(".jpg", decoded, bytes, {cv::IMWRITE_JPEG_QUALITY, 85});
    decoded = cv::imdecode(bytes, cv::IMREAD_COLOR);   // warm-up
    const double floorStart = threadCpuMs();
    for (int i = 0; i < runs; ++i)
        decoded = cv::imdecode(bytes, cv::IMREAD_COLOR);
    const double floorMs = (threadCpuMs() - floorStart) / runs;
    char what[64];
    std::snprintf(what, sizeof what, "camera read, MJPG %dx%d, CPU", size.width, size.height);
    report(what, perFormat[1], floorMs, 1.3);
    std::printf("  (raw YUYV read of the same camera: %.2f ms; JPEG %zu bytes)\n", perFormat[0],
                bytes.size());
}

void photo(int runs)
{
    const cv::Size size(3264, 2448);
    const cv::Mat frame = testframes::scene(
        size, {Sheet{{850, 1224}, {1400, 1900}, 7, true}, Sheet{{2420, 1224}, {1400, 1900}, -4}});
    Config &config = *Cache::config;
    config.gnIswhite = true;
    config.watermarkText = QStringLiteral("docstation");
    config.fontFamily = QStringLiteral("DejaVu Sans");
    config.fontSize = 60;
    config.transparency = 50;
    config.codec = QStringLiteral("jpg");
    config.saveType = 0;
    ImageProcessing camera;
    camera.correction = 2;
    camera.setCurrentFrame(frame);

    const double ms = medianMs(runs, [&] { camera.takePhoto(); });

    cv::Mat processed;
    const std::vector<cv::RotatedRect> rects = camera.handleMat(frame, processed, false);
    const std::vector<std::vector<cv::Point>> outlines = camera.documentContours;
    const QString floorPath = config.documentsLocation + QStringLiteral("/floor.jpg");
    const double floorMs = medianMs(runs, [&] {
        for (size_t i = 0; i < rects.size(); ++i) {
            const cv::RotatedRect &r = rects[i];
            double angle = r.angle;
            cv::Size cut(cvRound(r.size.width), cvRound(r.size.height));
            if (angle > 45) {
                angle -= 90;
                std::swap(cut.width, cut.height);
            }
            cv::Mat straight;
            cv::warpAffine(processed, straight, cv::getRotationMatrix2D(r.center, angle, 1.0),
                           processed.size(), cv::INTER_CUBIC, cv::BORDER_CONSTANT,
                           cv::Scalar::all(255));
            cv::Mat document;
            cv::getRectSubPix(straight, cut, r.center, document);
            std::vector<std::vector<cv::Point>> fill{outlines[i]};
            fill.push_back({{0, 0}, {document.cols, 0}, {document.cols, document.rows},
                            {0, document.rows}});
            cv::drawContours(document, fill, -1, cv::Scalar(128, 128, 128), cv::FILLED, cv::LINE_4);
            std::vector<uchar> jpeg;
            cv::imencode(".jpg", document, jpeg, {cv::IMWRITE_JPEG_QUALITY, config.quality});
            QFile out(floorPath);
            out.open(QIODevice::WriteOnly);
            out.write(reinterpret_cast<const char *>(jpeg.data()), qint64(jpeg.size()));
        }
    });
    std::printf("\ntakePhoto 3264x2448, correction 2, two sheets, white background, watermark\n");
    report("  takePhoto", ms, floorMs, 1.5);
}

double processCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

// Median wall and CPU (process, all threads) times of two pieces of work run
// alternately, so a change of the machine's load touches both alike.
struct PairTimes
{
    double wallMs[2];
    double cpuMs[2];
};

PairTimes alternatedMs(int runs, const std::function<void()> &first, const std::function<void()> &second)
{
    first();   // warm-up
    second();
    std::vector<double> wall[2], cpu[2];
    const std::function<void()> *work[2] = {&first, &second};
    for (int i = 0; i < runs; ++i) {
        for (int w = 0; w < 2; ++w) {
            const double cpuStart = processCpuMs();
            const auto start = std::chrono::steady_clock::now();
            (*work[w])();
            const auto stop = std::chrono::steady_clock::now();
            cpu[w].push_back(processCpuMs() - cpuStart);
            wall[w].push_back(std::chrono::duration<double, std::milli>(stop - start).count());
        }
    }
    PairTimes times{};
    for (int w = 0; w < 2; ++w) {
        std::sort(wall[w].begin(), wall[w].end());
        std::sort(cpu[w].begin(), cpu[w].end());
        times.wallMs[w] = wall[w][wall[w].size() / 2];
        times.cpuMs[w] = cpu[w][cpu[w].size() / 2];
    }
    return times;
}

// The floor: the picture shrunk by area averaging (as the canvas does) into a
// white 640x480 canvas, JPEG at the canvas's quality 90, Base64 with line
// breaks; the frame is taken as the BGR matrix it started as.
void webEncoding(int runs)
{
    const cv::Mat frame = testframes::scene({1920, 1080}, {Sheet{{960, 540}, {900, 700}, 5, true}});
    const QImage picture = ImageProcessing::MatQImage(frame);
    ImageProcessing camera;
    const PairTimes times = alternatedMs(
        runs,
        [&] {
            const QString text = camera.image2Data(picture);
            (void)text;
        },
        [&] {
            cv::Mat canvas(480, 640, CV_8UC3, cv::Scalar::all(255));
            cv::Mat into = canvas(cv::Rect(0, 60, 640, 360));
            cv::resize(frame, into, cv::Size(640, 360), 0, 0, cv::INTER_AREA);
            std::vector<uchar> jpeg;
            cv::imencode(".jpg", canvas, jpeg, {cv::IMWRITE_JPEG_QUALITY, 90});
            const std::string text = base64::encode(jpeg.data(), int(jpeg.size()));
            (void)text;
        });
    std::printf("\nimage2Data 1920x1080 into 640x480 (floor: area averaging, JPEG quality 90, Base64)\n");
    report("  image2Data, wall", times.wallMs[0], times.wallMs[1], 1.3);
    report("  image2Data, CPU", times.cpuMs[0], times.cpuMs[1], 1.3);

    // Where the floor's time goes, and what a cheaper, sampling shrink would save.
    cv::Mat shrunk;
    const PairTimes shrinking = alternatedMs(
        runs, [&] { cv::resize(frame, shrunk, cv::Size(640, 360), 0, 0, cv::INTER_AREA); },
        [&] { cv::resize(frame, shrunk, cv::Size(640, 360), 0, 0, cv::INTER_LINEAR); });
    cv::Mat canvas(480, 640, CV_8UC3, cv::Scalar::all(255));
    cv::resize(frame, canvas(cv::Rect(0, 60, 640, 360)), cv::Size(640, 360), 0, 0, cv::INTER_AREA);
    std::vector<uchar> jpeg;
    std::string text;
    const PairTimes encoding = alternatedMs(
        runs, [&] { cv::imencode(".jpg", canvas, jpeg, {cv::IMWRITE_JPEG_QUALITY, 90}); },
        [&] { text = base64::encode(jpeg.data(), int(jpeg.size())); });
    std::printf("  floor's parts, CPU ms: area shrink %.2f (a sampling, bilinear one: %.2f), JPEG %.2f, Base64 %.2f "
                "(%zu bytes)\n",
                shrinking.cpuMs[0], shrinking.cpuMs[1], encoding.cpuMs[0], encoding.cpuMs[1], jpeg.size());
}

} // namespace

int main(int argc, char **argv)
{
    // Frame-sized buffers come and go every pass; by default the C library
    // hands each back to the kernel and faults it in again, which on a
    // virtual machine costs more than the image work. "--heap" keeps them.
    bool keepHeap = false;
    bool webOnly = false;   // "--web": only the web canvas
    bool cameraOnly = false;   // "--camera": only the camera reads
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--heap") == 0)
            keepHeap = true;
        if (std::strcmp(argv[i], "--web") == 0)
            webOnly = true;
        if (std::strcmp(argv[i], "--camera") == 0)
            cameraOnly = true;
    }
    if (keepHeap) {
        mallopt(M_MMAP_THRESHOLD, 32 * 1024 * 1024);
        mallopt(M_TRIM_THRESHOLD, 1024 * 1024 * 1024);
    }
    std::printf("C library heap: %s\n", keepHeap ? "kept (--heap)" : "default");
    preferOffscreenPlatform();
    QGuiApplication app(argc, argv);
    QTemporaryDir documents;
    benchStationConfig(documents.path());
    int runs = 9;
    for (int i = 1; i < argc; ++i)
        if (std::atoi(argv[i]) > 0)
            runs = std::max(3, std::atoi(argv[i]));
    if (cameraOnly) {
        cameraRead({1920, 1080}, runs * 2);
        cameraRead({3264, 2448}, runs * 2);
        return 0;
    }
    if (webOnly) {
        webEncoding(runs * 2);
        return 0;
    }
    cameraRead({1920, 1080}, runs * 2);
    cameraRead({3264, 2448}, runs * 2);
    livePath({1920, 1080}, runs);
    livePath({3264, 2448}, runs);
    photo(std::max(3, runs / 2));
    webEncoding(runs * 2);
    return 0;
}
