#pragma once

#include <QString>
#include <QStringList>

#include <opencv2/core.hpp>

// Small media written by the tests themselves.
namespace mediafiles {

// A flat colour per frame: frame i has every channel at level 40 * i + 20, so
// a reader can tell which frame it got.
int levelOfFrame(int i);

// An MJPG AVI of `frames` frames; false when no writer is available.
bool writeVideo(const QString &path, int frames, double fps, cv::Size size);

// One PNG of the given level.
bool writeImage(const QString &path, int level, cv::Size size);

// The mean level of a frame (all channels).
double meanLevel(const cv::Mat &frame);

} // namespace mediafiles
