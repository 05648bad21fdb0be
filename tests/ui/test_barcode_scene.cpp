// Barcode reading on the synthetic document scene: a sheet on the table
// carrying one code, seen as the preview delivers it.
#include "barcodereader.h"
#include "docscene.h"
#include "imageprocessing.h"

#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

namespace {

QImage sceneFrame(const docscene::Options &options, int page = 0)
{
    return ImageProcessing::MatQImage(docscene::render(options, page).image);
}

// The reader looks for bar codes along rows of the middle part of the picture
// only (about 25 % to 75 % of its height); this scene's sheet puts its codes
// there. Codes elsewhere are a matter of holding the sheet under the camera.
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

TEST(BarcodeOnScene, PagesWithoutCodesYieldNothing)
{
    docscene::Options options;
    options.sheets = 2;
    EXPECT_EQ(BarcodeReader::decode(sceneFrame(options)), QString());
    EXPECT_EQ(BarcodeReader::decode(ImageProcessing::MatQImage(docscene::darkFrame(cv::Size(1920, 1080)))), QString());
}
