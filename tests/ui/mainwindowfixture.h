#pragma once

#include "stationtest.h"

#include "mainwindowqcamera.h"

#include <memory>

namespace Ui {
class MainWindowQCamera;
}

namespace uitest {

// Clicks the tool button of one long-running mode (on when it was off).
void switchOn(MainWindowQCamera &window, MainWindowQCamera::Mode mode);

// The desktop window on factory settings without cameras; created by each
// case when it is ready, closed after it.
class MainWindowFixture : public testenv::StationTest
{
protected:
    void SetUp() override;
    void TearDown() override;

    void createWindow();
    // The preview's first frame, as after a camera opened.
    void deliverFrame();
    // Opens the window on a frame and records a video of a moment.
    void recordAShortVideo();

    std::unique_ptr<MainWindowQCamera> window;
    Ui::MainWindowQCamera *ui = nullptr;
};

} // namespace uitest
