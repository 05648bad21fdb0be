// Second-camera views and picture-in-picture on virtual cameras: the view
// form, which camera each child button shows for every main camera, where
// the views open, the main camera's capture size while views are open, and
// child pictures as insets or as photos of their own. Also the main window's
// routing of new files into the export and merging dialogs.
#include "cache.h"
#include "camerainfo.h"
#include "cameraviewdialog.h"
#include "config.h"
#include "fakeclock.h"
#include "imagemergingdialog.h"
#include "imageprocessing.h"
#include "imagesavepdfortiffdialog.h"
#include "mainwindowqcamera.h"
#include "qcameraview.h"
#include "startup.h"
#include "mainwindowfixture.h"
#include "testenv.h"
#include "ui_cameraviewdialog.h"
#include "ui_imagesavepdfortiffdialog.h"
#include "ui_mainwindowqcamera.h"
#include "virtualcameras.h"
#include "warningbox.h"

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QStatusBar>
#include <QSignalSpy>
#include <QApplication>

#include <gtest/gtest.h>

#include <memory>

namespace {

class SecondCameraTest : public uitest::MainWindowFixture
{
protected:
    void SetUp() override
    {
        MainWindowFixture::SetUp();
        Config &config = *Cache::config;
        config.outResolutions.clear();
        Startup::fillOutResolutions(config);
    }

    void useCameras(const QString &entries, int expected)
    {
        *Cache::cameras = VirtualCameras::parse(entries);
        ASSERT_EQ(Cache::cameras->size(), expected);
    }

