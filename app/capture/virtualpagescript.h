#pragma once

#include <QString>
#include <QVector>

#include <opencv2/core.hpp>

// A scripted page-turn sequence for the synthetic camera: what lies on the
// table in each page slot, e.g. "-/1/2/3h/1" (empty table, pages 1, 2, 3
// with a hand sweeping over it while it is laid down, page 1 again).
class VirtualPageScript
{
public:
    struct Step
    {
        bool empty = false;   // nothing on the table
        int page = 0;         // the scene's page number
        bool hand = false;    // a hand sweeps over the sheet at the start of the slot
        int showing = 0;      // how often this page lay there before (0: first time)
    };

    // Steps separated by "/": "-" for an empty table, or a page number
    // (0..9999) with an optional "h". False for anything else or no steps.
    static bool parse(const QString &text, VirtualPageScript &script);

    bool isEmpty() const { return steps.isEmpty(); }
    int size() const { return steps.size(); }
    // The step of a slot; slots past the end stay on the last step.
    const Step &at(int slot) const;

    // A page laid down again never lies exactly where it lay before: each
    // later showing (1, 2, ...) of the frame is turned and moved a little.
    static void layAgain(cv::Mat &image, int showing);

private:
    QVector<Step> steps;
};
