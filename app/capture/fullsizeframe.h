#pragma once

#include <opencv2/core.hpp>

#include <memory>
#include <mutex>

// One camera frame at the camera's full size, for everything that is kept
// (photos, insets, recordings). A compressed frame whose live picture was
// decoded at a reduced scale is decoded in full only when someone asks, and
// then once, whichever thread asks first.
class FullSizeFrame
{
public:
    // A frame that arrived decoded (raw camera formats, pushed frames).
    static std::shared_ptr<FullSizeFrame> ofPicture(const cv::Mat &picture);
    // A compressed frame and its live picture at 1/reduction; with
    // reduction 1 the live picture is already the full one.
    static std::shared_ptr<FullSizeFrame> ofCompressed(const cv::Mat &compressed,
                                                       const cv::Mat &livePicture, int reduction);

    // Empty when the compressed bytes do not decode.
    cv::Mat picture() const;
    // The full picture's size, known without decoding (from the JPEG header).
    cv::Size size() const { return fullSize; }
    // 1 when the live picture is the full one, else 2, 4 or 8.
    int liveReduction() const { return reduction; }

private:
    FullSizeFrame() = default;

    mutable cv::Mat compressed;   // dropped once decoded
    int reduction = 1;
    cv::Size fullSize;
    mutable std::once_flag decodeOnce;
    mutable cv::Mat full;
};
