// Photos where the working directory is in a bad state, after the running
// number was reset below files already there, and with face mode on a frame
// that has no face: nothing is lost silently, no running number is spent on
// a photo that was not written, and an old face never replaces a document.
#include "imageprocessing.h"
#include "photonaming.h"
#include "testframes.h"

#include "cache.h"
#include "config.h"
#include "capturetest.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QSettings>

#include <unistd.h>

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

} // namespace
