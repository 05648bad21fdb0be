#include "codepainter.h"

#include <opencv2/imgproc.hpp>

#ifdef DOCSCENE_HAVE_ZXING
#include <ZXing/BitMatrix.h>
#include <ZXing/MultiFormatWriter.h>
#endif

namespace docscene {

bool codesAvailable()
{
#ifdef DOCSCENE_HAVE_ZXING
    return true;
#else
    return false;
#endif
}

namespace detail {

#ifdef DOCSCENE_HAVE_ZXING
namespace {

ZXing::BarcodeFormat formatOf(CodeKind kind)
{
    switch (kind) {
    case CodeKind::Qr: return ZXing::BarcodeFormat::QRCode;
    case CodeKind::Code128: return ZXing::BarcodeFormat::Code128;
    case CodeKind::Ean13: return ZXing::BarcodeFormat::EAN13;
    }
    return ZXing::BarcodeFormat::QRCode;
}

} // namespace
#endif

cv::Mat1b encodeModules(CodeKind kind, const std::string &text)
{
#ifdef DOCSCENE_HAVE_ZXING
    if (text.empty())
        return {};
    try {
        // Width and height 1: the writer answers with its own minimal size,
        // one pixel per module.
        ZXing::MultiFormatWriter writer(formatOf(kind));
        writer.setMargin(0);
        const ZXing::BitMatrix bits = writer.encode(text, 1, 1);
        const int rows = kind == CodeKind::Qr ? bits.height() : 1;
        cv::Mat1b modules(rows, bits.width(), uchar(255));
        for (int y = 0; y < rows; ++y)
            for (int x = 0; x < bits.width(); ++x)
                if (bits.get(x, y))
                    modules(y, x) = 0;
        return modules;
    } catch (const std::exception &) {
        return {};   // text the symbology cannot carry
    }
#else
    (void)kind;
    (void)text;
    return {};
#endif
}

void paintCode(cv::Mat &sheet, const cv::Mat1b &modules, const cv::Rect &symbol, int modulePixels,
               CodeKind kind)
{
    const int quiet = modulePixels * (kind == CodeKind::Qr ? 2 : 8);
    const cv::Rect zone = cv::Rect(symbol.x - quiet, symbol.y - modulePixels * 2,
                                   symbol.width + 2 * quiet, symbol.height + 4 * modulePixels)
                          & cv::Rect(0, 0, sheet.cols, sheet.rows);
    sheet(zone).setTo(cv::Scalar(250, 250, 250));
    const cv::Scalar ink(22, 22, 26);
    for (int y = 0; y < modules.rows; ++y) {
        for (int x = 0; x < modules.cols; ++x) {
            if (modules(y, x) != 0)
                continue;
            const int height = kind == CodeKind::Qr ? modulePixels : symbol.height;
            const cv::Rect cell(symbol.x + x * modulePixels, symbol.y + y * modulePixels, modulePixels,
                                height);
            sheet(cell & zone).setTo(ink);
        }
    }
}

} // namespace detail
} // namespace docscene
