// Test double of the fingerprint algorithm library (see algorithm_teststub.h).
#include "algorithm_teststub.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <set>
#include <vector>

#define STUB_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

constexpr int kSide = 40;            // samples per side of the centre patch
constexpr int kStride = 3;           // pixels between samples
constexpr int kHeader = 4;
constexpr int kLength = kHeader + kSide * kSide;
constexpr unsigned char kMagic[kHeader] = {'T', 'S', 'T', '1'};

struct Handle
{
    int width = 0;
    int height = 0;
    std::map<int, std::vector<unsigned char>> db;
};

struct Knobs
{
    int verifyScore = -1;
    int enrolLength = 0;
    int genError = 0;
    int addError = 0;
};

Knobs knobs;
std::set<Handle *> liveHandles;
Handle *newest = nullptr;

bool isTemplate(const unsigned char *t)
{
    return t && std::memcmp(t, kMagic, kHeader) == 0;
}

int correlationScore(const unsigned char *a, const unsigned char *b)
{
    double ma = 0, mb = 0;
    for (int i = kHeader; i < kLength; ++i) {
        ma += a[i];
        mb += b[i];
    }
    ma /= kSide * kSide;
    mb /= kSide * kSide;
    double sab = 0, saa = 0, sbb = 0;
    for (int i = kHeader; i < kLength; ++i) {
        sab += (a[i] - ma) * (b[i] - mb);
        saa += (a[i] - ma) * (a[i] - ma);
        sbb += (b[i] - mb) * (b[i] - mb);
    }
    if (saa <= 0 || sbb <= 0)
        return 0;
    return std::max(0, int(std::lround(100.0 * sab / std::sqrt(saa * sbb))));
}

} // namespace

STUB_EXPORT void qxfpstub_force_verify_score(int score) { knobs.verifyScore = score; }
STUB_EXPORT void qxfpstub_set_enrol_length(int length) { knobs.enrolLength = length; }
STUB_EXPORT void qxfpstub_set_gen_error(int code) { knobs.genError = code; }
STUB_EXPORT void qxfpstub_set_add_error(int code) { knobs.addError = code; }
STUB_EXPORT void qxfpstub_reset(void) { knobs = Knobs(); }
STUB_EXPORT int qxfpstub_live_handles(void) { return int(liveHandles.size()); }

STUB_EXPORT int qxfpstub_db_size(void)
{
    return newest ? int(newest->db.size()) : -1;
}

STUB_EXPORT int qxfpstub_db_template(int id, unsigned char *out, int capacity)
{
    if (!newest || !newest->db.count(id))
        return -1;
    const std::vector<unsigned char> &t = newest->db.at(id);
    std::memcpy(out, t.data(), std::min<size_t>(t.size(), size_t(std::max(0, capacity))));
    return int(t.size());
}

STUB_EXPORT void *VERIDO_INIT_SIMPLE(int, int width, int height, int)
{
    auto *h = new Handle;
    h->width = width;
    h->height = height;
    liveHandles.insert(h);
    newest = h;
    return h;
}

STUB_EXPORT int VERIDO_CLOSE(void *handle)
{
    auto *h = static_cast<Handle *>(handle);
    if (!liveHandles.erase(h))
        return -1;
    if (newest == h)
        newest = nullptr;
    delete h;
    return 0;
}

STUB_EXPORT int VERIDO_EXTRACT_GRAYSCALEDATA(void *handle, unsigned char *image, int width, int height,
                                             unsigned char *templ, int capacity, int)
{
    if (!liveHandles.count(static_cast<Handle *>(handle)) || !image || !templ)
        return -2;
    if (capacity < kLength)
        return -3;
    const int span = (kSide - 1) * kStride;
    const int x0 = (width - span) / 2, y0 = (height - span) / 2;
    if (x0 < 0 || y0 < 0)
        return -4;
    std::memcpy(templ, kMagic, kHeader);
    for (int y = 0; y < kSide; ++y)
        for (int x = 0; x < kSide; ++x)
            templ[kHeader + y * kSide + x] = image[(y0 + y * kStride) * width + x0 + x * kStride];
    return kLength;
}

STUB_EXPORT int VERIDO_EXTRACT(void *handle, unsigned char *image, unsigned char *templ, int)
{
    auto *h = static_cast<Handle *>(handle);
    if (!liveHandles.count(h))
        return -2;
    return VERIDO_EXTRACT_GRAYSCALEDATA(handle, image, h->width, h->height, templ, 2048, 0);
}

STUB_EXPORT int pVERIDO_GETLASTQUALITY(void *) { return 80; }

STUB_EXPORT int VERIDO_VERIFY(void *, unsigned char *a, unsigned char *b)
{
    if (knobs.verifyScore >= 0)
        return knobs.verifyScore;
    return isTemplate(a) && isTemplate(b) ? correlationScore(a, b) : 0;
}

STUB_EXPORT int VERIDO_GENTEMPLATE(void *, unsigned char **templates, int count, unsigned char *out)
{
    if (knobs.genError)
        return knobs.genError;
    if (count != 3 || !templates || !isTemplate(templates[0]))
        return -2;
    std::memcpy(out, templates[0], kLength);
    const int length = knobs.enrolLength > kLength ? std::min(knobs.enrolLength, 2048) : kLength;
    for (int i = kLength; i < length; ++i)
        out[i] = static_cast<unsigned char>(i * 7 + 1);
    return length;
}

STUB_EXPORT int VERIDO_DB_ADD(void *handle, int id, int length, unsigned char *templ)
{
    auto *h = static_cast<Handle *>(handle);
    if (!liveHandles.count(h))
        return -2;
    if (knobs.addError)
        return knobs.addError;
    if (length < kLength || length > 2048 || !isTemplate(templ))
        return -3;
    h->db[id] = std::vector<unsigned char>(templ, templ + length);
    return 1;
}

STUB_EXPORT int VERIDO_DB_DEL(void *handle, int id)
{
    auto *h = static_cast<Handle *>(handle);
    return liveHandles.count(h) && h->db.erase(id) ? 1 : 0;
}

STUB_EXPORT int VERIDO_DB_CLEAR(void *handle)
{
    auto *h = static_cast<Handle *>(handle);
    if (!liveHandles.count(h))
        return -2;
    h->db.clear();
    return 1;
}

STUB_EXPORT int VERIDO_DB_COUNT(void *handle)
{
    auto *h = static_cast<Handle *>(handle);
    return liveHandles.count(h) ? int(h->db.size()) : -2;
}

STUB_EXPORT int VERIDO_IDENTIFYTEMP(void *handle, unsigned char *templ, int *id, int *score)
{
    auto *h = static_cast<Handle *>(handle);
    if (!liveHandles.count(h) || !isTemplate(templ))
        return -2;
    int bestId = 0, best = -1;
    for (const auto &entry : h->db) {
        const int s = correlationScore(entry.second.data(), templ);
        if (s > best) {
            best = s;
            bestId = entry.first;
        }
    }
    if (best < 50)
        return 0;
    *id = bestId;
    *score = best;
    return 1;
}

STUB_EXPORT int VERIDO_TEMPLATELEN(unsigned char *templ)
{
    return isTemplate(templ) ? kLength : -1;
}

STUB_EXPORT int VERIDO_SET_PARAMETER(void *, int, int) { return 0; }
