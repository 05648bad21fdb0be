// Creates the top-level window of the configured mode. The desktop main
// window replaces this simple live view when it is built.
#include "startup.h"

#include "cache.h"
#include "config.h"
#include "imageprocessing.h"

#include <QDebug>
#include <QLabel>

namespace {

class LiveView : public QLabel
{
public:
    LiveView()
    {
        setWindowTitle(QStringLiteral("docstation"));
        resize(1280, 800);
        setAlignment(Qt::AlignCenter);
        capture = new ImageProcessing(this);
        connect(capture, &ImageProcessing::sendFarmeSignal, this,
                [this](QImage image) {
                    setPixmap(QPixmap::fromImage(image.scaled(size(), Qt::KeepAspectRatio)));
                },
                Qt::BlockingQueuedConnection);
        capture->begin();
        capture->cameraListIndex = Cache::config->cameraIndex;
        capture->reConfigVideoSetting();
    }
    ~LiveView() override { capture->end(); }

private:
    ImageProcessing *capture;
};

} // namespace

QWidget *Startup::createModeWindow(Config &config)
{
    if (config.httpMode || config.webSocketMode)
        qDebug() << "service mode window not available; starting the desktop view";
    return new LiveView();
}
