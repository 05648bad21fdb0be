#include "childpicture.h"

#include "fullsizeframe.h"
#include "imageprocessing.h"

QImage ChildPicture::resolve() const
{
    if (shown.isNull() || !full || !source || full->liveReduction() == 1)
        return shown;
    const cv::Mat picture = full->picture();
    if (picture.empty())
        return shown;
    return source->handleQImage(source->processLiveFrame(picture));
}
