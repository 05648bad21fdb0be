#pragma once

#include "cache.h"
#include "config.h"
#include "stationtest.h"

#include <QColor>
#include <QImage>
#include <QList>
#include <QSignalSpy>
#include <QString>
#include <QTemporaryDir>

#include <memory>

namespace uitest {

// A dialog that writes documents from pictures in `sources` (merging,
// PDF/TIFF export), shown on factory settings with prefix-and-number naming;
// the paths it reports are recorded in `reported`.
template <class Dialog>
class DocumentDialogFixture : public testenv::StationTest
{
protected:
    void SetUp() override
    {
        StationTest::SetUp();
        ASSERT_TRUE(sources.isValid());
    }
    void TearDown() override
    {
        reported.reset();
        dialog.reset();
        StationTest::TearDown();
    }

    // Opens the dialog; its first file gets the running number `firstNumber`.
    void openDialog(int firstNumber)
    {
        Config &config = *Cache::config;
        config.saveType = 0;
        config.savePrefix = QStringLiteral("IMG");
        config.saveNumber = firstNumber;
        dialog = std::make_unique<Dialog>();
        dialog->init();
        dialog->show();
        reported = std::make_unique<QSignalSpy>(dialog.get(), &Dialog::saveImageMergingSignals);
    }

    // A picture of one colour, written into `sources`.
    QString sourcePicture(const QString &name, int width, int height, QColor colour,
                          const char *format, int quality = -1)
    {
        QImage image(width, height, QImage::Format_RGB32);
        image.fill(colour);
        const QString path = sources.filePath(name);
        EXPECT_TRUE(image.save(path, format, quality));
        return path;
    }

    // The first path of the latest report, empty when nothing was reported.
    QString reportedPath() const
    {
        return reported->isEmpty() ? QString()
                                   : reported->last().at(0).template value<QList<QString>>().value(0);
    }

    QTemporaryDir sources;
    std::unique_ptr<Dialog> dialog;
    std::unique_ptr<QSignalSpy> reported;
};

} // namespace uitest
