#pragma once

#include "camerainfo.h"

#include <QList>
#include <QMap>
#include <QString>

#include <memory>

class VirtualSource;

// Virtual cameras named by the environment variable DOCSTATION_VIRTUAL_CAMERAS.
// Each entry becomes one CameraInfo after the real cameras, with a device
// number from firstIndex upwards, in the order written.
//
//   entries  = entry { ";" entry }            blank entries are ignored
//   entry    = "synthetic" [ ":" options ]    the built-in document scene
//            | "video:" PATH [ "?" options ]  a video file, played in a loop
//            | "image:" PATH [ "?" options ]  one still image
//            | "images:" PATTERN [ "?" options ]
//                                              a directory of images, a wildcard
//                                              pattern ("pages/*.jpg") or one file,
//                                              in name order, in a loop
//   options  = key "=" value { "," key "=" value }
//
// Options of every kind: name=TEXT (the camera's name; default "Virtual camera
// N (KIND)"). A "?" after a path starts options only when what follows reads
// as options, so "page?.png" is still a pattern.
//
// image:  fps=N (default 30)
// images: fps=N (default 30), hold=SECONDS each image stays (default 0: the
//         next image every frame)
// video:  the file's own rate and size
// synthetic:
//   sizes=WxH/WxH/...  offered resolutions, in this order (default 1920x1080/
//                      3264x2448/2592x1944/2048x1536/1600x1200/1280x960/1280x720)
//   size=WxH           opened at this size (default the first offered; an
//                      unlisted size is offered first)
//   fps=N              frame rate (default 30)
//   sheets=1..4        sheets on the table (default 1)
//   seal=0|1           red seal on the first sheet (default 1)
//   qr=TEXT, code128=TEXT, ean13=DIGITS
//                      codes on the last sheet (default none)
//   codes=1|all        1: a QR code and a Code 128 with default texts;
//                      all: also an EAN-13
//   seed=N             content and placement (default 1)
//   angle=DEG          every sheet at this angle (default: each its own, within ±10°)
//   page=SECONDS       a page turns every so many seconds (default 0: never)
//   dark=START+DUR     the lens covered from START for DUR seconds ("START+": for good)
//   vanish=START+DUR   unplugged: opening fails and frames are empty
//   repeat=SECONDS     the timeline (page, dark, vanish) starts over
//   script=STEPS       what lies on the table in each page slot, steps separated
//                      by "/": "-" an empty table, N page N (a page shown again
//                      lies a little moved), Nh page N with a hand sweeping over
//                      it at the start of its slot; the last step stays
//   hand=SECONDS       how long a scripted hand sweeps (default 1.5)
// Times count from when the entries were read (station start-up).
//
// Entries that do not parse, or files that cannot be read, are skipped with a
// warning and take no number.
namespace VirtualCameras {

constexpr int firstIndex = 1000;
constexpr const char *environmentVariable = "DOCSTATION_VIRTUAL_CAMERAS";

enum class Kind { Synthetic, Video, Image, Images };

struct Entry
{
    Kind kind = Kind::Synthetic;
    QString location;                 // path or pattern; empty for synthetic
    QMap<QString, QString> options;   // keys in lower case
};

// Splits one entry; false with a reason for text that is not an entry.
bool parseEntry(const QString &text, Entry &entry, QString *error = nullptr);

// Parses the variable, or a string of the same form, into camera records, and
// remembers their sources for createSource().
QList<CameraInfo> fromEnvironment();
QList<CameraInfo> parse(const QString &entries);

bool isVirtual(int deviceNumber);

// A new source for a device number handed out by the last parse(), or null.
std::unique_ptr<VirtualSource> createSource(int deviceNumber);

// Pulls a virtual camera out (opening fails, frames are empty) or plugs it
// back in, as a test would with a USB cable.
void setPlugged(int deviceNumber, bool plugged);
// How often sources of this camera were opened since the last parse().
int openCount(int deviceNumber);

} // namespace VirtualCameras
