#pragma once

#include <QImage>
#include <QList>
#include <QString>

#include <opencv2/core.hpp>

#include <vector>

class Config;
class ImageProcessing;

// The steps photo taking and web capture share: the processed frame, its
// upscaling, the document cut-outs, the face cut-out and the finishing of a
// picture (white background, watermark, insets) before it is written.
namespace photosteps {

struct Shot {
    std::vector<cv::RotatedRect> detections;
    cv::Mat processed;   // the frame after colour mode and detection
};

// The current frame through the pipeline; false when there is no frame yet.
bool shoot(ImageProcessing &camera, Shot &shot);

// `processed` as a picture, upscaled to the configured resolution, not yet
// rotated. Only the whole-frame and manual-selection photos need it.
QImage basePicture(const ImageProcessing &camera, const Shot &shot);

// Every detection of a correction mode cut out and straightened, in
// detection order; all-zero detections give null pictures.
std::vector<QImage> cutOuts(ImageProcessing &camera, const Shot &shot, int correction);

// Face mode with a face of `camera` large enough to replace the photo's pictures.
bool faceReplacesPictures(const ImageProcessing &camera, const Config &config);

// What the manual selection of the preview covers of `rotated`, `baseSize`
// being the picture's size before rotation. Null when the preview geometry
// is unusable (a zero view or drawing size).
QImage manualSelection(const QImage &rotated, const QSize &baseSize, const Config &config);

struct Insets {
    const QImage *first = nullptr;    // top-left
    const QImage *second = nullptr;   // top-right
};

// The picture as it is written: white background when asked, the watermark,
// the insets.
QImage finish(ImageProcessing &camera, const QImage &picture, bool whiteBackground,
              const Insets &insets);


} // namespace photosteps
