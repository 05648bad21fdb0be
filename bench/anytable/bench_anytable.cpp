// Document detection on rendered tables: every surface of the table scene
// (dark mat, white desk, light and dark wood, grey laminate, gingham cloth,
// wood beside laminate), one to three sheets with seals and codes, a hand or
// a clip over a corner on some, uneven light, a slight perspective, noise and
// JPEG at quality 85, plus empty tables. Each frame is decoded at the live
// scale as the capture thread does and given to both detectors: the dark-base
// one (grey, switch off) and the any-table one (switch on).
//
// A sheet counts as found when a kept rectangle's corners lie within 5 % of
// the sheet's diagonal of its true corners; the corner error is the largest
// of the four, as a share of the diagonal.
//
//   bench_anytable [--scenes N] [--empty N] [--size WxH] [--reduction R] [--repeat K]
#include "cache.h"
#include "config.h"
#include "docscene.h"
#include "documentdetection.h"
#include "startup.h"
#include "tablescene.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

using docscene::cornerError;

constexpr double kFoundWithin = 0.05;

struct Tally {
    int scenes = 0, scenesFound = 0, sheets = 0, sheetsFound = 0, extra = 0;
    int emptyTables = 0, emptyWithSheet = 0;
    std::vector<double> errors;
    double seconds = 0;
    int frames = 0;
};

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}


documentdetection::Documents detect(const cv::Mat &picture, bool anyTable, int reduction)
{
    Cache::config->anyTable = anyTable;
    if (anyTable)
        return documentdetection::keepDocuments(documentdetection::candidates(picture), reduction);
    // Today's pipeline detects on the grey picture it makes for the purpose.
    cv::Mat grey;
    cv::cvtColor(picture, grey, cv::COLOR_BGR2GRAY);
    return documentdetection::keepDocuments(documentdetection::candidates(grey), reduction);
}

void score(Tally &tally, const documentdetection::Documents &documents,
           const std::vector<std::array<cv::Point2f, 4>> &truth)
{
    if (truth.empty()) {
        ++tally.emptyTables;
        tally.emptyWithSheet += documents.found() ? 1 : 0;
        return;
    }
    ++tally.scenes;
    int found = 0;
    std::vector<bool> used(documents.kept.size(), false);
    for (const std::array<cv::Point2f, 4> &sheet : truth) {
        const double diagonal = cv::norm(sheet[2] - sheet[0]);
        double bestError = 1e9;
        size_t best = 0;
        for (size_t i = 0; i < documents.kept.size(); ++i) {
            const double error = cornerError(documents.kept[i], sheet) / diagonal;
            if (!used[i] && error < bestError) {
                bestError = error;
                best = i;
            }
        }
        ++tally.sheets;
        if (bestError <= kFoundWithin) {
            used[best] = true;
            ++found;
            ++tally.sheetsFound;
            tally.errors.push_back(bestError);
        }
    }
    tally.scenesFound += found == int(truth.size()) ? 1 : 0;
    tally.extra += int(std::count(used.begin(), used.end(), false));
}

void print(const char *surface, const char *detector, const Tally &t)
{
    std::printf("%-18s %-10s scenes found %3d/%-3d (%5.1f %%)  sheets %3d/%-3d  median corner error "
                "%5.2f %%  extra %2d  empty tables with a sheet %d/%d  %.2f ms/frame\n",
                surface, detector, t.scenesFound, t.scenes, 100.0 * t.scenesFound / std::max(1, t.scenes),
                t.sheetsFound, t.sheets, 100.0 * median(t.errors), t.extra, t.emptyWithSheet, t.emptyTables,
                1000.0 * t.seconds / std::max(1, t.frames));
}

void add(Tally &into, const Tally &from)
{
    into.scenes += from.scenes;
    into.scenesFound += from.scenesFound;
    into.sheets += from.sheets;
    into.sheetsFound += from.sheetsFound;
    into.extra += from.extra;
    into.emptyTables += from.emptyTables;
    into.emptyWithSheet += from.emptyWithSheet;
    into.errors.insert(into.errors.end(), from.errors.begin(), from.errors.end());
    into.seconds += from.seconds;
    into.frames += from.frames;
}

} // namespace

