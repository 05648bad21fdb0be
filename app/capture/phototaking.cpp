#include "barcodereader.h"
#include "blankpage.h"
#include "cache.h"
#include "config.h"
#include "imagefile.h"
#include "imageprocessing.h"
#include "photonaming.h"
#include "photosteps.h"

#include <vector>

namespace {

// With barcode naming on, the photo is named after the code it carries;
// the usual name when it carries none or its text leaves no usable name.
QString reserveNameFor(Config &config, const QImage &picture, const QString &extension)
{
    if (config.barcodeNaming) {
        const QString text = BarcodeReader::locate(picture).text;
        const QString path = text.isEmpty()
                                 ? QString()
                                 : photonaming::reserveNamedPath(config, text, extension);
        if (!path.isEmpty())
            return path;
    }
    return photonaming::reservePhotoPath(config, extension);
}

} // namespace

// Turns the current frame into photo files in the working directory and
// reports the paths written.
void ImageProcessing::takePhoto()
{
    takePhotoPaths();
}

QList<QString> ImageProcessing::takePhotoPaths()
{
    Config &config = *Cache::config;
    const int correctionNow = correction;
    const bool childInsets = childCamera;
    const bool use1 = useChildImage1;
    const bool use2 = useChildImage2;
    const QImage child1 = childImage1;
    const QImage child2 = childImage2;

    photosteps::Shot shot;
    if (!photosteps::shoot(*this, shot)) {
        emit sendPhotoFailedSignal(QStringLiteral("摄像头没有画面，未拍摄照片"));
        return {};
    }

    std::vector<QImage> pictures;
    if (config.correctionMode == 3 || correctionNow == 0) {
        const QImage base = photosteps::basePicture(*this, shot);
        const QImage rotated = handleQImage(base);
        if (rotated.isNull())
            return {};
        if (config.correctionMode == 3)
            pictures.push_back(photosteps::manualSelection(rotated, base.size(), config));
        else
            pictures.push_back(rotated);
    } else {
        // The picture of the whole frame is not needed to cut documents out.
        pictures = photosteps::cutOuts(*this, shot, correctionNow);
    }

    if (!childInsets) {
        if (use1)
            pictures.push_back(child1);
        if (use2)
            pictures.push_back(child2);
    }
    if (photosteps::faceReplacesPictures(*this, config))
        pictures = {cutOutFace(shot.processed)};

    photosteps::Insets insets;
    if (childInsets) {
        insets.first = use1 ? &child1 : nullptr;
        insets.second = use2 ? &child2 : nullptr;
    }
    const bool white = config.gnIswhite && correctionNow != 0;
    const QString extension = photonaming::extensionFor(config, saveImageToTiff);

    QList<QString> paths;
    bool lost = false;
    int blank = 0;
    for (const QImage &picture : pictures) {
        if (picture.isNull())
            continue;
        // Judged before the watermark, which is no ink of the page.
        if (config.dropBlankPages && blankpage::isBlank(picture)) {
            ++blank;
            continue;
        }
        const QImage photo = photosteps::finish(*this, picture, white, insets);
        if (photo.isNull())
            continue;
        // Named only once the file is complete, so a failed write uses no
        // running number and leaves no part of a photo under a real name.
        const QString path =
            imagefile::saveNew(photo, config.texts().documentsLocation, extension, config.quality,
                               [&] { return reserveNameFor(config, picture, extension); });
        if (path.isEmpty())
            lost = true;
        else
            paths.append(path);
    }
    if (blank > 0)
        emit sendPhotoNoticeSignal(QStringLiteral("空白页已去除，未保存 %1 张").arg(blank));
    if (lost)
        emit sendPhotoFailedSignal(QStringLiteral("照片无法保存到存储位置：%1")
                                       .arg(config.texts().documentsLocation));
    if (!paths.isEmpty())
        deliverPhotoPaths(paths);
    return paths;
}
