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
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

TEST(SettingsWhileShooting, SavingInALoopWhilePhotosAreTakenKeepsEveryPhotoWhole)
{
    QTemporaryDir documents;
    ASSERT_TRUE(documents.isValid());
    testenv::resetConfig(documents);
    Config &config = *Cache::config;
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
    auto *text = dialog.findChild<QLineEdit *>(QStringLiteral("watermark_text_box"));
    auto *prefix = dialog.findChild<QLineEdit *>(QStringLiteral("savePreNameBox"));
    ASSERT_NE(text, nullptr);
    ASSERT_NE(prefix, nullptr);
    QElapsedTimer clock;
    clock.start();
    int saves = 0;
    while (saves < 400 && clock.elapsed() < 4000) {
        text->setText(QStringLiteral("watermark %1 of a save loop, long enough for the heap").arg(saves));
        prefix->setText(QStringLiteral("SET%1").arg(saves % 5));
        dialog.on_saveSetting_clicked();
        if (saves % 25 == 24) {
            dialog.on_btnDefaultSetting_clicked();
            config.codec = QStringLiteral("png");
        }
        dialog.init();
        QApplication::processEvents();
        ++saves;
    }
    shooting = false;
    requester.join();
    camera.end();

    EXPECT_GT(saves, 10);
    EXPECT_GT(photos.load(), 5);
    // "jpg": the factory codec, for the moment after "默认设置".
    const QRegularExpression named(QStringLiteral("^(SET[0-4]|IMG)_\\d+\\.(png|jpg)$"));
    for (const QString &name : QDir(documents.path()).entryList(QDir::Files))
        EXPECT_TRUE(named.match(name).hasMatch()) << name.toStdString();
    QSettings saved(config.fileName, QSettings::IniFormat);
    EXPECT_EQ(saved.status(), QSettings::NoError);
    EXPECT_FALSE(saved.value("save/prefix").toString().isEmpty());
}

} // namespace
