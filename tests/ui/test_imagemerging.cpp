// The image merging dialog: which box each incoming picture fills, deleting
// images, the fixed preview sizes, the merged canvas and where image 2 lies,
// names and running numbers, and a merge that cannot be written.
#include "cache.h"
#include "config.h"
#include "imagemergingdialog.h"
#include "documentdialogfixture.h"
#include "testenv.h"
#include "ui_imagemergingdialog.h"
#include "warningbox.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QPushButton>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <memory>

namespace {

class MergingTest : public uitest::DocumentDialogFixture<ImageMergingDialog>
{
protected:
    void SetUp() override
    {
        DocumentDialogFixture::SetUp();
        if (HasFatalFailure())
            return;
        Cache::config->codec = QStringLiteral("png");
        openDialog(3);
    }

    QString picture(const QString &name, int width, int height, QColor colour)
    {
        return sourcePicture(name, width, height, colour, "png");
    }
};

TEST_F(MergingTest, FormCarriesItsTextsAndEmptyBoxes)
{
    Ui::ImageMergingDialog *ui = dialog->form();
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("图像合并"));
    EXPECT_EQ(ui->btnSave->text(), QStringLiteral("合并图像"));
    EXPECT_EQ(ui->btnLeftRight->text(), QStringLiteral("左右预览"));
    EXPECT_EQ(ui->btnUpDown->text(), QStringLiteral("上下预览"));
    EXPECT_EQ(ui->btnUpDown_2->text(), QStringLiteral("删除图像1"));
    EXPECT_EQ(ui->btnUpDown_3->text(), QStringLiteral("删除图像2"));
    EXPECT_EQ(ui->imagebox1->text(), QStringLiteral("图像1"));
    EXPECT_EQ(ui->imagebox2->text(), QStringLiteral("图像2"));
    EXPECT_EQ(ui->imagebox1->maximumSize(), QSize(260, 260));
    EXPECT_EQ(ui->imagebox1->styleSheet(), QStringLiteral("border:1px solid gray;"));
    QSignalSpy photoRequests(dialog.get(), &ImageMergingDialog::takePhotoSignals);
    ui->btnPhoto->click();
    EXPECT_EQ(photoRequests.count(), 1);
}

TEST_F(MergingTest, SuccessivePicturesFillBoxOneBoxTwoThenBoxOneAgain)
{
    const QString a = picture("a.png", 30, 20, Qt::red);
    const QString b = picture("b.png", 30, 20, Qt::green);
    const QString c = picture("c.png", 30, 20, Qt::blue);
    dialog->setImage({a});
    dialog->setImage({b});
    EXPECT_EQ(dialog->imagePath1(), a);
    EXPECT_EQ(dialog->imagePath2(), b);
    EXPECT_FALSE(dialog->form()->imagebox2->pixmap(Qt::ReturnByValue).isNull());
    dialog->setImage({c});
    EXPECT_EQ(dialog->imagePath1(), c);
    EXPECT_EQ(dialog->imagePath2(), b);

    // init() empties the boxes but keeps the counter: the next one is box 2.
    dialog->init();
    EXPECT_TRUE(dialog->imagePath1().isEmpty());
    EXPECT_EQ(dialog->form()->imagebox1->text(), QStringLiteral("图像1"));
    EXPECT_TRUE(dialog->form()->imagebox1->pixmap(Qt::ReturnByValue).isNull());
    dialog->setImage({a});
    EXPECT_EQ(dialog->imagePath2(), a);
}

TEST_F(MergingTest, MissingImagesWarnAndWriteNothing)
{
    dialog->form()->btnSave->click();
    EXPECT_EQ(warnings, QStringList({QStringLiteral("警告|没有图像1")}));
    dialog->setImage({picture("a.png", 30, 20, Qt::red), picture("b.png", 30, 20, Qt::green)});
    dialog->form()->btnUpDown_3->click();
    EXPECT_EQ(dialog->form()->imagebox2->text(), QStringLiteral("图像2"));
    dialog->form()->btnSave->click();
    EXPECT_EQ(warnings.last(), QStringLiteral("警告|没有图像2"));
    dialog->form()->btnUpDown_2->click();
    dialog->form()->btnSave->click();
    EXPECT_EQ(warnings.last(), QStringLiteral("警告|没有图像1"));
    EXPECT_TRUE(reported->isEmpty());
    EXPECT_TRUE(QDir(documents.path()).entryList(QDir::Files | QDir::Hidden).isEmpty());
    EXPECT_EQ(Cache::config->saveNumber, 3);
}

TEST_F(MergingTest, PreviewButtonsFixTheDialogSize)
{
    dialog->form()->btnUpDown->click();
    EXPECT_EQ(dialog->minimumSize(), QSize(400, 544));
    EXPECT_EQ(dialog->maximumSize(), QSize(400, 544));
    dialog->resize(700, 700);
    EXPECT_EQ(dialog->size(), QSize(400, 544));
    dialog->form()->btnLeftRight->click();
    EXPECT_EQ(dialog->minimumSize(), QSize(644, 276));
    EXPECT_EQ(dialog->maximumSize(), QSize(644, 276));
}

