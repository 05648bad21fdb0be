#pragma once

#include <QImage>

#include <memory>

class FullSizeFrame;
class ImageProcessing;

// A second camera's picture as it goes with a photo. Taking it is cheap (the
// picture shown and the frame it came from); making the full-size picture,
// which means decoding and processing the whole frame, is left to the thread
// that takes the photo.
struct ChildPicture
{
    QImage shown;
    // Set when the shown picture was decoded reduced from this frame.
    std::shared_ptr<FullSizeFrame> full;
    // The second camera's own capture thread: its processing settings.
    ImageProcessing *source = nullptr;

    // The picture at the camera's full size, processed and turned like the
    // shown one; the shown one when there is nothing larger.
    QImage resolve() const;
};
