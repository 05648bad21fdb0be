// The station's one recorder, seen from outside: the files it leaves, their
// names, frame counts and sizes, the sound recorder it runs, and its rules
// for starting, stopping and failing. A test clock paces the frames, so
// nothing here depends on how fast the machine is.
#include "cache.h"
#include "config.h"
#include "fakeclock.h"
#include "imageprocessing.h"
#include "recordedvideo.h"
#include "recording.h"
#include "testenv.h"
#include "uitesthelpers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSemaphore>
#include <QSignalSpy>

#include <opencv2/imgproc.hpp>

#include <gtest/gtest.h>

#include <memory>

namespace {

class RecordingTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(documents.isValid());
        testenv::resetConfig(documents);
        capture = std::make_unique<ImageProcessing>();
        recording = std::make_unique<Recording>(*capture);
        problems = std::make_unique<QSignalSpy>(recording.get(), &Recording::problem);
        announced = std::make_unique<QSignalSpy>(recording.get(), &Recording::finished);
    }
    void TearDown() override
    {
        recording.reset();
        Cache::config->gnRecord = false;
    }

    // Ends the recording and waits for its file's announcement: whether it was saved.
    bool endAndWait()
    {
        const int before = announced->size();
        recording->end();
        if (!testenv::waitFor([&] { return announced->size() > before; }, 10000))
            return false;
        return announced->last().at(1).toBool();
    }
    QStringList announcedPaths() const
    {
        QStringList paths;
        for (const QList<QVariant> &emitted : *announced)
            paths << emitted.at(0).toString();
        return paths;
    }
    QString documentPath(const QString &name) const { return documents.path() + '/' + name; }
    QStringList reported() const
    {
        QStringList texts;
        for (const QList<QVariant> &emitted : *problems)
            texts << emitted.at(0).toString();
        return texts;
    }
    QStringList filesInDocuments() const
    {
        return QDir(documents.path()).entryList(QDir::Files, QDir::Name);
    }

    QTemporaryDir documents;
    QTemporaryDir bin;
    // The station clock, moved on by the test; it outlives the recorder.
    FakeClock clock{QDateTime(QDate(2026, 12, 7), QTime(9, 5, 11, 42))};
    std::unique_ptr<ImageProcessing> capture;
    std::unique_ptr<Recording> recording;
    std::unique_ptr<QSignalSpy> problems;
    std::unique_ptr<QSignalSpy> announced;
};

TEST_F(RecordingTest, VideoAndSoundShareTheStartTimeAndTheFramesFollowTheClock)
{
    const QString argsFile = bin.path() + QStringLiteral("/args.txt");
    uitest::installRecorderStandIn(bin, argsFile);
    Cache::config->gnRecord = true;
    capture->setCurrentFrame(uitest::testFrame(320, 240));

    const QString video = recording->beginTimedVideo();
    EXPECT_EQ(video, documentPath(QStringLiteral("2026_12_07_09_05_11.042.avi")));
    EXPECT_TRUE(recording->isRecordingVideo());
    EXPECT_NE(capture->videoWriter, nullptr);
    const QString wav = documentPath(QStringLiteral("2026_12_07_09_05_11.042.wav"));
    ASSERT_TRUE(testenv::waitFor([&] { return uitest::readLines(argsFile).size() == 6; }, 5000));
    EXPECT_EQ(uitest::readLines(argsFile),
              (QStringList{"-D", "hw:2,0", "-c1", "-r16000", "-fS16_LE", wav}));

    clock.advance(1000);
    recording->onWriterTimer();
    EXPECT_EQ(recording->recordedFrames(), 10);
    recording->onWriterTimer();   // no time has passed: nothing more is due
    EXPECT_EQ(recording->recordedFrames(), 10);
    // Ticks that came late are made up with the current picture.
    clock.advance(2050);
    EXPECT_TRUE(endAndWait());
    EXPECT_FALSE(recording->isRecording());
    EXPECT_EQ(capture->videoWriter, nullptr);
    EXPECT_TRUE(reported().isEmpty()) << reported().join(';').toStdString();

    const uitest::AviInfo file = uitest::readAvi(video);
    ASSERT_TRUE(file.opened);
    EXPECT_NEAR(file.fps, Recording::writerFps, 0.01);
    EXPECT_EQ(file.frames, 30);
    EXPECT_EQ(file.size, cv::Size(320, 240));
    const uitest::WavSizes sizes = uitest::wavSizes(wav);
    EXPECT_GE(sizes.fileSize, 44);
    EXPECT_EQ(sizes.riffSize, sizes.fileSize - 8);
}

