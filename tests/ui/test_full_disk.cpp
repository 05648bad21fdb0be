// A working directory on a disk that fills up: photos, merged pictures,
// pictures a page asks for, recordings and exported documents that are cut
// short. Nothing cut short may be reported as written or left under a real
// name, no running number is spent on it, the user is told, and what he had
// (the export's page list, an older file at a page's path) is kept.
//
// The documents branch checks its PDF writer against the export cases here.
#include "cache.h"
#include "capturetest.h"
#include "config.h"
#include "fakeclock.h"
#include "fulldisk.h"
#include "imagemergingdialog.h"
#include "imageprocessing.h"
#include "imagesavepdfortiffdialog.h"
#include "pagemaker.h"
#include "pageprogress.h"
#include "recording.h"
#include "testenv.h"
#include "uitesthelpers.h"
#include "ui_imagemergingdialog.h"
#include "ui_imagesavepdfortiffdialog.h"

#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include <gtest/gtest.h>

#include <memory>

namespace {

// Noise compresses badly, so a few pictures fill a small disk.
cv::Mat noise(int width, int height, int seed)
{
    cv::Mat picture(height, width, CV_8UC3);
    cv::RNG random{uint64(seed)};
    random.fill(picture, cv::RNG::UNIFORM, 0, 256);
    return picture;
}

class FullDiskTest : public testenv::CaptureTest
{
protected:
    void SetUp() override
    {
        CaptureTest::SetUp();
        if (HasFatalFailure())
            return;
        SKIP_WITHOUT_FULL_DISK(disk);
        ASSERT_TRUE(sources.isValid());
        Config &config = *Cache::config;
        config.documentsLocation = disk.path();
        config.gnIswhite = false;
        config.saveType = 0;
        config.savePrefix = QStringLiteral("IMG");
        config.saveNumber = 1;
        config.save();
    }
    void TearDown() override
    {
        pageprogress::setDelay(1000);
        CaptureTest::TearDown();
    }

    // A noisy JPEG outside the full disk, for the dialogs to read.
    QString sourcePicture(const QString &name, int width, int height, int seed)
    {
        const QString path = sources.filePath(name);
        EXPECT_TRUE(cv::imwrite(QFile::encodeName(path).toStdString(), noise(width, height, seed)));
        return path;
    }

