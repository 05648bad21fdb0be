#pragma once

#include "virtualsourcebase.h"

#include <QString>
#include <QStringList>

// A camera that shows a still image, or a sequence of images in a loop: each
// image stays for `holdSeconds` (0: the next image every frame). Every image
// is delivered at the size of the first.
class VirtualImageSource : public VirtualSourceBase
{
public:
    // The files a pattern names, sorted by name: a directory's images, the
    // files matching a wildcard pattern ("pages/*.png"), or one file.
    static QStringList expandPattern(const QString &pattern);
    // The size of the first image; false when it cannot be read.
    static bool probe(const QStringList &paths, cv::Size &size);

    VirtualImageSource(const QStringList &paths, cv::Size size, double fps, double holdSeconds,
                       std::shared_ptr<VirtualDeviceState> state);

protected:
    bool openSource() override;
    bool readSource(cv::Mat &frame) override;
    cv::Size frameSize() const override;
    bool requestSize(cv::Size wanted) override;
    long long pictureNumber() const override { return loadedNumber; }

private:
    int imageIndexNow();
    bool load(int index);

    QStringList paths;
    cv::Size size;
    double holdSeconds;
    long long framesRead = 0;
    int loadedIndex = -1;
    cv::Mat loaded;
    long long loads = 0;   // numbers the pictures: every load is a new one
    long long loadedNumber = kFreshPicture;
};