TEST_F(RecordingTest, FramesOfAnotherSizeOrGreyAreFittedToTheRunningFile)
{
    capture->setCurrentFrame(uitest::testFrame(320, 240));
    const QString video = recording->beginTimedVideo();
    ASSERT_FALSE(video.isEmpty());
    clock.advance(300);
    recording->onWriterTimer();
    cv::Mat grey;
    cv::cvtColor(uitest::testFrame(640, 360), grey, cv::COLOR_BGR2GRAY);
    capture->setCurrentFrame(grey);
    clock.advance(300);
    ASSERT_TRUE(endAndWait());
    const uitest::AviInfo file = uitest::readAvi(video);
    EXPECT_EQ(file.frames, 6);
    EXPECT_EQ(file.size, cv::Size(320, 240));
}

TEST_F(RecordingTest, AWriterThatCannotStartLeavesNothingRunning)
{
    // No frame yet: nothing to take the size from.
    EXPECT_TRUE(recording->beginTimedVideo().isEmpty());
    EXPECT_FALSE(recording->isRecording());
    EXPECT_EQ(capture->videoWriter, nullptr);
    ASSERT_EQ(reported().size(), 1);
    EXPECT_TRUE(reported().at(0).startsWith(QStringLiteral("录像文件无法创建：")));

    // A page's path in a folder that does not exist.
    capture->setCurrentFrame(uitest::testFrame(320, 240));
    const QString nowhere = documentPath(QStringLiteral("missing/clip.avi"));
    EXPECT_FALSE(recording->beginVideo(nowhere));
    EXPECT_FALSE(recording->isRecording());
    EXPECT_EQ(capture->videoWriter, nullptr);
    EXPECT_FALSE(QFileInfo::exists(nowhere));
    EXPECT_EQ(reported().size(), 2);

    // Ending when nothing runs touches nothing and says nothing.
    recording->end();
    QCoreApplication::processEvents();
    EXPECT_EQ(reported().size(), 2);
    EXPECT_TRUE(announced->isEmpty());
    EXPECT_TRUE(filesInDocuments().isEmpty()) << filesInDocuments().join(';').toStdString();
}

TEST_F(RecordingTest, AMissingSoundDeviceIsReportedAndTheVideoRecordsRegardless)
{
    uitest::installFailingRecorder(bin);
    Cache::config->gnRecord = true;
    capture->setCurrentFrame(uitest::testFrame(320, 240));
    const QString video = recording->beginTimedVideo();
    ASSERT_FALSE(video.isEmpty());
    EXPECT_TRUE(recording->isRecordingVideo());
    ASSERT_EQ(reported().size(), 1);
    EXPECT_TRUE(reported().at(0).startsWith(QStringLiteral("录音设备无法打开")));
    clock.advance(500);
    EXPECT_TRUE(endAndWait());
    EXPECT_EQ(uitest::readAvi(video).frames, 5);
    EXPECT_EQ(reported().size(), 1);

    // The sound alone fails without leaving anything running.
    EXPECT_TRUE(recording->beginSound().isEmpty());
    EXPECT_FALSE(recording->isRecording());
    EXPECT_EQ(reported().size(), 2);
}

TEST_F(RecordingTest, SoundAloneIsNamedAfterTheClockAndFinishedCleanly)
{
    uitest::installRecorderStandIn(bin, bin.path() + QStringLiteral("/args.txt"));
    QDir(documents.path()).removeRecursively();   // made again on demand
    const QString wav = recording->beginSound();
    EXPECT_EQ(wav, documentPath(QStringLiteral("2026_12_07_09_05_11.042.wav")));
    EXPECT_TRUE(recording->isRecording());
    EXPECT_FALSE(recording->isRecordingVideo());
    EXPECT_EQ(capture->videoWriter, nullptr);
    ASSERT_TRUE(testenv::waitFor([&] { return QFileInfo(wav).size() > 44; }, 5000));
    recording->end();   // the sound is announced as it stops
    ASSERT_EQ(announced->size(), 1);
    EXPECT_EQ(announced->at(0), (QList<QVariant>{wav, true}));
    EXPECT_FALSE(recording->isRecording());
    const uitest::WavSizes sizes = uitest::wavSizes(wav);
    EXPECT_EQ(sizes.dataSize, sizes.fileSize - 44);
    EXPECT_TRUE(reported().isEmpty()) << reported().join(';').toStdString();
}

