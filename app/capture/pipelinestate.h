#pragma once

#include "documentdetection.h"

#include <opencv2/core.hpp>

class ImageProcessing;

// Detection results that outlive one call (the outlines of the last
// detection) are written by the capture thread and by photo
// calls from the owner's thread; these keep every write whole.
namespace pipelinestate {

void publishDocuments(ImageProcessing &owner, documentdetection::Documents &&documents);

} // namespace pipelinestate
