#pragma once

#include <QJsonObject>
#include <QString>

#include <climits>
#include <initializer_list>

// The numeric members of a page's command, checked before anything acts on
// them: a value the station cannot use (a correction mode 3, a rotation of
// -5, a quality of 500) would otherwise be stored and spoil what follows for
// every page.
namespace commandmembers {

struct Range {
    const char *name;
    int lowest;
    int highest;
};

// Whether every member named in `ranges` that `request` carries is a whole
// number within its range. A member left out reads as 0 and passes. `problem`
// names the first member that does not.
bool valid(const QJsonObject &request, std::initializer_list<Range> ranges, QString *problem);

// The member as an integer (0 when left out); for members valid() passed.
int value(const QJsonObject &request, const char *name);

// The largest capture size a page may ask for, in either direction.
constexpr int kMaxCaptureSide = 16384;

} // namespace commandmembers
