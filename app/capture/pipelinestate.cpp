#include "pipelinestate.h"

#include "imageprocessing.h"

#include <QMutex>
#include <QMutexLocker>

namespace pipelinestate {

namespace {
QMutex &stateMutex()
{
    static QMutex mutex;
    return mutex;
}
} // namespace

void publishDocuments(ImageProcessing &owner, documentdetection::Documents &&documents)
{
    QMutexLocker lock(&stateMutex());
    owner.documentContours = std::move(documents.outlines);
    // The largest outline survives a detection that keeps nothing.
    if (!documents.largestOutline.empty())
        owner.largestContour = std::move(documents.largestOutline);
}

} // namespace pipelinestate
