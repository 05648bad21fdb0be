#include "virtualimagesource.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <cmath>

namespace {

const QStringList kImageFilters = {QStringLiteral("*.png"),  QStringLiteral("*.jpg"),
                                   QStringLiteral("*.jpeg"), QStringLiteral("*.bmp"),
                                   QStringLiteral("*.tif"),  QStringLiteral("*.tiff"),
                                   QStringLiteral("*.webp"), QStringLiteral("*.ppm"),
                                   QStringLiteral("*.pgm")};

// Any image as 8-bit BGR of the given size (an empty size keeps its own).
cv::Mat readImage(const QString &path, cv::Size size)
{
    cv::Mat image = cv::imread(path.toStdString(), cv::IMREAD_COLOR);
    if (image.empty() || size.empty() || image.size() == size)
        return image;
    cv::Mat fitted;
    cv::resize(image, fitted, size, 0, 0, cv::INTER_AREA);
    return fitted;
}

} // namespace

QStringList VirtualImageSource::expandPattern(const QString &pattern)
{
    const QFileInfo info(pattern);
    QStringList found;
    if (info.isDir()) {
        const QDir dir(info.absoluteFilePath());
        for (const QString &name : dir.entryList(kImageFilters, QDir::Files, QDir::Name | QDir::IgnoreCase))
            found << dir.absoluteFilePath(name);
        return found;
    }
    if (pattern.contains(QRegularExpression(QStringLiteral("[*?\\[]")))) {
        const QDir dir = info.absoluteDir();
        for (const QString &name : dir.entryList(QStringList{info.fileName()}, QDir::Files, QDir::Name))
            found << dir.absoluteFilePath(name);
        return found;
    }
    if (info.isFile())
        found << info.absoluteFilePath();
    return found;
}

bool VirtualImageSource::probe(const QStringList &paths, cv::Size &size)
{
    if (paths.isEmpty())
        return false;
    const cv::Mat first = readImage(paths.first(), cv::Size());
    if (first.empty())
        return false;
    size = first.size();
    return true;
}

VirtualImageSource::VirtualImageSource(const QStringList &paths, cv::Size size, double fps,
                                       double holdSeconds, std::shared_ptr<VirtualDeviceState> state)
    : VirtualSourceBase(std::move(state), fps), paths(paths), size(size), holdSeconds(holdSeconds)
{
}

bool VirtualImageSource::openSource()
{
    framesRead = 0;
    loadedIndex = -1;
    return !paths.isEmpty();
}

int VirtualImageSource::imageIndexNow()
{
    if (paths.size() == 1)
        return 0;
    // Held images follow the camera's clock, so a reopen does not restart the
    // sequence; unheld ones advance one per frame.
    const long long step = holdSeconds > 0 ? (long long)std::floor(seconds() / holdSeconds) : framesRead;
    return int(step % paths.size());
}

bool VirtualImageSource::load(int index)
{
    if (index == loadedIndex)
        return !loaded.empty();
    loaded = readImage(paths.at(index), size);
    loadedIndex = index;
    loadedNumber = loads++;
    return !loaded.empty();
}

bool VirtualImageSource::readSource(cv::Mat &frame)
{
    const int index = imageIndexNow();
    ++framesRead;
    if (!load(index))
        return false;   // a file that went away reads as an empty frame
    frame = compressing() ? loaded : loaded.clone();
    return true;
}

cv::Size VirtualImageSource::frameSize() const
{
    return size;
}

bool VirtualImageSource::requestSize(cv::Size)
{
    return false;   // files keep their size
}
