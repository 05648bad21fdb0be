// Photos where the working directory is in a bad state, after the running
// number was reset below files already there, and with face mode on a frame
// that has no face: nothing is lost silently, no running number is spent on
// a photo that was not written, and an old face never replaces a document.
#include "imageprocessing.h"
#include "documentwriter.h"
#include "photonaming.h"
#include "testframes.h"

#include "cache.h"
#include "config.h"
#include "capturetest.h"

#include <gtest/gtest.h>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QSettings>

#include <unistd.h>

#include <cmath>
#include <memory>

namespace {

class PhotoSaving : public testenv::CaptureTest
{
protected:
    void SetUp() override
    {
        CaptureTest::SetUp();
        if (HasFatalFailure())
            return;
        Cache::config->gnIswhite = false;
        Cache::config->codec = QStringLiteral("png");
        camera->setCurrentFrame(testframes::scene({640, 360}, {}));
    }

    void TearDown() override
    {
        QFile::setPermissions(documents.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        CaptureTest::TearDown();
    }

    static int savedNumber()
    {
        return QSettings(Cache::config->fileName, QSettings::IniFormat).value("save/number").toInt();
    }
};

TEST_F(PhotoSaving, AWorkingDirectoryRemovedMeanwhileIsMadeAgain)
{
    const QString work = documents.path() + QStringLiteral("/photos");
    Cache::config->documentsLocation = work;
    ASSERT_FALSE(QFileInfo::exists(work));
    camera->takePhoto();
    ASSERT_EQ(delivered.size(), 1);
    EXPECT_EQ(delivered[0], QList<QString>{work + QStringLiteral("/IMG_1.png")});
    EXPECT_FALSE(QImageReader(delivered[0][0]).size().isEmpty());
    EXPECT_TRUE(failures.isEmpty());
    EXPECT_EQ(Cache::config->saveNumber, 2);

    Cache::config->saveType = 1;   // time names too
    QDir(work).removeRecursively();
    camera->takePhoto();
    ASSERT_EQ(delivered.size(), 2);
    EXPECT_TRUE(QFileInfo(delivered[1][0]).size() > 0);
}

TEST_F(PhotoSaving, APhotoThatCannotBeWrittenIsReportedAndSpendsNoNumber)
{
    // A path below a plain file can be created by nobody, root included.
    QFile blocker(documents.path() + QStringLiteral("/not-a-directory"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    Cache::config->saveNumber = 7;
    Cache::config->save();
    Cache::config->documentsLocation = blocker.fileName() + QStringLiteral("/photos");
    for (int saveType : {0, 1}) {
        Cache::config->saveType = saveType;
        camera->takePhoto();
        EXPECT_TRUE(delivered.isEmpty());
        ASSERT_EQ(failures.size(), saveType + 1);
        EXPECT_TRUE(failures.last().contains(Cache::config->documentsLocation))
            << failures.last().toStdString();
        EXPECT_EQ(Cache::config->saveNumber, 7);
        EXPECT_EQ(savedNumber(), 7);
    }
}

TEST_F(PhotoSaving, AReadOnlyWorkingDirectoryIsReportedAndSpendsNoNumber)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "file permissions do not bind root";
    ASSERT_TRUE(QFile::setPermissions(documents.path(), QFile::ReadOwner | QFile::ExeOwner));
    Cache::config->saveNumber = 3;
    camera->takePhoto();
    EXPECT_TRUE(delivered.isEmpty());
    EXPECT_EQ(failures.size(), 1);
    EXPECT_EQ(Cache::config->saveNumber, 3);
    EXPECT_TRUE(QDir(documents.path()).entryList(QDir::Files).isEmpty());
}

TEST_F(PhotoSaving, ANumberResetBelowExistingFilesSkipsToTheNextFreeOne)
{
    for (int n = 1; n <= 300; ++n) {
        QFile file(QStringLiteral("%1/IMG_%2.png").arg(documents.path()).arg(n));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    QFile other(documents.path() + QStringLiteral("/IMG_302.png"));
    ASSERT_TRUE(other.open(QIODevice::WriteOnly));
    other.close();
    Cache::config->saveNumber = 1;   // what "默认设置" leaves
    Cache::config->save();

    camera->takePhoto();
    ASSERT_EQ(delivered.size(), 1);
    EXPECT_EQ(QFileInfo(delivered[0][0]).fileName(), QStringLiteral("IMG_301.png"));
    EXPECT_EQ(Cache::config->saveNumber, 302);
    EXPECT_EQ(savedNumber(), 302);
    camera->takePhoto();
    ASSERT_EQ(delivered.size(), 2);
    EXPECT_EQ(QFileInfo(delivered[1][0]).fileName(), QStringLiteral("IMG_303.png"));
    EXPECT_EQ(savedNumber(), 304);
    // The files that were there are untouched.
    EXPECT_EQ(QFileInfo(documents.path() + QStringLiteral("/IMG_302.png")).size(), 0);
}

TEST_F(PhotoSaving, AGivenBackNumberIsReusedOnlyWhenNothingCameAfterIt)
{
    Cache::config->saveNumber = 5;
    const QString first = photonaming::reservePhotoPath(*Cache::config, QStringLiteral("png"));
    EXPECT_EQ(QFileInfo(first).fileName(), QStringLiteral("IMG_5.png"));
    photonaming::giveBack(*Cache::config, first);
    EXPECT_FALSE(QFileInfo::exists(first));
    EXPECT_EQ(Cache::config->saveNumber, 5);

    const QString again = photonaming::reservePhotoPath(*Cache::config, QStringLiteral("png"));
    const QString later = photonaming::reservePhotoPath(*Cache::config, QStringLiteral("png"));
    EXPECT_EQ(again, first);
    photonaming::giveBack(*Cache::config, again);   // 6 was handed out since
    EXPECT_EQ(Cache::config->saveNumber, 7);
    EXPECT_FALSE(QFileInfo::exists(again));
    EXPECT_TRUE(QFileInfo::exists(later));
}

TEST_F(PhotoSaving, AFaceSeenEarlierDoesNotReplaceAPhotoWithoutOne)
{
    if (camera->faceClassifier.empty())
        GTEST_SKIP() << "no face cascade in the build's Resources";
    Cache::config->gnRenlian = true;
    // A large face found on an earlier frame.
    camera->setObjectFace(cv::Rect(40, 20, 520, 520));
    camera->setCurrentFrame(testframes::scene({1280, 720}, {}));
    camera->takePhoto();
    ASSERT_EQ(delivered.size(), 1);
    ASSERT_EQ(delivered[0].size(), 1);
    EXPECT_EQ(QImageReader(delivered[0][0]).size(), QSize(1280, 720));
    EXPECT_EQ(camera->objectFaceNow(), cv::Rect());
}

// A cut-out sheet whose proportions are those of a standard paper says how
// large it was through its resolution, in every format; any other picture
// keeps the resolution photos always had. The camera sees about an A3
// sheet's length (420 mm) across its frame.
TEST_F(PhotoSaving, ACutOutSheetOfAStandardPaperSizeCarriesItsResolution)
{
    const cv::Size frame(2448, 1836);
    const double pixelsPerMm = 2448 / 420.0;
    const auto sheet = [&](double widthMm, double heightMm) {
        return testframes::Sheet{
            {1224.0f, 918.0f},
            {int(std::lround(widthMm * pixelsPerMm)), int(std::lround(heightMm * pixelsPerMm))}};
    };
    const double expectedPpi = pixelsPerMm * 25.4; // about 148
    camera->correction = 1;
    struct Case {
        const char *codec;
        bool tiff;
        testframes::Sheet sheet;
        double ppi;
    };
    const Case cases[] = {
        {"jpg", false, sheet(210, 297), expectedPpi},     // A4 upright
        {"png", false, sheet(279.4, 215.9), expectedPpi}, // Letter across
        {"jpg", true, sheet(85.6, 53.98), expectedPpi},   // identity card, as TIFF
        {"jpg", false, sheet(250, 210), 100.0},           // no paper: as always
    };
    QString card;
    for (const Case &shot : cases) {
        Cache::config->codec = QString::fromLatin1(shot.codec);
        camera->saveImageToTiff = shot.tiff;
        camera->setCurrentFrame(testframes::scene(frame, {shot.sheet}));
        delivered.clear();
        camera->takePhoto();
        ASSERT_EQ(delivered.size(), 1) << shot.codec;
        const QString path = delivered[0][0];
        const QImage written(path);
        ASSERT_FALSE(written.isNull()) << path.toStdString();
        EXPECT_NEAR(written.dotsPerMeterX() * 0.0254, shot.ppi, 1.0) << path.toStdString();
        EXPECT_NEAR(written.dotsPerMeterY() * 0.0254, shot.ppi, 1.0) << path.toStdString();
        if (shot.tiff)
            card = path;
    }

    // The identity card becomes a page of its own size in a PDF.
    const QString pdf = documents.path() + QStringLiteral("/card.pdf");
    ASSERT_TRUE(documentwriter::writePdf({card}, pdf, {}).written);
    // Read from the file itself: the user-mode emulator the arm64 build's
    // tests run under cannot start another program (pdfinfo) from this one.
    QPDF written;
    written.processFile(QFile::encodeName(pdf).constData());
    const std::vector<QPDFPageObjectHelper> pages = QPDFPageDocumentHelper(written).getAllPages();
    ASSERT_EQ(pages.size(), 1u);
    const QPDFObjectHandle::Rectangle box =
        QPDFPageObjectHelper(pages[0]).getMediaBox().getArrayAsRectangle();
    EXPECT_NEAR(box.urx - box.llx, 242.65, 0.006);   // 85.6 mm
    EXPECT_NEAR(box.ury - box.lly, 153.01, 0.006);   // 53.98 mm
}

} // namespace
