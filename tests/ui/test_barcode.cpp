// Barcode reading of preview frames and the result dialog.
#include "barcodereader.h"
#include "erweima.h"
#include "imageprocessing.h"
#include "test_barcode_codes.h"
#include "testenv.h"
#include "urlcatcher.h"
#include "warningbox.h"

#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTextCodec>
#include <QUrl>

#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

#define ZX_USE_UTF8 1   // Result::text() as UTF-8
#include <ZXing/ReadBarcode.h>

using ZXing::BarcodeFormat;

namespace {

// What a reader with every symbology enabled finds in the frame: proves the
// frames the station must ignore do hold a readable code.
std::string readWithAllFormats(const QImage &frame)
{
    const QImage rgb = frame.convertToFormat(QImage::Format_RGB888);
    const ZXing::ImageView view(rgb.constBits(), rgb.width(), rgb.height(), ZXing::ImageFormat::RGB,
                                rgb.bytesPerLine());
    const ZXing::Result result = ZXing::ReadBarcode(view);
    return result.isValid() ? result.text() : std::string();
}

const QSize frameSize(1280, 720);

struct WarningLog
{
    QStringList texts;
    WarningLog()
    {
        testenv::captureWarnings(texts);
    }
    ~WarningLog() { WarningBox::setHandler({}); }
};

QPushButton *button(Erweima &dialog, const char *name)
{
    auto *found = dialog.findChild<QPushButton *>(QLatin1String(name));
    EXPECT_NE(found, nullptr) << name;
    return found;
}

} // namespace

TEST(BarcodeReader, ReadsQrCodeAndCode128ButNotEan13)
{
    struct Case
    {
        BarcodeFormat format;
        std::string text;
        int width;
        QString expected;   // empty: must not be read
    };
    const Case cases[] = {
        {BarcodeFormat::QRCode, "https://example.org/desk/42", 260, "https://example.org/desk/42"},
        {BarcodeFormat::QRCode, "申请编号 2026-0042", 300, QStringLiteral("申请编号 2026-0042")},
        {BarcodeFormat::Code128, "DOC-2026-0042", 520, "DOC-2026-0042"},
        {BarcodeFormat::EAN13, "5901234123457", 420, QString()},
        {BarcodeFormat::Code39, "CODE39", 480, QString()},
    };
    for (const Case &c : cases) {
        const QImage frame = barcodecodes::frameWithCode(c.format, c.text, frameSize, {c.width, 0.0, 0.0});
        EXPECT_EQ(readWithAllFormats(frame), c.text);
        EXPECT_EQ(BarcodeReader::decode(frame), c.expected) << c.text;
    }
}

TEST(BarcodeReader, ReadsTiltedAndSoftCodes)
{
    const QImage tilted = barcodecodes::frameWithCode(BarcodeFormat::QRCode, "tilted", frameSize, {280, 20.0, 0.0});
    EXPECT_EQ(BarcodeReader::decode(tilted), "tilted");
    const QImage soft = barcodecodes::frameWithCode(BarcodeFormat::Code128, "SOFT-1", frameSize, {520, 0.0, 1.0});
    EXPECT_EQ(BarcodeReader::decode(soft), "SOFT-1");
}

TEST(BarcodeReader, ReadsGreyModeFrames)
{
    // In grey colour mode the preview frames are one-channel (indexed grey).
    const QImage colour =
        barcodecodes::frameWithCode(BarcodeFormat::QRCode, "grey mode", frameSize, {260, 0.0, 0.0});
    cv::Mat grey;
    cv::cvtColor(ImageProcessing::QImageToMat(colour), grey, cv::COLOR_BGR2GRAY);
    const QImage indexed = ImageProcessing::MatQImage(grey);
    ASSERT_EQ(indexed.format(), QImage::Format_Indexed8);
    EXPECT_EQ(BarcodeReader::decode(indexed), "grey mode");
}

TEST(BarcodeReader, TextThatIsNotUtf8IsReadAsGb18030)
{
    // "收费单号 ¥128" as a local system prints it: GB 18030 bytes, no declared
    // character set, not valid UTF-8.
    const QString expected = QStringLiteral("收费单号 ¥128");
    const QByteArray gb18030 = QTextCodec::codecForName("GB18030")->fromUnicode(expected);
    ASSERT_NE(QString::fromUtf8(gb18030), expected);
    const QImage frame = barcodecodes::frameWithQrBytes(gb18030.toStdString(), frameSize, {300, 0.0, 0.0});
    EXPECT_EQ(BarcodeReader::decode(frame), expected);

    // The same words written as UTF-8 without a declared character set stay UTF-8.
    const QImage utf8 = barcodecodes::frameWithQrBytes(expected.toUtf8().toStdString(), frameSize, {300, 0.0, 0.0});
    EXPECT_EQ(BarcodeReader::decode(utf8), expected);
}

