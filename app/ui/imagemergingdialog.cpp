#include "imagemergingdialog.h"
#include "ui_imagemergingdialog.h"

#include "cache.h"
#include "config.h"
#include "imagefile.h"
#include "photonaming.h"
#include "warningbox.h"

#include <QBoxLayout>
#include <QFileInfo>
#include <QPainter>
#include <QPixmap>

#include <algorithm>

namespace {

const QString kWarningTitle = QStringLiteral("警告");
const QString kBox1Text = QStringLiteral("图像1");
const QString kBox2Text = QStringLiteral("图像2");

} // namespace

ImageMergingDialog::ImageMergingDialog(QWidget *parent)
    : QDialog(parent), ui(new Ui::ImageMergingDialog)
{
    ui->setupUi(this);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
}

ImageMergingDialog::~ImageMergingDialog()
{
    delete ui;
}

void ImageMergingDialog::init()
{
    path1.clear();
    path2.clear();
    ui->imagebox1->setText(kBox1Text);
    ui->imagebox2->setText(kBox2Text);
}

void ImageMergingDialog::setImage(QList<QString> paths)
{
    for (const QString &path : paths) {
        if (slotCounter > 1)
            slotCounter = 0;
        const QPixmap picture =
            QPixmap(path).scaled(ui->imagebox1->width(), ui->imagebox2->height(),
                                 Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        if (slotCounter == 0) {
            path1 = path;
            ui->imagebox1->setPixmap(picture);
        } else {
            path2 = path;
            ui->imagebox2->setPixmap(picture);
        }
        ++slotCounter;
    }
}

void ImageMergingDialog::on_btnPhoto_clicked()
{
    emit takePhotoSignals();
}

void ImageMergingDialog::on_btnUpDown_2_clicked()
{
    path1.clear();
    ui->imagebox1->setText(kBox1Text);
}

void ImageMergingDialog::on_btnUpDown_3_clicked()
{
    path2.clear();
    ui->imagebox2->setText(kBox2Text);
}

void ImageMergingDialog::on_btnLeftRight_clicked()
{
    ui->layout_center->setDirection(QBoxLayout::LeftToRight);
    setFixedSize(644, 276);
}

void ImageMergingDialog::on_btnUpDown_clicked()
{
    ui->layout_center->setDirection(QBoxLayout::TopToBottom);
    setFixedSize(400, 544);
}

QImage ImageMergingDialog::mergeImages(const QImage &image1, const QImage &image2, bool leftToRight)
{
    const QSize canvasSize =
        leftToRight ? QSize(image1.width() + image2.width(), std::max(image1.height(), image2.height()))
                    : QSize(std::max(image1.width(), image2.width()), image1.height() + image2.height());
    QImage canvas(canvasSize, QImage::Format_ARGB32);
    if (canvas.isNull())
        return canvas;
    canvas.fill(0x00FFFFFFu);
    QPainter painter(&canvas);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter.drawImage(QPoint(0, 0), image1);
    painter.drawImage(leftToRight ? QPoint(image1.width(), 0) : QPoint(0, image1.height()), image2);
    return canvas;
}

void ImageMergingDialog::on_btnSave_clicked()
{
    if (!QFileInfo::exists(path1)) {
        WarningBox::warning(this, kWarningTitle, QStringLiteral("没有图像1"));
        return;
    }
    if (!QFileInfo::exists(path2)) {
        WarningBox::warning(this, kWarningTitle, QStringLiteral("没有图像2"));
        return;
    }
    const QImage image1(path1);
    const QImage image2(path2);
    const QString unreadable = image1.isNull() ? path1 : image2.isNull() ? path2 : QString();
    if (!unreadable.isEmpty()) {
        WarningBox::warning(this, kWarningTitle, QStringLiteral("无法读取图像：%1").arg(unreadable));
        return;
    }
    const bool leftToRight = ui->layout_center->direction() == QBoxLayout::LeftToRight;
    const QImage canvas = mergeImages(image1, image2, leftToRight);

    Config &config = *Cache::config;
    const QString extension = config.codec;
    const QString path =
        imagefile::saveNew(canvas, config.documentsLocation, extension, config.quality,
                           [&] { return photonaming::reservePhotoPath(config, extension); });
    if (path.isEmpty()) {
        WarningBox::warning(this, kWarningTitle,
                            QStringLiteral("合并图像写入失败：%1").arg(config.documentsLocation));
        return;
    }
    emit saveImageMergingSignals(QList<QString>{path}, 1);
    close();
}
