#include "mjpgframe.h"

#include <QDebug>

#include <opencv2/imgcodecs.hpp>

#include <vector>

namespace {

int readModeFor(int reduction)
{
    switch (reduction) {
    case 2: return cv::IMREAD_REDUCED_COLOR_2;
    case 4: return cv::IMREAD_REDUCED_COLOR_4;
    case 8: return cv::IMREAD_REDUCED_COLOR_8;
    default: return cv::IMREAD_COLOR;
    }
}

bool isStartOfFrame(uchar marker)
{
    // SOF0..SOF15 except DHT (C4), JPG (C8) and DAC (CC).
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

} // namespace

bool decodeMjpgFrame(const cv::Mat &compressed, cv::OutputArray image)
{
    return decodeMjpgFrame(compressed, image, 1);
}

bool decodeMjpgFrame(const cv::Mat &compressed, cv::OutputArray image, int reduction)
{
    if (compressed.empty() || compressed.depth() != CV_8U) {
        image.release();
        return false;
    }
    cv::Mat picture;
    try {
        // Full size is the call the Video4Linux backend makes for MJPG.
        picture = cv::imdecode(compressed.reshape(1, 1), readModeFor(reduction));
    } catch (const cv::Exception &error) {
        // OpenCV throws where a header asks for more pixels than it allows.
        qDebug() << "MJPG frame not decoded:" << error.what();
        picture.release();
    }
    if (picture.empty()) {
        image.release();
        return false;
    }
    image.assign(picture);
    return true;
}

cv::Size mjpgFrameSize(const cv::Mat &compressed)
{
    if (compressed.empty() || compressed.depth() != CV_8U || !compressed.isContinuous())
        return cv::Size();
    const uchar *bytes = compressed.ptr();
    const size_t length = compressed.total() * compressed.elemSize();
    if (length < 4 || bytes[0] != 0xFF || bytes[1] != 0xD8)
        return cv::Size();
    size_t at = 2;
    while (at + 4 <= length) {
        if (bytes[at] != 0xFF)
            return cv::Size();
        const uchar marker = bytes[at + 1];
        if (marker == 0xFF) {   // fill byte
            ++at;
            continue;
        }
        if (marker == 0xD8 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            at += 2;   // markers without a length
            continue;
        }
        if (marker == 0xD9 || marker == 0xDA)   // end of image, start of scan: no header before
            return cv::Size();
        const size_t segment = size_t(bytes[at + 2]) << 8 | bytes[at + 3];
        if (segment < 2 || at + 2 + segment > length)
            return cv::Size();
        if (isStartOfFrame(marker)) {
            if (segment < 7)
                return cv::Size();
            const int height = bytes[at + 5] << 8 | bytes[at + 6];
            const int width = bytes[at + 7] << 8 | bytes[at + 8];
            return cv::Size(width, height);
        }
        at += 2 + segment;
    }
    return cv::Size();
}

namespace {

// Cameras pad their frames with zeros after the end-of-image marker.
bool endsWithEndOfImage(const uchar *bytes, size_t length)
{
    while (length > 0 && bytes[length - 1] == 0x00)
        --length;
    return length >= 4 && bytes[length - 2] == 0xFF && bytes[length - 1] == 0xD9;
}

QString sizeText(cv::Size size)
{
    return QStringLiteral("%1x%2").arg(size.width).arg(size.height);
}

} // namespace

QString mjpgFrameProblem(const cv::Mat &compressed, cv::Size negotiated)
{
    if (compressed.empty() || compressed.depth() != CV_8U || !compressed.isContinuous())
        return QStringLiteral("no bytes");
    const uchar *bytes = compressed.ptr();
    const size_t length = compressed.total() * compressed.elemSize();
    if (length < 4 || bytes[0] != 0xFF || bytes[1] != 0xD8)
        return QStringLiteral("not a JPEG");
    const cv::Size header = mjpgFrameSize(compressed);
    if (header.empty())
        return QStringLiteral("no frame header");
    if (!negotiated.empty() && header != negotiated)
        return QStringLiteral("header says %1, the camera delivers %2").arg(sizeText(header), sizeText(negotiated));
    if (!endsWithEndOfImage(bytes, length))
        return QStringLiteral("cut short");
    return QString();
}

cv::Size reducedSize(cv::Size full, int reduction)
{
    if (reduction <= 1)
        return full;
    return cv::Size((full.width + reduction - 1) / reduction, (full.height + reduction - 1) / reduction);
}

int reductionFor(cv::Size full, cv::Size needed)
{
    if (needed.width <= 0 || needed.height <= 0 || full.width <= 0 || full.height <= 0)
        return 1;
    for (int reduction : {8, 4, 2}) {
        const cv::Size reduced = reducedSize(full, reduction);
        if (reduced.width >= needed.width && reduced.height >= needed.height)
            return reduction;
    }
    return 1;
}

bool encodeMjpgFrame(const cv::Mat &picture, int quality, cv::Mat &compressed)
{
    compressed.release();
    std::vector<uchar> bytes;
    if (picture.empty()
        || !cv::imencode(".jpg", picture, bytes, {cv::IMWRITE_JPEG_QUALITY, quality})
        || bytes.empty())
        return false;
    compressed = cv::Mat(bytes, true).reshape(1, 1);
    return true;
}
