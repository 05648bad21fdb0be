// Detection rate and CPU time per 1920x1080 frame of the station's barcode
// reader (BarcodeReader::decode, QR | Code 128) beside zxing-cpp with other
// option sets, on three kinds of frames:
//   - drawn codes: one code on a sheet at several sizes, angles and blur levels,
//     and some low on the sheet;
//   - scene frames: the synthetic document scene with a QR code or a Code 128
//     on a sheet lying at a varying angle, as the camera sees it;
//   - every third drawn code in a dim room under uneven light;
// and frames without a readable code (a bare page, scene pages with no code or
// an EAN-13 only), which barcode mode sees most of the time and must read as
// empty.
//
//   bench_barcode [repetitions]
#define ZX_USE_UTF8 1
#include "barcodereader.h"
#include "docscene.h"
#include "imageprocessing.h"
#include "test_barcode_codes.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <ZXing/ReadBarcode.h>

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <array>
#include <cstdio>
#include <ctime>
#include <functional>
#include <numeric>
#include <string>
#include <vector>

using ZXing::BarcodeFormat;

namespace {

const QSize frameSize(1920, 1080);

struct Sample
{
    std::string group;   // shown as one column set of the table
    std::string text;    // empty: nothing may be read
    QImage frame;
};

struct Outcome
{
    int found = 0;
    int total = 0;
    std::vector<double> cpuMs;   // CPU time of the process
    std::vector<double> wallMs;  // wall-clock time, shown beside it
    void add(bool ok, const std::pair<double, double> &elapsed)
    {
        found += ok ? 1 : 0;
        total += 1;
        cpuMs.push_back(elapsed.first);
        wallMs.push_back(elapsed.second);
    }
    static double mean(const std::vector<double> &values)
    {
        return values.empty() ? 0.0 : std::accumulate(values.begin(), values.end(), 0.0) / double(values.size());
    }
    double rate() const { return total ? 100.0 * found / total : 0.0; }
};

std::vector<Sample> drawnCodes()
{
    std::vector<Sample> all;
    const struct
    {
        BarcodeFormat format;
        std::vector<int> widths;
    } kinds[] = {
        {BarcodeFormat::QRCode, {140, 220, 360, 560}},
        {BarcodeFormat::Code128, {300, 460, 700, 1000}},
    };
    int serial = 0;
    auto add = [&](BarcodeFormat format, const barcodecodes::Placement &placement) {
        Sample s;
        s.group = "drawn";
        s.text = format == BarcodeFormat::QRCode ? "https://desk.example/doc/" + std::to_string(100000 + serial)
                                                 : "DOC-" + std::to_string(2026000 + serial);
        s.frame = barcodecodes::frameWithCode(format, s.text, frameSize, placement);
        all.push_back(s);
        ++serial;
    };
    for (const auto &kind : kinds)
        for (int width : kind.widths)
            for (double angle : {0.0, 10.0, 30.0, 90.0})
                for (double blur : {0.0, 1.5, 3.0})
                    add(kind.format, {width, angle, blur});
    // The same codes low on the sheet (centre at 85 % of the frame height).
    for (const auto &kind : kinds)
        for (double blur : {0.0, 1.5})
            for (double angle : {0.0, 10.0})
                add(kind.format, {kind.widths[1], angle, blur, 0.35});
    return all;
}

QImage sceneImage(const docscene::Options &options, int page)
{
    return ImageProcessing::MatQImage(docscene::render(options, page).image);
}

std::vector<Sample> sceneCodes()
{
    std::vector<Sample> all;
    for (unsigned seed = 1; seed <= 16; ++seed) {
        for (bool qr : {true, false}) {
            docscene::Options options;
            options.size = cv::Size(frameSize.width(), frameSize.height());
            options.seed = seed;
            Sample s;
            s.group = "scene";
            s.text = qr ? "https://example.org/form/" + std::to_string(seed) : "DS-" + std::to_string(4000 + seed);
            (qr ? options.qr : options.code128) = s.text;
            s.frame = sceneImage(options, int(seed % 3));
            all.push_back(s);
        }
    }
    return all;
}

// Drawn codes in a dim room under uneven light: the sheet at 60 % of its
// brightness on the lamp's side down to 25 % on the far side.
std::vector<Sample> unevenLight(const std::vector<Sample> &drawn)
{
    std::vector<Sample> all;
    for (size_t i = 0; i < drawn.size(); i += 3) {
        Sample s = drawn[i];
        s.group = "light";
        s.frame = s.frame.copy();
        cv::Mat rgb(s.frame.height(), s.frame.width(), CV_8UC3, s.frame.bits(), size_t(s.frame.bytesPerLine()));
        for (int x = 0; x < rgb.cols; ++x) {
            const double gain = 0.6 - 0.35 * double(x) / double(rgb.cols - 1);
            rgb.col(x).convertTo(rgb.col(x), CV_8UC3, gain);
        }
        all.push_back(s);
    }
    return all;
}

std::vector<Sample> framesWithoutCode()
{
    std::vector<Sample> all;
    for (int i = 0; i < 6; ++i)
        all.push_back({"empty", "", barcodecodes::frameWithCode(BarcodeFormat::QRCode, "", frameSize, {0, 0.0, i % 3 * 1.0})});
    for (unsigned seed = 1; seed <= 6; ++seed) {
        docscene::Options options;
        options.size = cv::Size(frameSize.width(), frameSize.height());
        options.seed = seed;
        options.sheets = 1 + int(seed % 2);
        if (seed % 2 == 0)
            options.ean13 = "59012341234" + std::to_string(seed % 10);
        all.push_back({"empty", "", sceneImage(options, 0)});
    }
    return all;
}

double processCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

using Decoder = std::function<std::string(const QImage &)>;

// (CPU ms, wall ms) of one decode: the machine may be shared, so CPU time is
// the figure to compare; wall time shows what the preview would feel.
std::pair<double, double> timed(const Decoder &decode, const QImage &frame, std::string &text)
{
    QElapsedTimer timer;
    timer.start();
    const double cpuStart = processCpuMs();
    text = decode(frame);
    return {processCpuMs() - cpuStart, double(timer.nsecsElapsed()) / 1e6};
}

// zxing-cpp on the frame as it is (RGB), or on a grey copy made with OpenCV.
Decoder zxingCpp(ZXing::DecodeHints hints, bool greyFirst = false)
{
    hints.setFormats(BarcodeFormat::QRCode | BarcodeFormat::Code128);
    return [hints, greyFirst](const QImage &frame) {
        cv::Mat grey;
        if (greyFirst) {
            const cv::Mat rgb(frame.height(), frame.width(), CV_8UC3, const_cast<uchar *>(frame.constBits()),
                              size_t(frame.bytesPerLine()));
            cv::cvtColor(rgb, grey, cv::COLOR_RGB2GRAY);
        }
        const ZXing::ImageView view = greyFirst ? ZXing::ImageView(grey.data, grey.cols, grey.rows, ZXing::ImageFormat::Lum,
                                                                   int(grey.step))
                                                : ZXing::ImageView(frame.constBits(), frame.width(), frame.height(),
                                                                   ZXing::ImageFormat::RGB, frame.bytesPerLine());
        const ZXing::Result result = ZXing::ReadBarcode(view, hints);
        return result.isValid() ? result.text() : std::string();
    };
}

struct Candidate
{
    const char *name;
    Decoder decode;
};

std::vector<Candidate> candidates()
{
    using ZXing::Binarizer;
    using ZXing::DecodeHints;
    // The station's options; each row below changes one of them.
    const DecodeHints chosen = DecodeHints().setTryDownscale(false).setMaxNumberOfSymbols(1);
    return {
        {"station reader (harder, rotate, local average, one pass, grey by OpenCV)",
         [](const QImage &frame) { return BarcodeReader::decode(frame).toStdString(); }},
        {"zxc library defaults, colour frame", zxingCpp(DecodeHints())},
        {"zxc station options, colour frame", zxingCpp(chosen)},
        {"zxc station options + downscaled pass (by 3)", zxingCpp(DecodeHints(chosen).setTryDownscale(true), true)},
        {"zxc station options + downscaled pass (by 4)",
         zxingCpp(DecodeHints(chosen).setTryDownscale(true).setDownscaleFactor(4), true)},
        {"zxc station options, no rotate", zxingCpp(DecodeHints(chosen).setTryRotate(false), true)},
        {"zxc station options, no harder", zxingCpp(DecodeHints(chosen).setTryHarder(false), true)},
        {"zxc station options, global histogram",
         zxingCpp(DecodeHints(chosen).setBinarizer(Binarizer::GlobalHistogram), true)},
        {"zxc station options, fixed threshold",
         zxingCpp(DecodeHints(chosen).setBinarizer(Binarizer::FixedThreshold), true)},
    };
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});   // the reader logs each frame
    const int repetitions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1;

    const std::vector<Sample> drawn = drawnCodes();
    const std::vector<Sample> scene = sceneCodes();
    const std::vector<Sample> light = unevenLight(drawn);
    const std::vector<Sample> empty = framesWithoutCode();
    std::printf("frames %dx%d: %zu drawn codes, %zu scene frames with a code, %zu drawn codes in dim, uneven light, "
                "%zu frames without a readable code; %d repetitions\n",
                frameSize.width(), frameSize.height(), drawn.size(), scene.size(), light.size(), empty.size(),
                repetitions);
    std::printf("found: share read with the right text (no code: share read as empty); ms: mean CPU time of the "
                "process per frame (wall clock in brackets)\n\n");
    // Every candidate decodes each frame in turn, so a change of the machine's
    // load during the run touches all of them alike.
    const std::vector<Candidate> all = candidates();
    std::vector<std::array<Outcome, 4>> outcomes(all.size());
    const std::vector<Sample> *sets[4] = {&drawn, &scene, &light, &empty};
    for (int r = 0; r < repetitions; ++r) {
        for (int set = 0; set < 4; ++set) {
            for (const Sample &s : *sets[set]) {
                for (size_t c = 0; c < all.size(); ++c) {
                    std::string text;
                    const auto elapsed = timed(all[c].decode, s.frame, text);
                    outcomes[c][size_t(set)].add(text == s.text, elapsed);
                }
            }
        }
    }
    std::printf("| reader | drawn found | drawn ms | scene found | scene ms | dim light found | dim light ms | "
                "no code ok | no code ms |\n");
    std::printf("|---|---|---|---|---|---|---|---|---|\n");
    for (size_t c = 0; c < all.size(); ++c) {
        std::printf("| %s |", all[c].name);
        for (const Outcome &o : outcomes[c])
            std::printf(" %5.1f %% | %5.1f (%5.1f) |", o.rate(), Outcome::mean(o.cpuMs), Outcome::mean(o.wallMs));
        std::printf("\n");
    }
    return 0;
}
