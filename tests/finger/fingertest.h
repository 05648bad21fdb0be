#pragma once

#include "qxsensorcore_sim.h"
#include "workdirtest.h"

#include <QString>

#include <memory>

class Dialog;

// Drives the fingerprint dialog as an operator does: buttons, the id field,
// the message box, and a finger on the simulated sensor.
namespace fingertest {

// Attaches one simulated sensor; returns its index in the simulation.
int attachSensor();
// Puts finger `fingerId` fully pressed on sensor `dev`, or takes it away.
void placeFinger(int dev, int fingerId);
void liftFinger(int dev);

void click(Dialog &dialog, const char *buttonName);
void typeId(Dialog &dialog, const QString &text);
QString message(const Dialog &dialog);
// Pumps events until the message box reads `text`; false after `timeoutMs`.
bool waitForMessage(const Dialog &dialog, const QString &text, int timeoutMs = 10000);
// Places the finger, waits for the dialog's answer to it, lifts the finger
// and returns the answer (empty when none came).
QString press(Dialog &dialog, int dev, int fingerId);
// The same with the finger laid on the glass as `placement` describes.
QString press(Dialog &dialog, int dev, int fingerId, const QXSimImpression &placement);

// One simulated sensor attached in a working directory of its own (the
// template store lands there); after each case the dialog is gone and no
// sensor connection is left open.
class SensorTest : public testenv::WorkDirTest
{
protected:
    void SetUp() override;
    void TearDown() override;

    int sensor = -1;
    std::unique_ptr<Dialog> dialog;
};

} // namespace fingertest
