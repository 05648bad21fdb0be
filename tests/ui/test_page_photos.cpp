// Photos with the page switches: names read off a QR code or a Code 128 and
// made safe (hostile texts stay inside the working directory, no hidden
// files, bounded length, no overwriting), and blank sheets left out only
// when asked, with a note, while a sheet with one small signature is kept.
#include "blankpage.h"
#include "cache.h"
#include "config.h"
#include "imageprocessing.h"
#include "pagemaker.h"
#include "photonaming.h"
#include "testenv.h"

#include <QDir>
#include <QFileInfo>
#include <QImage>

#include <opencv2/imgproc.hpp>

#include <gtest/gtest.h>

#include <memory>

namespace {

const QSize kPage(900, 1272);

cv::Mat frameOf(const QImage &page)
{
    const QImage rgb = page.convertToFormat(QImage::Format_RGB888);
    cv::Mat wrapped(rgb.height(), rgb.width(), CV_8UC3, const_cast<uchar *>(rgb.constBits()),
                    size_t(rgb.bytesPerLine()));
    cv::Mat bgr;
    cv::cvtColor(wrapped, bgr, cv::COLOR_RGB2BGR);
    return bgr;
}

class PagePhotos : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(documents.isValid());
        testenv::resetConfig(documents);
        Config &config = *Cache::config;
        config.gnIswhite = false;
        config.codec = QStringLiteral("png");
        config.saveType = 0;
        config.savePrefix = QStringLiteral("IMG");
        config.saveNumber = 1;
        camera = std::make_unique<ImageProcessing>();
        QObject::connect(camera.get(), &ImageProcessing::sendPhotoNoticeSignal,
                         [this](QString text) { notices.append(text); });
    }
    void TearDown() override { camera.reset(); }

    // The whole frame is the photo (no document cut-out), as with correction 0.
    QStringList shoot(const QImage &page, int colourMode = 0)
    {
        camera->shootType = colourMode;
        camera->setCurrentFrame(frameOf(page));
        return camera->takePhotoPaths();
    }

    QStringList files() const { return QDir(documents.path()).entryList(QDir::Files | QDir::Hidden); }

    QTemporaryDir documents;
    std::unique_ptr<ImageProcessing> camera;
    QStringList notices;
};

TEST_F(PagePhotos, HostileCodeTextsGiveSafeNamesInsideTheWorkingDirectory)
{
    Config &config = *Cache::config;
    const QString longText(300, QLatin1Char('x'));
    const struct {
        QString text;
        QString expected;   // file name without extension
    } cases[] = {
        {QStringLiteral("../x"), QStringLiteral("_x")},
        {QStringLiteral("a/b"), QStringLiteral("a_b")},
        {QStringLiteral(".hidden"), QStringLiteral("hidden")},
        {QStringLiteral("合同编号 二〇二六-07"), QStringLiteral("合同编号 二〇二六-07")},
        {QStringLiteral("C:\\temp\\*?<>|\"x\"\n"), QStringLiteral("C__temp_______x__")},
        {longText, QString(100, QLatin1Char('x'))},
    };
    for (const auto &entry : cases) {
        const QString path = photonaming::reserveNamedPath(config, entry.text, QStringLiteral("png"));
        ASSERT_FALSE(path.isEmpty()) << entry.text.toStdString();
        const QFileInfo info(path);
        EXPECT_EQ(info.absolutePath(), QDir(documents.path()).absolutePath());
        EXPECT_EQ(info.completeBaseName(), entry.expected);
        EXPECT_TRUE(info.exists());
    }
    // 300 Chinese characters: 100 characters would be 300 bytes, more than a
    // file name may have; the name is cut further and still fits.
    const QString chinese = QString(300, QChar(0x5B57));
    const QString cut = photonaming::reserveNamedPath(config, chinese, QStringLiteral("png"));
    ASSERT_FALSE(cut.isEmpty());
    EXPECT_LE(QFileInfo(cut).fileName().toUtf8().size(), 255);
    EXPECT_TRUE(QFileInfo(cut).completeBaseName().startsWith(QString(60, QChar(0x5B57))));
    // Nothing usable is left: no name, so the caller names it as usual.
    EXPECT_TRUE(photonaming::reserveNamedPath(config, QStringLiteral(".."), QStringLiteral("png")).isEmpty());
    EXPECT_EQ(config.saveNumber, 1);   // named files use no running number
}

