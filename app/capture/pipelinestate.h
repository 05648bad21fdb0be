#pragma once

#include "documentdetection.h"

#include <opencv2/core.hpp>

class ImageProcessing;

// Detection results that outlive one call (the outlines of the last
// detection, the last face) are written by the capture thread and by photo
// calls from the owner's thread; these keep every write whole.
namespace pipelinestate {

void publishDocuments(ImageProcessing &owner, documentdetection::Documents &&documents);
void setObjectFace(const cv::Rect &face);
cv::Rect objectFaceNow();

} // namespace pipelinestate
