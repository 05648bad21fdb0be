#pragma once

#include <QList>

class CameraInfo;
class Config;
class QWidget;

// The steps of start-up that do not need a window, one function each.
namespace Startup {

// Keeps frame-sized buffers in the heap: they are freed and allocated again
// on every capture pass, and handing them back to the system each time costs
// more in page faults than the image work itself.
void keepFrameBuffersInHeap();

// Loads the desktop's application font when the platform has one.
void installApplicationFont();

// Real Video4Linux2 cameras first, then the virtual ones named in the environment.
QList<CameraInfo> findCameras();

// The twelve output resolutions offered for saved photos.
void fillOutResolutions(Config &config);

// The writable image formats, without JPEG 2000.
void fillImageFormats(Config &config);

// Creates the top-level window of the configured mode. In service mode no
// dialog closing (a page's consent question, the card or fingerprint window)
// ends the station: its own window is a tool window Qt does not count.
QWidget *createModeWindow(Config &config);

// SIGTERM, SIGINT and SIGHUP end the event loop instead of the process, so
// main() can tear the window down. Call once the application object exists.
void quitOnTerminationSignals();

} // namespace Startup
