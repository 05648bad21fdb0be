// Sheets on any table (Config::anyTable): rendered tables of every kind with
// known sheet corners go through the real pipeline.
#include "documentdetection.h"
#include "imageprocessing.h"
#include "tablescene.h"

#include "cache.h"
#include "capturetest.h"
#include "config.h"

#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

namespace {

using docscene::cornerError;

class AnyTable : public testenv::CaptureTest {
protected:
    void TearDown() override
    {
        Cache::config->anyTable = false;
        testenv::CaptureTest::TearDown();
    }

    static docscene::TableFrame table(docscene::Surface surface, int sheets, unsigned seed,
                                      docscene::Occluder occluder = docscene::Occluder::None)
    {
        docscene::TableOptions options;
        options.scene.size = cv::Size(1280, 720);
        options.scene.sheets = sheets;
        options.scene.seed = seed;
        options.surface = surface;
        options.occluder = occluder;
        options.perspective = 0.01;
        return docscene::renderOnTable(options);
    }

    std::vector<cv::RotatedRect> liveDetections(const cv::Mat &frame)
    {
        camera->correction = 2;
        cv::Mat shown;
        return camera->handleMat(frame, shown, true);
    }
};


void expectEverySheetFound(const std::vector<cv::RotatedRect> &found, const docscene::TableFrame &frame,
                           const char *surface)
{
    EXPECT_EQ(found.size(), frame.corners.size()) << surface;
    for (const std::array<cv::Point2f, 4> &sheet : frame.corners) {
        double nearest = 1e9;
        for (const cv::RotatedRect &rect : found)
            nearest = std::min(nearest, cornerError(rect, sheet));
        EXPECT_LT(nearest, 0.025 * cv::norm(sheet[2] - sheet[0])) << surface;
    }
}

TEST_F(AnyTable, SheetsAreFoundOnEveryKindOfTable)
{
    Cache::config->anyTable = true;
    // A white desk and a light-squared cloth: paper is told from them by its
    // outline, not its colour.
    for (docscene::Surface surface :
         {docscene::Surface::DarkMat, docscene::Surface::WhiteDesk, docscene::Surface::DarkWood,
          docscene::Surface::GreyLaminate, docscene::Surface::PatternedCloth, docscene::Surface::Mixed}) {
        for (int sheets : {1, 2}) {
            const docscene::TableFrame frame = table(surface, sheets, unsigned(sheets));
            expectEverySheetFound(liveDetections(frame.image), frame, docscene::surfaceName(surface));
        }
    }
    // A hand over one corner of the sheet: the sheet, not sheet and hand.
    const docscene::TableFrame hand = table(docscene::Surface::GreyLaminate, 1, 5, docscene::Occluder::Hand);
    expectEverySheetFound(liveDetections(hand.image), hand, "hand over a corner");
    // The outlines the rest of the pipeline draws and crops by are in place.
    EXPECT_EQ(camera->documentContours.size(), 1u);
    EXPECT_FALSE(camera->largestContour.empty());
}

TEST_F(AnyTable, EmptyTablesShowNoSheet)
{
    Cache::config->anyTable = true;
    for (int s = 0; s < docscene::kSurfaceCount; ++s) {
        const auto surface = docscene::Surface(s);
        EXPECT_TRUE(liveDetections(table(surface, 0, 3).image).empty()) << docscene::surfaceName(surface);
    }
}

// The dark-base detector as the station always ran it: grey, one threshold
// at 60, outer outlines, their smallest rectangles, the area limit.
std::vector<cv::RotatedRect> thresholdDetections(const cv::Mat &frame)
{
    cv::Mat grey, binary;
    cv::cvtColor(frame, grey, cv::COLOR_BGR2GRAY);
    cv::threshold(grey, binary, 60.0, 255.0, cv::THRESH_BINARY);
    std::vector<std::vector<cv::Point>> outlines;
    cv::findContours(binary, outlines, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_SIMPLE);
    std::vector<cv::RotatedRect> kept;
    for (const std::vector<cv::Point> &outline : outlines) {
        const cv::RotatedRect rect = cv::minAreaRect(outline);
        if (rect.size.width * rect.size.height > documentdetection::kMinDocumentArea)
            kept.push_back(rect);
    }
    return kept;
}

bool same(const std::vector<cv::RotatedRect> &a, const std::vector<cv::RotatedRect> &b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i].center != b[i].center || a[i].size != b[i].size || a[i].angle != b[i].angle)
            return false;
    return true;
}

TEST_F(AnyTable, SwitchedOffDetectionIsTheThresholdDetectorExactly)
{
    ASSERT_FALSE(Cache::config->anyTable);
    for (int s = 0; s < docscene::kSurfaceCount; ++s) {
        const docscene::TableFrame frame = table(docscene::Surface(s), 1 + s % 3, unsigned(s));
        camera->correction = 2;
        EXPECT_TRUE(same(camera->findSquares(frame.image), thresholdDetections(frame.image)));
        EXPECT_TRUE(same(liveDetections(frame.image), thresholdDetections(frame.image)));
    }
}

} // namespace