    testenv::FullDisk disk{4 * 1024 * 1024};
    QTemporaryDir sources;
    FakeClock clock{QDateTime(QDate(2026, 12, 7), QTime(9, 5, 11, 42))};
};

TEST_F(FullDiskTest, PhotosMergedPicturesAndPagePicturesCutShortLeaveNothingAndSpendNoNumber)
{
    camera->setCurrentFrame(noise(1280, 720, 1));
    ASSERT_TRUE(disk.leaveFree(64 * 1024));

    camera->takePhoto();
    EXPECT_TRUE(delivered.isEmpty());
    ASSERT_EQ(failures.size(), 1);
    EXPECT_TRUE(disk.files().isEmpty()) << disk.files().join(',').toStdString();
    EXPECT_EQ(Cache::config->saveNumber, 1);

    ImageMergingDialog merging;
    merging.setImage({sourcePicture("left.jpg", 800, 600, 2), sourcePicture("right.jpg", 800, 600, 3)});
    merging.show();
    QSignalSpy merged(&merging, &ImageMergingDialog::saveImageMergingSignals);
    merging.findChild<QPushButton *>(QStringLiteral("btnSave"))->click();
    EXPECT_TRUE(merged.isEmpty());
    ASSERT_EQ(warnings.size(), 1);
    EXPECT_TRUE(warnings.last().startsWith(QStringLiteral("警告|")));
    EXPECT_TRUE(disk.files().isEmpty()) << disk.files().join(',').toStdString();
    EXPECT_EQ(Cache::config->saveNumber, 1);

    // A page's own path: the picture that was there stays, and the page
    // hears that nothing was written.
    disk.makeRoom();
    const QString contract = disk.file(QStringLiteral("contract.jpg"));
    ASSERT_TRUE(cv::imwrite(QFile::encodeName(contract).toStdString(), noise(64, 48, 4)));
    QFile old(contract);
    ASSERT_TRUE(old.open(QIODevice::ReadOnly));
    const QByteArray oldBytes = old.readAll();
    old.close();
    ASSERT_TRUE(disk.leaveFree(64 * 1024));
    EXPECT_FALSE(camera->takePhotoByWeb(contract, 80, 0, 0));
    ASSERT_TRUE(old.open(QIODevice::ReadOnly));
    EXPECT_EQ(old.readAll(), oldBytes);
    EXPECT_EQ(disk.files(), QStringList{QStringLiteral("contract.jpg")});

    // With room again the number that was not spent is the next photo's.
    disk.makeRoom();
    camera->takePhoto();
    ASSERT_EQ(delivered.size(), 1);
    EXPECT_EQ(delivered[0], QList<QString>{disk.file(QStringLiteral("IMG_1.jpg"))});
    EXPECT_FALSE(QImage(delivered[0][0]).isNull());
}

TEST_F(FullDiskTest, PdfOrTiffCutShortWarnsKeepsThePagesAndLeavesNoFile)
{
    pageprogress::setDelay(0);
    const QStringList pages{sourcePicture("a.jpg", 1600, 1200, 5), sourcePicture("b.jpg", 1200, 1600, 6),
                            sourcePicture("c.jpg", 1600, 1200, 7)};
    ImageSavePDFOrTiffDialog dialog;
    dialog.init();
    dialog.show();
    QSignalSpy reported(&dialog, &ImageSavePDFOrTiffDialog::saveImageMergingSignals);
    ASSERT_TRUE(disk.leaveFree(256 * 1024));

    for (QPushButton *button : {dialog.form()->btnSavePDF, dialog.form()->btnSaveTiff}) {
        warnings.clear();
        dialog.setImage(pages);
        button->click();
        EXPECT_TRUE(reported.isEmpty()) << button->text().toStdString();
        ASSERT_EQ(warnings.size(), 1) << button->text().toStdString();
        EXPECT_TRUE(warnings.first().startsWith(QStringLiteral("警告|")));
        EXPECT_EQ(dialog.pagePaths(), pages);
        EXPECT_TRUE(dialog.isVisible());
        EXPECT_TRUE(disk.files().isEmpty()) << disk.files().join(',').toStdString();
        EXPECT_EQ(Cache::config->saveNumber, 1);
        dialog.init();
    }
}

// Separator sheets split the list; the second document does not fit. The
// first is on disk and leaves the list, the second keeps its separator and
// pages for another try, and the user is told which one failed.
TEST_F(FullDiskTest, SplitExportFailingPartWayKeepsOnlyTheDocumentsNotWritten)
{
    pageprogress::setDelay(0);
    Cache::config->barcodeSeparator = true;
    const QSize sheet(620, 877);
    const auto save = [&](const QImage &image, const QString &name) {
        const QString path = sources.filePath(name);
        EXPECT_TRUE(image.save(path, "jpg", 85));
        return path;
    };
    const QString first = save(pagemaker::codePage(pagemaker::Code::Qr, "SMALL", sheet), "s1.jpg");
    const QString small = save(pagemaker::blankPage(1, QSize(200, 280)), "p1.jpg");
    const QString second = save(pagemaker::codePage(pagemaker::Code::Qr, "LARGE", sheet), "s2.jpg");
    const QString large1 = sourcePicture("p2.jpg", 1600, 1200, 8);
    const QString large2 = sourcePicture("p3.jpg", 1600, 1200, 9);

    ImageSavePDFOrTiffDialog dialog;
    dialog.init();
    dialog.show();
    QStringList notes;
    QObject::connect(&dialog, &ImageSavePDFOrTiffDialog::statusMessage,
                     [&](QString text) { notes.append(text); });
    QSignalSpy reported(&dialog, &ImageSavePDFOrTiffDialog::saveImageMergingSignals);
    dialog.setImage({first, small, second, large1, large2});
    ASSERT_TRUE(disk.leaveFree(256 * 1024));
    dialog.form()->btnSavePDF->click();
    Cache::config->barcodeSeparator = false;

    ASSERT_EQ(reported.size(), 1);
    EXPECT_EQ(disk.files(), QStringList{QStringLiteral("SMALL.pdf")});
    EXPECT_EQ(dialog.pagePaths(), QStringList({second, large1, large2}));
    EXPECT_EQ(dialog.imageCount(), 3);
    ASSERT_EQ(warnings.size(), 1);
    EXPECT_TRUE(warnings.first().contains(QStringLiteral("LARGE"))) << warnings.first().toStdString();
    ASSERT_FALSE(notes.isEmpty());
    EXPECT_TRUE(notes.last().contains(QStringLiteral("LARGE"))) << notes.last().toStdString();
    EXPECT_TRUE(dialog.isVisible());
}

TEST_F(FullDiskTest, RecordingCutShortIsReportedAndKeptOnlyAsIncomplete)
{
    Recording recording(*camera);
    QStringList problems;
    QObject::connect(&recording, &Recording::problem, [&](QString text) { problems.append(text); });
    QList<bool> announced;
    QObject::connect(&recording, &Recording::finished, [&](QString, bool saved) { announced.append(saved); });
    camera->setCurrentFrame(noise(640, 480, 10));
    ASSERT_TRUE(disk.leaveFree(1536 * 1024));

    const QString video = recording.beginTimedVideo();
    ASSERT_EQ(video, disk.file(QStringLiteral("2026_12_07_09_05_11.042.avi")));
    clock.advance(3000);   // thirty frames are due; a handful fit
    recording.end();
    ASSERT_TRUE(testenv::waitFor([&] { return !announced.isEmpty(); }, 20000));
    EXPECT_EQ(announced, QList<bool>{false});

    ASSERT_EQ(problems.size(), 1);
    EXPECT_FALSE(QFileInfo::exists(video));
    const QString incomplete = disk.file(QStringLiteral("2026_12_07_09_05_11.042_未完成.avi"));
    if (QFileInfo::exists(incomplete)) {
        EXPECT_EQ(recording.path(), incomplete);
        EXPECT_TRUE(problems.first().contains(incomplete)) << problems.first().toStdString();
        const uitest::AviInfo kept = uitest::readAvi(incomplete);
        EXPECT_TRUE(kept.opened);
        EXPECT_LT(kept.frames, 30);
    }
    EXPECT_TRUE(disk.files().isEmpty() || disk.files() == QStringList{QFileInfo(incomplete).fileName()})
        << disk.files().join(',').toStdString();
}

} // namespace