TEST_F(MergingTest, LeftToRightPutsImageTwoAtTheRightOfImageOne)
{
    dialog->setImage({picture("a.png", 100, 50, Qt::red), picture("b.png", 100, 80, Qt::blue)});
    dialog->form()->btnLeftRight->click();
    dialog->form()->btnSave->click();
    ASSERT_TRUE(warnings.isEmpty()) << warnings.join(';').toStdString();
    const QString path = QDir(documents.path()).filePath(QStringLiteral("IMG_3.png"));
    ASSERT_EQ(reported->count(), 1);
    EXPECT_EQ(reportedPath(), path);
    EXPECT_EQ(reported->last().at(1).toInt(), 1);
    EXPECT_EQ(Cache::config->saveNumber, 4);
    EXPECT_FALSE(dialog->isVisible());

    const QImage merged(path);
    ASSERT_EQ(merged.size(), QSize(200, 80));
    EXPECT_EQ(merged.pixel(99, 0), qRgb(255, 0, 0));
    EXPECT_EQ(merged.pixel(100, 0), qRgb(0, 0, 255));
    EXPECT_EQ(merged.pixel(199, 79), qRgb(0, 0, 255));
    EXPECT_EQ(qAlpha(merged.pixel(50, 60)), 0);   // below image 1: transparent
    EXPECT_EQ(merged.pixel(50, 60) & 0xFFFFFF, 0xFFFFFFu);
    // Sources stay on disk.
    EXPECT_TRUE(QFileInfo::exists(dialog->imagePath1()));
}

TEST_F(MergingTest, TopToBottomPutsImageTwoBelowImageOne)
{
    dialog->setImage({picture("a.png", 100, 50, Qt::red), picture("b.png", 100, 80, Qt::blue)});
    dialog->form()->btnUpDown->click();
    dialog->form()->btnSave->click();
    const QImage merged(reportedPath());
    ASSERT_EQ(merged.size(), QSize(100, 130));
    EXPECT_EQ(merged.pixel(0, 49), qRgb(255, 0, 0));
    EXPECT_EQ(merged.pixel(0, 50), qRgb(0, 0, 255));
    EXPECT_EQ(merged.pixel(99, 129), qRgb(0, 0, 255));
}

TEST_F(MergingTest, JpegMergeIsWhiteWhereNoImageLies)
{
    Cache::config->codec = QStringLiteral("jpg");
    dialog->setImage({picture("a.png", 100, 50, Qt::red), picture("b.png", 100, 80, Qt::blue)});
    dialog->form()->btnSave->click();
    const QImage merged(reportedPath());
    EXPECT_TRUE(reportedPath().endsWith(QLatin1String("IMG_3.jpg")));
    ASSERT_EQ(merged.size(), QSize(200, 80));
    EXPECT_GT(qRed(merged.pixel(40, 70)), 240);
    EXPECT_GT(qBlue(merged.pixel(40, 70)), 240);
}

TEST_F(MergingTest, MergeNeverReplacesAnExistingFile)
{
    QFile existing(QDir(documents.path()).filePath(QStringLiteral("IMG_3.png")));
    ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
    existing.write("older photo");
    existing.close();
    dialog->setImage({picture("a.png", 10, 10, Qt::red), picture("b.png", 10, 10, Qt::blue)});
    dialog->form()->btnSave->click();
    EXPECT_TRUE(reportedPath().endsWith(QLatin1String("IMG_4.png")));
    EXPECT_EQ(Cache::config->saveNumber, 5);
    ASSERT_TRUE(existing.open(QIODevice::ReadOnly));
    EXPECT_EQ(existing.readAll(), QByteArray("older photo"));
}

TEST_F(MergingTest, MergeThatCannotBeWrittenWarnsAndReportsNothing)
{
    dialog->setImage({picture("a.png", 10, 10, Qt::red), picture("b.png", 10, 10, Qt::blue)});
    QFile blocker(QDir(documents.path()).filePath(QStringLiteral("plain")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    Cache::config->documentsLocation = blocker.fileName() + QStringLiteral("/photos");
    dialog->form()->btnSave->click();
    ASSERT_EQ(warnings.size(), 1);
    EXPECT_TRUE(warnings.first().startsWith(QStringLiteral("警告|")));
    EXPECT_TRUE(reported->isEmpty());
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(Cache::config->saveNumber, 3);

    // A codec the image writer does not know fails the same way.
    Cache::config->documentsLocation = documents.path();
    Cache::config->codec = QStringLiteral("nosuchformat");
    dialog->form()->btnSave->click();
    EXPECT_EQ(warnings.size(), 2);
    EXPECT_TRUE(reported->isEmpty());
    EXPECT_EQ(Cache::config->saveNumber, 3);
    EXPECT_EQ(QDir(documents.path()).entryList(QDir::Files | QDir::Hidden), QStringList({"plain"}));
}

TEST_F(MergingTest, UnreadableSourceWarnsWithItsName)
{
    const QString broken = sources.filePath(QStringLiteral("broken.png"));
    QFile file(broken);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("no picture");
    file.close();
    dialog->setImage({picture("a.png", 10, 10, Qt::red), broken});
    dialog->form()->btnSave->click();
    ASSERT_EQ(warnings.size(), 1);
    EXPECT_TRUE(warnings.first().contains(broken));
    EXPECT_TRUE(reported->isEmpty());
}

} // namespace
