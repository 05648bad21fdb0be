#pragma once

#include "stationtest.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

class ImageProcessing;

namespace testenv {

// A capture-and-processing object (its thread not started) on factory
// settings, with no face left over from an earlier case. The photos it
// announces and the failures it reports are collected.
class CaptureTest : public StationTest
{
protected:
    void SetUp() override;
    void TearDown() override;

    // The files in the working directory, by name.
    QStringList written() const;

    std::unique_ptr<ImageProcessing> camera;
    QList<QList<QString>> delivered;
    QList<int> types;
    QStringList failures;
};

} // namespace testenv
