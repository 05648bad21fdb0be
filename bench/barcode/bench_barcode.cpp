// Decode time per 1920x1080 frame and detection rate of the station's reader
// (QZXing, QR | Code 128, a new decoder per frame) and of zxing-cpp on the
// same frames: codes at several sizes, angles and blur levels, and frames
// without any code (what barcode mode sees most of the time).
//
//   bench_barcode [repetitions]
#define ZX_USE_UTF8 1
#include "barcodereader.h"
#include "test_barcode_codes.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <ZXing/ReadBarcode.h>

#include <algorithm>
#include <ctime>
#include <cstdio>
#include <map>
#include <numeric>
#include <string>
#include <vector>

using ZXing::BarcodeFormat;

namespace {

const QSize frameSize(1920, 1080);

struct Sample
{
    BarcodeFormat format;
    std::string text;
    std::string sizeClass;
    barcodecodes::Placement placement;
    QImage frame;
};

struct Outcome
{
    int found = 0;
    int total = 0;
    std::vector<double> ms;      // CPU time of the process
    std::vector<double> wallMs;  // wall-clock time, shown beside it
    void add(bool ok, const std::pair<double, double> &elapsed)
    {
        found += ok ? 1 : 0;
        total += 1;
        ms.push_back(elapsed.first);
        wallMs.push_back(elapsed.second);
    }
    static double median(std::vector<double> values)
    {
        std::sort(values.begin(), values.end());
        return values.empty() ? 0.0 : values[values.size() / 2];
    }
    double median() const { return median(ms); }
    double wallMedian() const { return median(wallMs); }
    double mean() const
    {
        return ms.empty() ? 0.0 : std::accumulate(ms.begin(), ms.end(), 0.0) / double(ms.size());
    }
    double rate() const { return total ? 100.0 * found / total : 0.0; }
};

std::string decodeStation(const QImage &frame)
{
    return BarcodeReader::decode(frame).toStdString();
}

std::string decodeZxingCpp(const QImage &frame)
{
    ZXing::DecodeHints hints;
    hints.setFormats(BarcodeFormat::QRCode | BarcodeFormat::Code128);
    const ZXing::ImageView view(frame.constBits(), frame.width(), frame.height(), ZXing::ImageFormat::RGB,
                                frame.bytesPerLine());
    const ZXing::Result result = ZXing::ReadBarcode(view, hints);
    return result.isValid() ? result.text() : std::string();
}

std::vector<Sample> samples()
{
    std::vector<Sample> all;
    const struct
    {
        BarcodeFormat format;
        const char *name;
        std::vector<std::pair<const char *, int>> widths;
    } kinds[] = {
        {BarcodeFormat::QRCode, "QR", {{"S", 140}, {"M", 220}, {"L", 360}, {"XL", 560}}},
        {BarcodeFormat::Code128, "C128", {{"S", 300}, {"M", 460}, {"L", 700}, {"XL", 1000}}},
    };
    int serial = 0;
    for (const auto &kind : kinds) {
        for (const auto &width : kind.widths) {
            for (double angle : {0.0, 10.0, 30.0, 90.0}) {
                for (double blur : {0.0, 1.5, 3.0}) {
                    Sample s;
                    s.format = kind.format;
                    s.text = kind.format == BarcodeFormat::QRCode
                                 ? "https://desk.example/doc/" + std::to_string(100000 + serial)
                                 : "DOC-" + std::to_string(2026000 + serial);
                    s.sizeClass = std::string(kind.name) + "-" + width.first;
                    s.placement = {width.second, angle, blur};
                    s.frame = barcodecodes::frameWithCode(kind.format, s.text, frameSize, s.placement);
                    all.push_back(s);
                    ++serial;
                }
            }
        }
    }
    // The same codes low on the sheet (centre at 85 % of the frame height).
    for (const auto &kind : kinds) {
        for (double blur : {0.0, 1.5}) {
            for (double angle : {0.0, 10.0}) {
                Sample s;
                s.format = kind.format;
                s.text = std::string(kind.name) + "-LOW-" + std::to_string(serial++);
                s.sizeClass = std::string(kind.name) + "-M low";
                s.placement = {kind.widths[1].second, angle, blur, 0.35};
                s.frame = barcodecodes::frameWithCode(kind.format, s.text, frameSize, s.placement);
                all.push_back(s);
            }
        }
    }
    return all;
}

double processCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

// (CPU ms, wall ms) of one decode: the machine may be shared, so CPU time is
// the figure to compare; wall time shows what the preview would feel.
template <typename Decoder>
std::pair<double, double> timed(Decoder decode, const QImage &frame, std::string &text)
{
    QElapsedTimer timer;
    timer.start();
    const double cpuStart = processCpuMs();
    text = decode(frame);
    return {processCpuMs() - cpuStart, double(timer.nsecsElapsed()) / 1e6};
}

void printRow(const char *group, const Outcome &q, const Outcome &z)
{
    std::printf("| %-14s | %3d | %5.1f %% | %6.1f (%6.1f) | %5.1f %% | %6.1f (%6.1f) | %5.2f |\n", group, q.total,
                q.rate(), q.median(), q.wallMedian(), z.rate(), z.median(), z.wallMedian(),
                q.median() > 0 ? z.median() / q.median() : 0.0);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});   // the reader logs each frame
    const int repetitions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1;

    const std::vector<Sample> all = samples();
    std::map<std::string, std::pair<Outcome, Outcome>> bySize, byAngle, byBlur;
    Outcome stationAll, zxingAll;
    for (int r = 0; r < repetitions; ++r) {
        for (const Sample &s : all) {
            std::string text;
            const auto q = timed(decodeStation, s.frame, text);
            const bool qOk = text == s.text;
            const auto z = timed(decodeZxingCpp, s.frame, text);
            const bool zOk = text == s.text;
            stationAll.add(qOk, q);
            zxingAll.add(zOk, z);
            if (s.placement.offsetY != 0.0) {   // reported on their own row only
                bySize[s.sizeClass].first.add(qOk, q);
                bySize[s.sizeClass].second.add(zOk, z);
                continue;
            }
            const std::string angle = std::to_string(int(s.placement.angle)) + " deg";
            char blur[32];
            std::snprintf(blur, sizeof blur, "blur %.1f", s.placement.blurSigma);
            for (auto *group : {&bySize[s.sizeClass], &byAngle[angle], &byBlur[blur]}) {
                group->first.add(qOk, q);
                group->second.add(zOk, z);
            }
        }
    }

    // Frames without a code: the common case while barcode mode waits.
    Outcome emptyStation, emptyZxing;
    for (int i = 0; i < 10 * repetitions; ++i) {
        const QImage page = barcodecodes::frameWithCode(BarcodeFormat::QRCode, "", frameSize, {0, 0.0, i % 3 * 1.0});
        std::string text;
        const auto q = timed(decodeStation, page, text);
        emptyStation.add(text.empty(), q);
        const auto z = timed(decodeZxingCpp, page, text);
        emptyZxing.add(text.empty(), z);
    }

    std::printf("frames %dx%d, %zu codes x %d repetitions\n\n", frameSize.width(), frameSize.height(), all.size(),
                repetitions);
    std::printf("median ms per frame: CPU time of the process (wall clock in brackets);\n"
                "\"no code\" rows count frames read as empty (no false reads)\n\n");
    std::printf("| group          |   n | QZXing found | QZXing ms | zxing-cpp found | zxing-cpp ms | "
                "CPU zxing-cpp/QZXing |\n");
    std::printf("|---|---|---|---|---|---|---|\n");
    for (const auto *groups : {&bySize, &byAngle, &byBlur})
        for (const auto &g : *groups)
            printRow(g.first.c_str(), g.second.first, g.second.second);
    printRow("all codes", stationAll, zxingAll);
    printRow("no code", emptyStation, emptyZxing);
    std::printf("\nmean CPU ms per frame with a code: QZXing %.1f, zxing-cpp %.1f; without: QZXing %.1f, zxing-cpp %.1f\n",
                stationAll.mean(), zxingAll.mean(), emptyStation.mean(), emptyZxing.mean());
    return 0;
}
