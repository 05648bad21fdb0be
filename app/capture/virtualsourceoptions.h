#pragma once

#include <QList>
#include <QMap>
#include <QSize>
#include <QString>

// Option values of virtual-camera entries ("key=value,key=value").
namespace VirtualSourceOptions {

using Options = QMap<QString, QString>;

// A span of a source's timeline in seconds: "START+DURATION", or "START+"
// (and plain "START") for ever after.
struct Window
{
    bool enabled = false;
    double start = 0;
    double duration = -1;   // negative: no end
    bool contains(double seconds) const;
};

bool parseSize(const QString &text, QSize &size);                  // "1920x1080"
bool parseSizes(const QString &text, QList<QSize> &sizes);         // "1920x1080/1280x720"
bool parseNumber(const QString &text, double low, double high, double &value);
bool parseInt(const QString &text, int low, int high, int &value);
bool parseSwitch(const QString &text, bool &value);                // 1/0, on/off, yes/no, true/false
bool parseWindow(const QString &text, Window &window);

// Fails with "unknown option KEY" for a key outside `known`.
bool checkKnown(const Options &options, const QStringList &known, QString *error);

// The offered size nearest to `wanted` (sum of the width and height differences).
QSize nearestSize(const QList<QSize> &offered, QSize wanted);

} // namespace VirtualSourceOptions
