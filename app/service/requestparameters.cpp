#include "requestparameters.h"

namespace requestparameters {

const char *const kResolutionText =
    "4640x3452|4416x3312|3742x2806|3264x2448|2592x1944|2048x1536|1920x1080|1600x1200|1280x960|"
    "1280x720|800x600|640x480";

namespace {

// The text after the first "cutpage", or a null array without one.
QByteArray afterCutpage(const QByteArray &data)
{
    const int at = data.indexOf("cutpage");
    if (at < 0)
        return QByteArray();
    const QByteArray rest = data.mid(at + int(sizeof("cutpage")) - 1);
    return rest.isNull() ? QByteArray("") : rest;
}

} // namespace

int grabCorrection(const QByteArray &data)
{
    const QByteArray rest = afterCutpage(data);
    if (rest.isNull())
        return kUnchanged;
    return rest.contains('0') ? 0 : 1;
}

int setCorrection(const QByteArray &data)
{
    const QByteArray rest = afterCutpage(data);
    if (rest.isNull())
        return kUnchanged;
    return rest.contains("false") ? 0 : 1;
}

int outputResolution(const QByteArray &data)
{
    if (!data.contains("resolution"))
        return kUnchanged;
    static const char *const sizes[] = {"4640", "4416", "3742", "3264", "2592", "2048",
                                        "1920", "1600", "960",  "720",  "800",  "640"};
    for (int index = 0; index < int(sizeof(sizes) / sizeof(sizes[0])); ++index) {
        if (data.contains(sizes[index]))
            return index;
    }
    return kUnchanged;
}

} // namespace requestparameters