TEST_F(RecordingTest, ASecondBeginFinishesTheRunningFileFirst)
{
    uitest::installRecorderStandIn(bin, bin.path() + QStringLiteral("/args.txt"));
    capture->setCurrentFrame(uitest::testFrame(320, 240));
    const QString first = recording->beginTimedVideo();
    clock.advance(700);
    const QString second = recording->beginTimedVideo();
    ASSERT_FALSE(second.isEmpty());
    EXPECT_NE(first, second);
    // Complete and readable while the second one runs.
    ASSERT_TRUE(testenv::waitFor([&] { return announcedPaths() == QStringList{first}; }, 10000));
    EXPECT_EQ(uitest::readAvi(first).frames, 7);
    clock.advance(400);

    // The sound alone after a video finishes the video too.
    const QString wav = recording->beginSound();
    ASSERT_FALSE(wav.isEmpty());
    EXPECT_FALSE(recording->isRecordingVideo());
    EXPECT_EQ(capture->videoWriter, nullptr);
    EXPECT_EQ(recording->path(), wav);
    EXPECT_TRUE(endAndWait());
    ASSERT_TRUE(testenv::waitFor([&] { return announced->size() == 3; }, 10000));
    EXPECT_EQ(uitest::readAvi(second).frames, 4);
    QStringList paths = announcedPaths();
    paths.sort();
    EXPECT_EQ(paths, (QStringList{first, second, wav}));
    EXPECT_TRUE(reported().isEmpty()) << reported().join(';').toStdString();
}

// A frame of a large camera takes the write thread longer than the window
// may wait: the stop returns while it is written, the file is finished
// behind it, and only then announced, once.
TEST_F(RecordingTest, AStopLeavesTheSlowWriteToItsThreadAndAnnouncesTheFileOnce)
{
    capture->setCurrentFrame(uitest::testFrame(320, 240));
    const QString first = recording->beginTimedVideo();
    clock.advance(500);
    recording->onWriterTimer();
    // The writer is busy until the test lets it go (or, should a stop wait
    // for it, until the bound runs out and the test fails instead of hanging).
    QSemaphore writerBusy, writerFree;
    const auto holdWriter = [&] {
        recording->onWriteThread([&] {
            writerBusy.release();
            writerFree.tryAcquire(1, 10000);
        });
        ASSERT_TRUE(writerBusy.tryAcquire(1, 10000));
    };
    holdWriter();
    clock.advance(300);
    recording->end();
    EXPECT_FALSE(recording->isRecordingVideo());
    EXPECT_TRUE(recording->isRecording()) << "a file still being finished counts as recording";
    EXPECT_EQ(capture->videoWriter, nullptr);
    QCoreApplication::processEvents();
    EXPECT_TRUE(announced->isEmpty()) << "announced before its last frames were written";
    EXPECT_FALSE(recordedvideo::complete(first));

    // A new recording while the first is still being finished: two files,
    // each with its own frames.
    clock.advance(1000);
    const QString second = recording->beginTimedVideo();
    ASSERT_FALSE(second.isEmpty());
    EXPECT_NE(second, first);
    clock.advance(400);
    recording->onWriterTimer();
    writerFree.release();
    ASSERT_TRUE(testenv::waitFor([&] { return !announced->isEmpty(); }, 10000));
    EXPECT_EQ(announced->at(0), (QList<QVariant>{first, true}));
    EXPECT_EQ(uitest::readAvi(first).frames, 8);
    EXPECT_TRUE(recording->isRecordingVideo());
    EXPECT_TRUE(endAndWait());
    EXPECT_EQ(uitest::readAvi(second).frames, 4);
    testenv::waitFor([] { return false; }, 200);   // a second announcement would come meanwhile
    EXPECT_EQ(announcedPaths(), (QStringList{first, second}));

    // Quitting while a stop is being finished: the file is complete when
    // the recorder is gone, and nobody hears of it any more.
    clock.advance(1000);
    const QString third = recording->beginTimedVideo();
    clock.advance(600);
    holdWriter();
    recording->end();
    writerFree.release();
    recording.reset();
    EXPECT_TRUE(recordedvideo::complete(third));
    EXPECT_EQ(uitest::readAvi(third).frames, 6);
    QCoreApplication::processEvents();
    EXPECT_EQ(announced->size(), 2);
    EXPECT_TRUE(reported().isEmpty()) << reported().join(';').toStdString();
}

TEST_F(RecordingTest, ASoundRecorderThatLeftNothingIsReported)
{
    // Starts, stays up long enough to be taken as running, writes nothing.
    QFile script(bin.path() + QStringLiteral("/arecord"));
    ASSERT_TRUE(script.open(QIODevice::WriteOnly));
    script.write("#!/bin/sh\nexec sleep 5\n");
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("PATH", bin.path().toLocal8Bit() + ':' + qgetenv("PATH"));

    const QString wav = recording->beginSound();
    ASSERT_FALSE(wav.isEmpty());
    EXPECT_FALSE(endAndWait());
    ASSERT_EQ(reported().size(), 1);
    EXPECT_TRUE(reported().at(0).contains(wav)) << reported().at(0).toStdString();
}

} // namespace