int main(int argc, char **argv)
{
    int scenesPerSurface = 24, emptyPerSurface = 6, reduction = 2, repeat = 5;
    cv::Size size(1920, 1080);
    for (int i = 1; i < argc; ++i) {
        const bool hasValue = i + 1 < argc;
        if (!std::strcmp(argv[i], "--scenes") && hasValue)
            scenesPerSurface = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--empty") && hasValue)
            emptyPerSurface = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--reduction") && hasValue)
            reduction = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--repeat") && hasValue)
            repeat = std::max(1, std::atoi(argv[++i]));
        else if (!std::strcmp(argv[i], "--size") && hasValue)
            std::sscanf(argv[++i], "%dx%d", &size.width, &size.height);
    }
    cv::setNumThreads(1);
    // The station keeps frame-sized buffers in its heap from the start.
    Startup::keepFrameBuffersInHeap();
    const int readMode = reduction == 2   ? cv::IMREAD_REDUCED_COLOR_2
                         : reduction == 4 ? cv::IMREAD_REDUCED_COLOR_4
                         : reduction == 8 ? cv::IMREAD_REDUCED_COLOR_8
                                          : cv::IMREAD_COLOR;
    if (readMode == cv::IMREAD_COLOR)
        reduction = 1;
    std::printf("%dx%d frames decoded at 1/%d, %d scenes and %d empty tables per surface, one thread\n",
                size.width, size.height, reduction, scenesPerSurface, emptyPerSurface);

    Tally allToday, allAny;
    for (int s = 0; s < docscene::kSurfaceCount; ++s) {
        const auto surface = docscene::Surface(s);
        Tally today, any;
        for (int n = 0; n < scenesPerSurface + emptyPerSurface; ++n) {
            docscene::TableOptions options;
            options.surface = surface;
            options.scene.size = size;
            options.scene.seed = unsigned(1000 * s + n + 1);
            options.scene.sheets = n < scenesPerSurface ? 1 + n % 3 : 0;
            options.scene.seal = true;
            if (n % 2 == 0 && docscene::codesAvailable()) {
                options.scene.qr = "DOC-" + std::to_string(n);
                options.scene.code128 = "C128-" + std::to_string(n);
            }
            options.occluder = n % 4 == 1   ? docscene::Occluder::Hand
                               : n % 4 == 3 ? docscene::Occluder::Clip
                                            : docscene::Occluder::None;
            options.perspective = 0.01;
            options.jpegQuality = 0; // compressed below, as the camera sends it
            docscene::TableFrame frame = docscene::renderOnTable(options);
            std::vector<uchar> bytes;
            cv::imencode(".jpg", frame.image, bytes, {cv::IMWRITE_JPEG_QUALITY, 85});
            const cv::Mat live = cv::imdecode(bytes, readMode);
            for (std::array<cv::Point2f, 4> &corners : frame.corners)
                for (cv::Point2f &corner : corners)
                    corner *= 1.0f / float(reduction);

            for (const bool anyTable : {false, true}) {
                Tally &tally = anyTable ? any : today;
                documentdetection::Documents documents;
                const auto start = std::chrono::steady_clock::now();
                for (int k = 0; k < repeat; ++k)
                    documents = detect(live, anyTable, reduction);
                tally.seconds +=
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
                tally.frames += repeat;
                score(tally, documents, frame.corners);
            }
        }
        print(docscene::surfaceName(surface), "dark base", today);
        print(docscene::surfaceName(surface), "any table", any);
        add(allToday, today);
        add(allAny, any);
    }
    print("all", "dark base", allToday);
    print("all", "any table", allAny);
    std::printf("time ratio any table / dark base: %.2fx\n",
                (allAny.seconds / allAny.frames) / (allToday.seconds / allToday.frames));
    return 0;
}
