// Barcode reading on the synthetic document scene: a sheet on the table
// carrying one code, seen as the preview delivers it.
#include "barcodereader.h"
#include "docscene.h"
#include "imageprocessing.h"

#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

#include <algorithm>

namespace {

QImage sceneFrame(const docscene::Options &options, int page = 0)
{
    return ImageProcessing::MatQImage(docscene::render(options, page).image);
}

// A scene whose sheet carries its codes in the middle part of the picture.
constexpr unsigned middleCodeSeed = 28;

docscene::Options withCode(docscene::CodeKind kind, const std::string &text)
{
    docscene::Options options;
    options.size = cv::Size(1920, 1080);
    options.seed = middleCodeSeed;
    options.fixedAngle = true;   // the sheet squared to the camera, as a clerk holds a code to be read
    options.angle = 0.0;
    switch (kind) {
    case docscene::CodeKind::Qr:
        options.qr = text;
        break;
    case docscene::CodeKind::Code128:
        options.code128 = text;
        break;
    case docscene::CodeKind::Ean13:
        options.ean13 = text;
        break;
    }
    return options;
}

} // namespace

TEST(BarcodeOnScene, QrCodeAndCode128AreReadEan13AloneIsNot)
{
    if (!docscene::codesAvailable())
        GTEST_SKIP() << "scene library built without a barcode writer";
    struct Case
    {
        docscene::CodeKind kind;
        std::string text;
        QString expected;
    };
    const Case cases[] = {
        {docscene::CodeKind::Qr, "www.example.org/form/7", "www.example.org/form/7"},
        {docscene::CodeKind::Code128, "DS-000123", "DS-000123"},
        {docscene::CodeKind::Ean13, "590123412345", QString()},
    };
    for (const Case &c : cases) {
        const docscene::Options options = withCode(c.kind, c.text);
        const docscene::Frame frame = docscene::render(options);
        ASSERT_EQ(frame.geometry.codes.size(), 1u);
        const docscene::Code &code = frame.geometry.codes.front();
        ASSERT_LT(code.corners[0].y, 0.75 * frame.image.rows) << "the scene moved its code out of the middle";
        EXPECT_EQ(BarcodeReader::decode(ImageProcessing::MatQImage(frame.image)), c.expected) << c.text;
    }
}

TEST(BarcodeOnScene, TheCodeIsFoundOnLaterPagesAndInGreyMode)
{
    if (!docscene::codesAvailable())
        GTEST_SKIP() << "scene library built without a barcode writer";
    const docscene::Options options = withCode(docscene::CodeKind::Qr, "https://example.org/p");
    for (int page = 0; page < 3; ++page)
        EXPECT_EQ(BarcodeReader::decode(sceneFrame(options, page)), "https://example.org/p") << "page " << page;
    cv::Mat grey;
    cv::cvtColor(docscene::render(options, 1).image, grey, cv::COLOR_BGR2GRAY);
    EXPECT_EQ(BarcodeReader::decode(ImageProcessing::MatQImage(grey)), "https://example.org/p");
}

TEST(BarcodeOnScene, Code128LowInThePictureIsRead)
{
    if (!docscene::codesAvailable())
        GTEST_SKIP() << "scene library built without a barcode writer";
    // The first scene that puts its bar code in the lowest quarter of the picture.
    for (unsigned seed = 1; seed < 400; ++seed) {
        docscene::Options options = withCode(docscene::CodeKind::Code128, "LOW-" + std::to_string(seed));
        options.seed = seed;
        const docscene::Geometry geometry = docscene::layout(options);
        const auto &corners = geometry.codes.front().corners;
        const float top = std::min({corners[0].y, corners[1].y, corners[2].y, corners[3].y});
        if (top < 0.75f * float(geometry.size.height))
            continue;
        EXPECT_EQ(BarcodeReader::decode(sceneFrame(options)), QString::fromStdString(options.code128)) << seed;
        return;
    }
    FAIL() << "no scene with its bar code low in the picture";
}

TEST(BarcodeOnScene, PagesWithoutCodesYieldNothing)
{
    docscene::Options options;
    options.sheets = 2;
    EXPECT_EQ(BarcodeReader::decode(sceneFrame(options)), QString());
    EXPECT_EQ(BarcodeReader::decode(ImageProcessing::MatQImage(docscene::darkFrame(cv::Size(1920, 1080)))), QString());
}
