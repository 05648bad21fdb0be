// Settings saved over and over from the dialog while the capture thread
// keeps taking photos that read them (prefix, watermark text, font and
// colour, codec). Built with AddressSanitizer this shows unsynchronised
// string assignment as a use after free; in every build the photos must
// keep coming and carry names the settings gave at some moment.
#include "cache.h"
#include "config.h"
#include "imageprocessing.h"
#include "settingdialog.h"
#include "testenv.h"
#include "uitesthelpers.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <chrono>
#include <thread>

namespace {

TEST(SettingsWhileShooting, SavingInALoopWhilePhotosAreTakenKeepsEveryPhotoWhole)
{
    QTemporaryDir documents;
    ASSERT_TRUE(documents.isValid());
    testenv::resetConfig(documents);
    Config &config = *Cache::config;
    // Saves on a memory file system take microseconds instead of a disk
    // flush, so the loop saves often enough to meet the photos.
    QTemporaryDir fastDisk(QDir("/dev/shm").exists() ? QStringLiteral("/dev/shm/settings-XXXXXX")
                                                      : QString());
    ASSERT_TRUE(fastDisk.isValid());
    config.fileName = fastDisk.path() + QStringLiteral("/system.ini");
    config.codec = QStringLiteral("png");
    config.gnIswhite = false;
    config.watermarkText = QStringLiteral("initial watermark text, long enough to live on the heap");

    ImageProcessing camera;
    camera.setCurrentFrame(uitest::testFrame(160, 120));
    std::atomic<int> photos{0};
    QObject::connect(&camera, qOverload<QList<QString>, int>(&ImageProcessing::sendTakePhotoImageSignal),
                     &camera, [&](QList<QString> paths, int) { photos += paths.size(); },
                     Qt::DirectConnection);
    camera.begin();
    std::atomic<bool> shooting{true};
    std::thread requester([&] {
        while (shooting) {
            camera.photoRequested = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });

    SettingDialog dialog;
    dialog.init();
    // Time names: no running number to save, so photos follow each other fast.
    dialog.findChild<QRadioButton *>(QStringLiteral("radioButton_Time"))->setChecked(true);
    auto *text = dialog.findChild<QLineEdit *>(QStringLiteral("watermark_text_box"));
    auto *prefix = dialog.findChild<QLineEdit *>(QStringLiteral("savePreNameBox"));
    ASSERT_NE(text, nullptr);
    ASSERT_NE(prefix, nullptr);
    QElapsedTimer clock;
    clock.start();
    int saves = 0;
    while (saves < 3000 && clock.elapsed() < 4000) {
        text->setText(QStringLiteral("watermark %1 of a save loop, long enough for the heap").arg(saves));
        prefix->setText(QStringLiteral("SET%1").arg(saves % 5));
        dialog.on_saveSetting_clicked();
        if (saves % 25 == 24) {
            dialog.on_btnDefaultSetting_clicked();
            config.codec = QStringLiteral("png");
            dialog.findChild<QRadioButton *>(QStringLiteral("radioButton_Time"))->setChecked(true);
        }
        QApplication::processEvents();
        ++saves;
    }
    shooting = false;
    requester.join();
    camera.end();

    std::printf("%d saves while %d photos were taken\n", saves, photos.load());
    EXPECT_GT(saves, 10);
    EXPECT_GT(photos.load(), 5);
    // "jpg": the factory codec, for the moment after "默认设置".
    const QRegularExpression named(
        QStringLiteral("^(SET[0-4]|IMG)_\\d+\\.(png|jpg)$|^\\d{4}_\\d\\d_\\d\\d \\d\\d_\\d\\d_\\d\\d\\.\\d{3}(_\\d+)?\\.(png|jpg)$"));
    for (const QString &name : QDir(documents.path()).entryList(QDir::Files))
        EXPECT_TRUE(named.match(name).hasMatch()) << name.toStdString();
    QSettings saved(config.fileName, QSettings::IniFormat);
    EXPECT_EQ(saved.status(), QSettings::NoError);
    EXPECT_FALSE(saved.value("save/prefix").toString().isEmpty());
    config.fileName = QStringLiteral("system.ini");
}

} // namespace