TEST_F(PagePhotos, PhotoIsNamedAfterItsCodeWithoutOverwritingAndOnlyWhenSwitchedOn)
{
    const QImage form = pagemaker::formWithCode(pagemaker::Code::Qr, "../Batch 7/A", kPage);
    ASSERT_FALSE(form.isNull());
    EXPECT_EQ(shoot(form), QStringList{documents.filePath(QStringLiteral("IMG_1.png"))});

    Cache::config->barcodeNaming = true;
    EXPECT_EQ(shoot(form), QStringList{documents.filePath(QStringLiteral("_Batch 7_A.png"))});
    EXPECT_EQ(shoot(form), QStringList{documents.filePath(QStringLiteral("_Batch 7_A_1.png"))});
    const QImage bars = pagemaker::formWithCode(pagemaker::Code::Code128, "INV-2026-0042", kPage);
    EXPECT_EQ(shoot(bars, 2), QStringList{documents.filePath(QStringLiteral("INV-2026-0042.png"))});
    // A page without a code keeps the usual name and number.
    const QImage plain = pagemaker::textPage(3, kPage, 6).image;
    EXPECT_EQ(shoot(plain), QStringList{documents.filePath(QStringLiteral("IMG_2.png"))});
    EXPECT_EQ(Cache::config->saveNumber, 3);
    for (const QString &name : files())
        EXPECT_FALSE(QImage(documents.filePath(name)).isNull()) << name.toStdString();
}

TEST_F(PagePhotos, BlankSheetsAreLeftOutOnlyWhenSwitchedOnAndSignedOnesNever)
{
    const QImage blank = pagemaker::throughJpeg(pagemaker::blankPage(5, kPage), 75);
    const QImage signed_ = pagemaker::throughJpeg(pagemaker::signaturePage(5, kPage), 75);
    for (int mode : {0, 1, 2, 3}) {
        SCOPED_TRACE(mode);
        Cache::config->dropBlankPages = false;
        notices.clear();
        EXPECT_EQ(shoot(blank, mode).size(), 1);   // off: never lost
        Cache::config->dropBlankPages = true;
        EXPECT_TRUE(shoot(blank, mode).isEmpty());
        EXPECT_EQ(shoot(signed_, mode).size(), 1);
        ASSERT_TRUE(testenv::waitFor([&] { return !notices.isEmpty(); }, 2000));
        EXPECT_TRUE(notices.first().contains(QStringLiteral("空白页"))) << notices.first().toStdString();
        EXPECT_EQ(notices.size(), 1);
    }
    EXPECT_EQ(files().size(), 8);
}

TEST(BlankPage, PaperNoiseIsBlankAndEveryKindOfSmallMarkIsNot)
{
    const QSize size(1240, 1754);
    for (unsigned seed = 1; seed <= 4; ++seed) {
        SCOPED_TRACE(seed);
        EXPECT_TRUE(blankpage::isBlank(pagemaker::throughJpeg(pagemaker::blankPage(seed, size), 60)));
        EXPECT_FALSE(blankpage::isBlank(pagemaker::throughJpeg(pagemaker::signaturePage(seed, size), 60)));
        EXPECT_FALSE(blankpage::isBlank(pagemaker::throughJpeg(pagemaker::sparsePage(seed, size), 60)));
    }
    const QImage separator = pagemaker::codePage(pagemaker::Code::Qr, "SEP-1", size);
    EXPECT_FALSE(blankpage::isBlank(separator));
}

} // namespace