    ImageProcessing *mainCapture() const { return window->preview()->imageProcessing(); }
    QSize mainCaptureSize() const { return QSize(mainCapture()->frameWidth, mainCapture()->frameHeight); }
    bool mainShows(QSize size, int timeoutMs = 30000)
    {
        return testenv::waitFor([&] { return window->preview()->currentImage().size() == size; },
                                timeoutMs);
    }
};

const char kFiveSmall[] =
    "synthetic:sizes=160x120,fps=5;synthetic:sizes=160x120,fps=5,seed=2;"
    "synthetic:sizes=160x120,fps=5,seed=3;synthetic:sizes=160x120,fps=5,seed=4;"
    "synthetic:sizes=160x120,fps=5,seed=5";

TEST_F(SecondCameraTest, ViewFormAndItsLoadingLabel)
{
    useCameras(QStringLiteral("synthetic:sizes=160x120,fps=10;synthetic:sizes=160x120,fps=10,seed=2"), 2);
    createWindow();
    CameraViewDialog *view = window->childView(1);
    EXPECT_TRUE(view->isHidden());
    EXPECT_EQ(view->size(), QSize(400, 300));
    EXPECT_EQ(view->minimumSize(), QSize(400, 300));
    EXPECT_FALSE(view->windowFlags().testFlag(Qt::WindowContextHelpButtonHint));
    EXPECT_EQ(view->preview()->objectName(), QStringLiteral("iVideo"));
    EXPECT_EQ(view->form()->label->text(), QStringLiteral("视频加载中，请稍候......"));
    EXPECT_TRUE(view->getChildImage().isNull());

    ui->btnSecCamCon_2->click();
    ASSERT_TRUE(view->isVisible());
    EXPECT_FALSE(view->form()->label->isHidden());
    ASSERT_TRUE(testenv::waitFor([&] { return !view->getChildImage().isNull(); }, 20000));
    EXPECT_TRUE(view->form()->label->isHidden());
    EXPECT_EQ(view->getChildImage().size(), QSize(160, 120));

    ui->btnSecCamCon_2->click();   // the same button closes it
    EXPECT_FALSE(view->isVisible());
    EXPECT_FALSE(view->form()->label->isHidden());
    EXPECT_FALSE(view->preview()->imageProcessing()->cameraOpen);
}

TEST_F(SecondCameraTest, TooFewCamerasWarnAndOpenNothing)
{
    useCameras(QStringLiteral("synthetic:sizes=160x120,fps=5"), 1);
    createWindow();
    ui->btnSecCamCon_2->click();
    ui->btnSecCam1Con_2->click();
    EXPECT_EQ(warnings, QStringList({QStringLiteral("警告|未检测到子摄像头"),
                                     QStringLiteral("警告|未检测到子摄像头")}));
    EXPECT_FALSE(window->childView(1)->isVisible());
    EXPECT_FALSE(window->childView(2)->isVisible());
}

TEST_F(SecondCameraTest, SecondButtonWantsThreeCamerasAndAPositionThatExists)
{
    useCameras(QStringLiteral("synthetic:sizes=160x120,fps=5;synthetic:sizes=160x120,fps=5,seed=2"), 2);
    createWindow();
    ui->btnSecCam1Con_2->click();
    EXPECT_EQ(warnings.value(0), QStringLiteral("警告|未检测到子摄像头"));
    window.reset();

    // Three cameras, the third one main by default, main camera 0: position 4 is not there.
    warnings.clear();
    useCameras(QStringLiteral("synthetic:sizes=160x120,fps=5;synthetic:sizes=160x120,fps=5,seed=2;"
                              "synthetic:sizes=160x120,fps=5,seed=3"),
               3);
    Cache::config->thirdDeviceMain = true;
    createWindow();
    const QSize before = mainCaptureSize();
    ui->btnSecCam1Con_2->click();
    EXPECT_EQ(warnings, QStringList({QStringLiteral("警告|未检测到子摄像头")}));
    EXPECT_FALSE(window->childView(2)->isVisible());
    EXPECT_EQ(mainCaptureSize(), before);
}

TEST_F(SecondCameraTest, FirstButtonShowsTheNextCameraAndWraps)
{
    useCameras(QStringLiteral("synthetic:sizes=160x120,fps=5;synthetic:sizes=160x120,fps=5,seed=2"), 2);
    createWindow();
    window->move(100, 50);
    Cache::config->cameraIndex = 1;
    ui->btnSecCamCon_2->click();
    ASSERT_TRUE(window->childView(1)->isVisible());
    EXPECT_EQ(window->childView(1)->preview()->cameraIndex(), 0);
    EXPECT_EQ(window->childView(1)->pos(), QPoint(window->x() + 10, window->y() + 65));
    EXPECT_EQ(window->childView(1)->size(), QSize(400, 300));
    window->childView(1)->close();

    Cache::config->cameraIndex = 0;
    ui->btnSecCamCon_2->click();
    EXPECT_EQ(window->childView(1)->preview()->cameraIndex(), 1);
    EXPECT_TRUE(warnings.isEmpty());
}

TEST_F(SecondCameraTest, SecondButtonFollowsTheTableForEveryMainCamera)
{
    useCameras(QString::fromLatin1(kFiveSmall), 5);
    createWindow();
    window->move(40, 30);
    const struct {
        bool thirdDeviceMain;
        int mainCamera;
        int shown;
    } rows[] = {
        {true, 0, 4}, {true, 1, 2}, {true, 2, 0}, {true, 3, 2}, {true, 4, 2},
        {false, 0, 2}, {false, 1, 0}, {false, 2, 1}, {false, 3, 1}, {false, 4, 1},
    };
    CameraViewDialog *view = window->childView(2);
    for (const auto &row : rows) {
        Cache::config->thirdDeviceMain = row.thirdDeviceMain;
        Cache::config->cameraIndex = row.mainCamera;
        ui->btnSecCam1Con_2->click();
        ASSERT_TRUE(view->isVisible()) << row.thirdDeviceMain << " " << row.mainCamera;
        EXPECT_EQ(view->preview()->cameraIndex(), row.shown)
            << row.thirdDeviceMain << " " << row.mainCamera;
        EXPECT_EQ(view->pos(), QPoint(window->x() + 510, window->y() + 65));
        ui->btnSecCam1Con_2->click();
        EXPECT_FALSE(view->isVisible());
    }
    EXPECT_TRUE(warnings.isEmpty()) << warnings.join(';').toStdString();
}

TEST_F(SecondCameraTest, MainCameraRunsSmallerWhileViewsAreOpen)
{
    useCameras(QStringLiteral("synthetic:sizes=3264x2448/2048x1536/1920x1080,fps=2,sheets=1;"
                              "synthetic:sizes=160x120,fps=5,seed=2;synthetic:sizes=160x120,fps=5,seed=3"),
               3);
    Cache::config->thirdDeviceMain = false;
    Cache::config->resolution = 0;
    createWindow();
    EXPECT_EQ(mainCaptureSize(), QSize(3264, 2448));

    ui->btnSecCamCon_2->click();
    EXPECT_EQ(mainCaptureSize(), QSize(2048, 1536));
    EXPECT_TRUE(mainShows(QSize(2048, 1536)));
    ui->btnSecCam1Con_2->click();
    ASSERT_TRUE(window->childView(2)->isVisible());
    EXPECT_EQ(mainCaptureSize(), QSize(2048, 1536));

    // Closing one of two keeps the reduced size; closing the last restores it.
    window->childView(1)->close();
    EXPECT_EQ(mainCaptureSize(), QSize(2048, 1536));
    window->childView(2)->close();
    EXPECT_EQ(mainCaptureSize(), QSize(3264, 2448));
    EXPECT_TRUE(mainShows(QSize(3264, 2448)));
}

TEST_F(SecondCameraTest, MainCameraAtFullHdKeepsItsSize)
{
    useCameras(QStringLiteral("synthetic:sizes=3264x2448/2048x1536/1920x1080,fps=5;"
                              "synthetic:sizes=160x120,fps=5,seed=2"),
               2);
    Cache::config->resolution = 2;
    createWindow();
    EXPECT_EQ(mainCaptureSize(), QSize(1920, 1080));
    ui->btnSecCamCon_2->click();
    EXPECT_EQ(mainCaptureSize(), QSize(1920, 1080));
    EXPECT_TRUE(mainShows(QSize(1920, 1080)));
    window->childView(1)->close();
    EXPECT_EQ(mainCaptureSize(), QSize(1920, 1080));
}

TEST_F(SecondCameraTest, CameraToggleAndCameraListAreRefusedWhileAViewIsOpen)
{
    useCameras(QStringLiteral("synthetic:sizes=160x120,fps=5;synthetic:sizes=160x120,fps=5,seed=2"), 2);
    createWindow();
    ui->btnSecCamCon_2->click();
    ui->btnToggleDevice_2->click();
    EXPECT_EQ(warnings, QStringList({QStringLiteral("警告|画中画功能已经启用")}));
    EXPECT_EQ(window->preview()->cameraIndex(), 0);
    EXPECT_TRUE(ui->btnToggleDevice_2->isEnabled());

    // The list would put the main preview on the camera the view streams from.
    ui->comboBox->setCurrentIndex(1);
    EXPECT_EQ(warnings.value(1), QStringLiteral("警告|画中画功能已经启用"));
    EXPECT_EQ(window->preview()->cameraIndex(), 0);
    EXPECT_EQ(Cache::config->cameraIndex, 0);
    EXPECT_EQ(ui->comboBox->currentIndex(), 0);
    EXPECT_EQ(window->childView(1)->preview()->cameraIndex(), 1);

    // With the view closed the list switches again.
    window->childView(1)->close();
    ui->comboBox->setCurrentIndex(1);
    EXPECT_EQ(warnings.size(), 2);
    EXPECT_EQ(window->preview()->cameraIndex(), 1);
}

// Closing a view is what the clerk sees at once, and its camera then stays
// closed: also when the camera had gone away and its thread was waiting to
// reopen it.
TEST_F(SecondCameraTest, AClosedViewsCameraStaysClosedAfterTheReopenWait)
{
    useCameras(QStringLiteral("synthetic:sizes=160x120,fps=10;synthetic:sizes=160x120,fps=10,seed=2"), 2);
    createWindow();
    CameraViewDialog *view = window->childView(1);
    ImageProcessing *childCapture = view->preview()->imageProcessing();
    ui->btnSecCamCon_2->click();
    ASSERT_TRUE(testenv::waitFor([&] { return view->form()->label->isHidden(); }, 20000));

    FakeClock clock;   // the child's reopen wait passes as the test advances
    const int childDevice = Cache::cameras->at(view->preview()->cameraIndex()).index;
    VirtualCameras::setPlugged(childDevice, false);
    ASSERT_TRUE(clock.advanceUntil([&] { return !view->form()->label->isHidden(); }, 5000));
    ASSERT_TRUE(clock.waitForSleepers());   // in the five-second wait

    QSignalSpy closedViews(view, &CameraViewDialog::closeView);
    ui->btnSecCamCon_2->click();
    EXPECT_FALSE(view->isVisible());
    EXPECT_EQ(closedViews.count(), 1);
    EXPECT_FALSE(view->form()->label->isHidden());

    VirtualCameras::setPlugged(childDevice, true);
    const quint64 framesBefore = view->preview()->receivedFrames();
    clock.advanceUntil([&] { return childCapture->capture.isOpened(); }, 12000, 100);
    QApplication::processEvents();
    EXPECT_FALSE(childCapture->capture.isOpened()) << "the hidden view holds its camera again";
    EXPECT_FALSE(childCapture->cameraOpen);
    EXPECT_EQ(view->preview()->receivedFrames(), framesBefore);

    // Opened again, it shows its camera as before.
    ui->btnSecCamCon_2->click();
    ASSERT_TRUE(clock.advanceUntil([&] { return view->form()->label->isHidden(); }, 20000, 100));
}

// A still picture of one colour as the second camera, so its pixels are known.
class ChildPictureTest : public SecondCameraTest
{
protected:
    void SetUp() override
    {
        SecondCameraTest::SetUp();
        ASSERT_TRUE(pictures.isValid());
        QImage still(320, 240, QImage::Format_RGB32);
        still.fill(QColor(255, 0, 255));
        const QString path = pictures.filePath(QStringLiteral("magenta.png"));
        ASSERT_TRUE(still.save(path));
        useCameras(QStringLiteral("synthetic:sizes=640x480,fps=10;image:%1?fps=10").arg(path), 2);
        Config &config = *Cache::config;
        config.codec = QStringLiteral("png");
        config.saveType = 0;
        createWindow();
        ui->rb_correction_10->click();
        ASSERT_TRUE(testenv::waitFor([&] { return !window->preview()->isSwitching(); }, 20000));
        ui->btnSecCamCon_2->click();
        ASSERT_TRUE(testenv::waitFor([&] { return !window->childView(1)->getChildImage().isNull(); },
                                     20000));
        // Opening the view may reopen the main camera; "拍摄" waits for its picture.
        ASSERT_TRUE(testenv::waitFor([&] { return !window->preview()->isSwitching(); }, 20000));
    }
    // Paths of the next photo batch.
    QList<QString> shoot()
    {
        QList<QString> paths;
        auto connection = QObject::connect(window->preview(), &QCameraView::sendTakePhotoImageSignal,
                                           [&](QList<QString> written, int) { paths = written; });
        ui->btnShooting->click();
        testenv::waitFor([&] { return !paths.isEmpty(); }, 20000);
        QObject::disconnect(connection);
        return paths;
    }
    QTemporaryDir pictures;
};

bool isMagenta(QRgb c) { return qRed(c) > 220 && qGreen(c) < 40 && qBlue(c) > 220; }

TEST_F(ChildPictureTest, MergedShootingDrawsTheChildAsAnInset)
{
    ui->chMergeImage_2->setChecked(true);
    const QList<QString> paths = shoot();
    ASSERT_EQ(paths.size(), 1);
    const QImage photo(paths.first());
    ASSERT_EQ(photo.size(), QSize(640, 480));
    const int insetWidth = 640 * Cache::config->paintingPercentage / 100;
    ASSERT_GT(insetWidth, 4);
    EXPECT_TRUE(isMagenta(photo.pixel(insetWidth / 2, 2)));
    EXPECT_FALSE(isMagenta(photo.pixel(639 - insetWidth / 2, 2)));   // no second view open
}

TEST_F(ChildPictureTest, SeparateShootingSavesTheChildAsAPhotoOfItsOwn)
{
    ui->chMergeImage_2->setChecked(false);
    const QList<QString> paths = shoot();
    ASSERT_EQ(paths.size(), 2);
    const QImage main(paths.at(0));
    const QImage child(paths.at(1));
    EXPECT_EQ(main.size(), QSize(640, 480));
    EXPECT_FALSE(isMagenta(main.pixel(5, 2)));
    EXPECT_EQ(child.size(), QSize(320, 240));
    EXPECT_TRUE(isMagenta(child.pixel(160, 120)));

    // A closed view adds nothing to the next photo.
    window->childView(1)->close();
    // Closing it restores the main camera's resolution: wait for its picture.
    ASSERT_TRUE(testenv::waitFor([&] { return !window->preview()->isSwitching(); }, 20000));
    EXPECT_EQ(shoot().size(), 1);
}

TEST_F(ChildPictureTest, AViewWhoseCameraWentAwayGivesNoPictureAndThePhotoSaysSo)
{
    const int device = Cache::cameras->at(1).index;
    VirtualCameras::setPlugged(device, false);
    CameraViewDialog *view = window->childView(1);
    ASSERT_TRUE(testenv::waitFor([&] { return !view->form()->label->isHidden(); }, 20000));
    EXPECT_TRUE(view->getChildImage().isNull());

    ui->chMergeImage_2->setChecked(true);
    const QList<QString> merged = shoot();
    ASSERT_EQ(merged.size(), 1);
    const QImage photo(merged.first());
    const int insetWidth = 640 * Cache::config->paintingPercentage / 100;
    EXPECT_FALSE(isMagenta(photo.pixel(insetWidth / 2, 2)));
    EXPECT_EQ(window->statusBar()->currentMessage(),
              QStringLiteral("画中画摄像头无画面，本次拍照未含其画面"));

    ui->chMergeImage_2->setChecked(false);
    window->statusBar()->clearMessage();
    EXPECT_EQ(shoot().size(), 1);   // no separate photo of the view either
    EXPECT_EQ(window->statusBar()->currentMessage(),
              QStringLiteral("画中画摄像头无画面，本次拍照未含其画面"));
    VirtualCameras::setPlugged(device, true);
}

// ---------------------------------------------------------------- routing of new files

class DocumentRoutingTest : public SecondCameraTest
{
};

TEST_F(DocumentRoutingTest, PhotosFeedTheOpenDialogsAndTheirFilesOnlyBecomeThumbnails)
{
    createWindow();
    const QString photo1 = QDir(documents.path()).filePath(QStringLiteral("a.png"));
    const QString photo2 = QDir(documents.path()).filePath(QStringLiteral("b.png"));
    QImage(20, 10, QImage::Format_RGB32).save(photo1);
    QImage(20, 10, QImage::Format_RGB32).save(photo2);

    // Closed dialogs get nothing.
    window->takePhotoImage({photo1}, 0);
    EXPECT_EQ(window->exportDialog()->pageList()->count(), 0);
    EXPECT_TRUE(window->mergingDialog()->imagePath1().isEmpty());

    ui->btnSavePdfTiff->click();
    ASSERT_TRUE(window->exportDialog()->isVisible());
    ui->check_image_merging_2->click();
    ASSERT_TRUE(window->mergingDialog()->isVisible());
    EXPECT_TRUE(ui->check_image_merging_2->isChecked());

    window->takePhotoImage({photo1}, 0);   // a photo or a saved card picture
    window->takePhotoImage({photo2}, 1);   // a file a dialog wrote
    EXPECT_EQ(window->exportDialog()->pagePaths(), QStringList({photo1}));
    EXPECT_EQ(window->mergingDialog()->imagePath1(), photo1);
    EXPECT_TRUE(window->mergingDialog()->imagePath2().isEmpty());
    EXPECT_EQ(window->slotPath(3), photo2);

    // The merging dialog closing unticks its check box; "合并图像" opens it again.
    window->mergingDialog()->close();
    EXPECT_FALSE(ui->check_image_merging_2->isChecked());
    ui->pushButton->click();
    EXPECT_TRUE(window->mergingDialog()->isVisible());
    EXPECT_TRUE(window->mergingDialog()->imagePath1().isEmpty());   // init() before show

    // Timed shooting closes both.
    ui->btnShootingTime->click();
    EXPECT_FALSE(window->mergingDialog()->isVisible());
    EXPECT_FALSE(window->exportDialog()->isVisible());
    ui->btnSavePdfTiff->click();
    EXPECT_EQ(warnings.value(0), QStringLiteral("警告|定时拍摄中......"));
    EXPECT_FALSE(window->exportDialog()->isVisible());
    ui->btnShootingTime->click();
}

TEST_F(DocumentRoutingTest, ExportDialogPhotoButtonShootsIntoTheListAndThePdfBecomesAThumbnail)
{
    useCameras(QStringLiteral("synthetic:sizes=640x480,fps=10"), 1);
    Cache::config->saveType = 0;
    Cache::config->savePrefix = QStringLiteral("IMG");
    Cache::config->saveNumber = 1;
    createWindow();
    ASSERT_TRUE(testenv::waitFor([&] { return !window->preview()->isSwitching(); }, 20000));
    ui->btnSavePdfTiff->click();
    ImageSavePDFOrTiffDialog *dialog = window->exportDialog();
    dialog->form()->btnPhoto->click();
    ASSERT_TRUE(testenv::waitFor([&] { return dialog->pageList()->count() == 1; }, 20000));
    dialog->form()->btnPhoto->click();
    ASSERT_TRUE(testenv::waitFor([&] { return dialog->pageList()->count() == 2; }, 20000));
    dialog->form()->btnSavePDF->click();
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(QFileInfo(window->slotPath(3)).fileName(), QStringLiteral("IMG_3.pdf"));
    EXPECT_EQ(Cache::config->saveNumber, 4);
}

} // namespace
