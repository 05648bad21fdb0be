#include "fullsizeframe.h"

#include "mjpgframe.h"

std::shared_ptr<FullSizeFrame> FullSizeFrame::ofPicture(const cv::Mat &picture)
{
    std::shared_ptr<FullSizeFrame> frame(new FullSizeFrame);
    frame->full = picture;
    frame->fullSize = picture.size();
    std::call_once(frame->decodeOnce, [] {});
    return frame;
}

std::shared_ptr<FullSizeFrame> FullSizeFrame::ofCompressed(const cv::Mat &compressed,
                                                           const cv::Mat &livePicture, int reduction)
{
    if (reduction <= 1)
        return ofPicture(livePicture);
    std::shared_ptr<FullSizeFrame> frame(new FullSizeFrame);
    frame->compressed = compressed;
    frame->reduction = reduction;
    frame->fullSize = mjpgFrameSize(compressed);
    return frame;
}

cv::Mat FullSizeFrame::picture() const
{
    std::call_once(decodeOnce, [this] {
        cv::Mat decoded;
        if (decodeMjpgFrame(compressed, decoded, 1))
            full = decoded;
        compressed.release();
    });
    return full;
}
