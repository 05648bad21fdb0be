#include "capturetest.h"

#include "imageprocessing.h"

#include <QDir>

namespace testenv {

void CaptureTest::SetUp()
{
    StationTest::SetUp();
    if (HasFatalFailure())
        return;
    camera = std::make_unique<ImageProcessing>();
    QObject::connect(camera.get(),
                     qOverload<QList<QString>, int>(&ImageProcessing::sendTakePhotoImageSignal),
                     [this](QList<QString> paths, int type) {
                         delivered.append(paths);
                         types.append(type);
                     });
    QObject::connect(camera.get(), &ImageProcessing::sendPhotoFailedSignal,
                     [this](QString text) { failures.append(text); });
}

void CaptureTest::TearDown()
{
    camera.reset();
    StationTest::TearDown();
}

QStringList CaptureTest::written() const
{
    return QDir(documents.path()).entryList(QDir::Files, QDir::Name);
}

} // namespace testenv
