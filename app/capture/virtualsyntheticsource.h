#pragma once

#include "virtualsourcebase.h"
#include "virtualpagescript.h"
#include "virtualsourceoptions.h"

#include "docscene.h"

#include <QList>
#include <QSize>

// The settings of a synthetic camera, from the options of its entry.
struct SyntheticSettings
{
    QList<QSize> sizes;          // offered, in this order; the first is opened unless `size` says otherwise
    QSize size;                  // opened at this one
    double fps = 30;
    docscene::Options scene;     // scene.size follows the current frame size
    double pageSeconds = 0;      // a page turns every so many seconds; 0: never
    VirtualSourceOptions::Window dark;     // the lens covered: near-black frames
    VirtualSourceOptions::Window vanish;   // unplugged: opening fails, frames are empty
    double repeatSeconds = 0;    // the timeline starts over after this many seconds; 0: never
    bool stamp = false;          // the read time painted into each frame (latency measurements)
    VirtualPageScript script;    // what lies on the table in each page slot; empty: page = slot
    double handSeconds = 1.5;    // how long a scripted hand sweeps over the sheet

    static QList<QSize> defaultSizes();
    static bool fromOptions(const VirtualSourceOptions::Options &options, SyntheticSettings &settings,
                            QString *error);

    // Seconds on the camera's timeline, after `repeatSeconds` folding.
    double timeline(double seconds) const;
    int pageAt(double timelineSeconds) const;
};

// A camera looking at the synthetic document scene. The scene is drawn once
// per page and size; every read hands out a fresh copy, as a camera would.
class VirtualSyntheticSource : public VirtualSourceBase
{
public:
    VirtualSyntheticSource(const SyntheticSettings &settings, std::shared_ptr<VirtualDeviceState> state);

    // The geometry of the scene in the last frame read (empty before one).
    const docscene::Geometry &geometry() const { return rendered.geometry; }

protected:
    bool openSource() override;
    bool readSource(cv::Mat &frame) override;
    cv::Size frameSize() const override;
    bool requestSize(cv::Size wanted) override;
    long long pictureNumber() const override { return handedOut; }

private:
    cv::Mat handOut(const cv::Mat &picture, long long number);
    void renderSlot(int slot);
    // Seconds into the current slot while a scripted hand is over the table, else -1.
    double handProgress(double timelineSeconds, int slot) const;

    SyntheticSettings settings;
    QSize current;
    docscene::Frame rendered;
    int renderedSlot = -1;
    QSize renderedSize;
    cv::Mat dark;
    // Every picture drawn gets the next number; a stamped frame is a fresh one.
    long long pictures = 0;
    long long renderedNumber = kFreshPicture;
    long long darkNumber = kFreshPicture;
    long long handedOut = kFreshPicture;
};