TEST(BarcodeReader, ReadsEveryFrameLayoutThePreviewDelivers)
{
    const QImage rgb = barcodecodes::frameWithCode(BarcodeFormat::Code128, "LAYOUT-7", frameSize, {520, 0.0, 0.0});
    for (QImage::Format format : {QImage::Format_RGB888, QImage::Format_RGB32, QImage::Format_ARGB32,
                                  QImage::Format_Grayscale8, QImage::Format_RGB16, QImage::Format_BGR888})
        EXPECT_EQ(BarcodeReader::decode(rgb.convertToFormat(format)), "LAYOUT-7") << int(format);
}

TEST(BarcodeReader, FramesWithoutCodesYieldNothing)
{
    EXPECT_EQ(BarcodeReader::decode(QImage()), QString());
    const QImage page = barcodecodes::frameWithCode(BarcodeFormat::QRCode, "", frameSize, {});
    EXPECT_EQ(BarcodeReader::decode(page), QString());
}

TEST(Erweima, FormShowsTheResult)
{
    Erweima dialog;
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("条码识别结果"));
    EXPECT_EQ(dialog.size(), QSize(596, 144));
    EXPECT_EQ(dialog.findChild<QLabel *>("label")->text(), QStringLiteral("条码识别结果"));
    EXPECT_EQ(button(dialog, "pushButton")->text(), QStringLiteral("复制到剪切板"));
    EXPECT_EQ(button(dialog, "pushButton_2")->text(), QStringLiteral("打开链接"));
    EXPECT_EQ(button(dialog, "pushButton_3")->text(), QStringLiteral("关闭"));

    dialog.receiveTCData("first");
    dialog.receiveTCData("second result");
    EXPECT_EQ(dialog.findChild<QLineEdit *>("lineEdit")->text(), "second result");
    EXPECT_EQ(dialog.text(), "second result");
}

TEST(Erweima, CopyPutsTheTextOnTheClipboard)
{
    Erweima dialog;
    QGuiApplication::clipboard()->setText("old");
    dialog.receiveTCData(QStringLiteral("票据 0042"));
    button(dialog, "pushButton")->click();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("票据 0042"));
}

TEST(Erweima, OpensOnlyLinks)
{
    UrlCatcher catcher;
    for (const char *scheme : {"http", "https", "HTTP", "ftp", ""})
        QDesktopServices::setUrlHandler(QLatin1String(scheme), &catcher, "open");

    struct Case
    {
        QString text;
        QString opened;   // empty: refused with the warning
    };
    const Case cases[] = {
        {"http://example.org/a?b=1", "http://example.org/a?b=1"},
        {"https://example.org/secure", "https://example.org/secure"},
        {"www.example.org/page", "http://www.example.org/page"},
        {"HTTP://EXAMPLE.ORG", QString()},
        {"WWW.EXAMPLE.ORG", QString()},
        {"ftp://example.org/file", QString()},
        {QStringLiteral("纯文字内容"), QString()},
        {QString(), QString()},
    };
    for (const Case &c : cases) {
        WarningLog warnings;
        catcher.opened.clear();
        Erweima dialog;
        dialog.receiveTCData(c.text);
        button(dialog, "pushButton_2")->click();
        if (c.opened.isEmpty()) {
            EXPECT_TRUE(catcher.opened.isEmpty()) << c.text.toStdString();
            EXPECT_EQ(warnings.texts, QStringList{QStringLiteral("警告|未检测链接地址！")}) << c.text.toStdString();
        } else {
            ASSERT_EQ(catcher.opened.size(), 1) << c.text.toStdString();
            EXPECT_EQ(catcher.opened.first().toString(), c.opened);
            EXPECT_TRUE(warnings.texts.isEmpty());
        }
    }
    for (const char *scheme : {"http", "https", "HTTP", "ftp", ""})
        QDesktopServices::unsetUrlHandler(QLatin1String(scheme));
}

TEST(Erweima, CloseButtonHidesTheDialog)
{
    Erweima dialog;
    dialog.show();
    ASSERT_TRUE(dialog.isVisible());
    button(dialog, "pushButton_3")->click();
    EXPECT_FALSE(dialog.isVisible());
}

