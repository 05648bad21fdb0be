// The exported entry points: handles, extraction, enrolment, verification
// and the in-memory template database.
#include "qxfp.h"

#include "enrol.h"
#include "extract.h"
#include "matcher.h"
#include "template_codec.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <set>

#define QXFP_EXPORT extern "C" __attribute__((visibility("default")))

namespace qxfp {
namespace {

constexpr int kMaxSide = 2048;  // pixels; sensors deliver a few hundred

struct Handle {
    int width = 0, height = 0;
    int lastQuality = 0;
    int threshold = QXFP_THRESHOLD;
    std::map<int, PreparedTemplate> db;
    std::mutex lock;
};

// Handles are checked against this set so a stale or foreign pointer is
// refused instead of dereferenced.
std::mutex g_handlesLock;
std::set<Handle *> g_handles;

Handle *lookup(void *h) {
    std::lock_guard<std::mutex> guard(g_handlesLock);
    auto it = g_handles.find(static_cast<Handle *>(h));
    return it == g_handles.end() ? nullptr : *it;
}

bool decode(const unsigned char *p, Template *t) { return decode_template(p, kTemplateCapacity, t); }

int extract_into(Handle &h, const unsigned char *image, int width, int height, unsigned char *out, int capacity) {
    if (!image || !out || capacity <= 0 || width < 32 || height < 32 || width > kMaxSide || height > kMaxSide)
        return QXFP_ERR_ARGUMENT;
    Extraction ex = extract_minutiae(image, width, height);
    {
        std::lock_guard<std::mutex> guard(h.lock);
        h.lastQuality = ex.quality;
    }
    if (static_cast<int>(ex.minutiae.size()) < kMinMinutiae) return QXFP_ERR_NO_FINGER;
    Template t;
    t.kind = kProbeTemplate;
    t.quality = ex.quality;
    t.impressions.push_back(std::move(ex.minutiae));
    return encode_template(t, out, capacity);
}

}  // namespace
}  // namespace qxfp

using namespace qxfp;

QXFP_EXPORT void *VERIDO_INIT_SIMPLE(int reserved, int width, int height, int flags) {
    if (width < 16 || height < 16 || width > kMaxSide || height > kMaxSide) return nullptr;
    Handle *h = new (std::nothrow) Handle;
    if (!h) return nullptr;
    h->width = width;
    h->height = height;
    std::lock_guard<std::mutex> guard(g_handlesLock);
    g_handles.insert(h);
    return h;
}

QXFP_EXPORT int VERIDO_CLOSE(void *handle) {
    Handle *h;
    {
        std::lock_guard<std::mutex> guard(g_handlesLock);
        auto it = g_handles.find(static_cast<Handle *>(handle));
        if (it == g_handles.end()) return QXFP_ERR_HANDLE;
        h = *it;
        g_handles.erase(it);
    }
    delete h;
    return 0;
}

QXFP_EXPORT int VERIDO_EXTRACT(void *handle, unsigned char *image, unsigned char *templ, int flags) {
    Handle *h = lookup(handle);
    if (!h) return QXFP_ERR_HANDLE;
    return extract_into(*h, image, h->width, h->height, templ, QXFP_MAX_TEMPLATE);
}

QXFP_EXPORT int VERIDO_EXTRACT_GRAYSCALEDATA(void *handle, unsigned char *image, int width, int height,
                                             unsigned char *templ, int capacity, int flags) {
    Handle *h = lookup(handle);
    if (!h) return QXFP_ERR_HANDLE;
    return extract_into(*h, image, width, height, templ, capacity);
}

QXFP_EXPORT int pVERIDO_GETLASTQUALITY(void *handle) {
    Handle *h = lookup(handle);
    if (!h) return QXFP_ERR_HANDLE;
    std::lock_guard<std::mutex> guard(h->lock);
    return h->lastQuality;
}

QXFP_EXPORT int VERIDO_GENTEMPLATE(void *handle, unsigned char **templates, int count, unsigned char *out) {
    Handle *h = lookup(handle);
    if (!h) return QXFP_ERR_HANDLE;
    if (!templates || !out || count < 1 || count > kMaxImpressions) return QXFP_ERR_ARGUMENT;
    std::vector<MinutiaSet> sets;
    int quality = 0;
    for (int i = 0; i < count; ++i) {
        Template t;
        if (!templates[i] || !decode(templates[i], &t) || t.kind != kProbeTemplate) return QXFP_ERR_TEMPLATE;
        quality += t.quality;
        sets.push_back(std::move(t.impressions.front()));
    }
    Template enrol;
    enrol.kind = kEnrolTemplate;
    enrol.quality = quality / count;
    MinutiaSet fused;
    if (!fuse_impressions(sets, &fused)) return QXFP_ERR_MISMATCH;
    enrol.impressions.push_back(std::move(fused));
    return encode_template(enrol, out, QXFP_MAX_TEMPLATE);
}

QXFP_EXPORT int VERIDO_VERIFY(void *handle, unsigned char *a, unsigned char *b) {
    Handle *h = lookup(handle);
    if (!h) return QXFP_ERR_HANDLE;
    Template ta, tb;
    if (!a || !b) return QXFP_ERR_ARGUMENT;
    if (!decode(a, &ta) || !decode(b, &tb)) return QXFP_ERR_TEMPLATE;
    return match_templates(prepare_template(ta), prepare_template(tb));
}

QXFP_EXPORT int VERIDO_TEMPLATELEN(unsigned char *templ) { return template_length(templ); }

QXFP_EXPORT int VERIDO_DB_CLEAR(void *handle) {
    Handle *h = lookup(handle);
    if (!h) return QXFP_ERR_HANDLE;
    std::lock_guard<std::mutex> guard(h->lock);
    h->db.clear();
    return 0;
}

QXFP_EXPORT int VERIDO_DB_ADD(void *handle, int id, int length, unsigned char *templ) {
    Handle *h = lookup(handle);
    if (!h) return QXFP_ERR_HANDLE;
    if (id <= 0 || !templ || length < kHeaderSize || length > QXFP_MAX_TEMPLATE) return QXFP_ERR_ARGUMENT;
    Template t;
    if (template_length(templ) != length || !decode_template(templ, length, &t)) return QXFP_ERR_TEMPLATE;
    std::lock_guard<std::mutex> guard(h->lock);
    if (h->db.count(id)) return QXFP_ERR_DUPLICATE;
    try {
        h->db.emplace(id, prepare_template(t));
    } catch (const std::bad_alloc &) {
        return QXFP_ERR_MEMORY;
    }
    return 1;
}

QXFP_EXPORT int VERIDO_DB_DEL(void *handle, int id) {
    Handle *h = lookup(handle);
    if (!h) return QXFP_ERR_HANDLE;
    std::lock_guard<std::mutex> guard(h->lock);
    return h->db.erase(id) ? 1 : QXFP_ERR_NOT_FOUND;
}

QXFP_EXPORT int VERIDO_DB_COUNT(void *handle) {
    Handle *h = lookup(handle);
    if (!h) return QXFP_ERR_HANDLE;
    std::lock_guard<std::mutex> guard(h->lock);
    return static_cast<int>(h->db.size());
}

QXFP_EXPORT int VERIDO_IDENTIFYTEMP(void *handle, unsigned char *templ, int *id, int *score) {
    Handle *h = lookup(handle);
    if (!h) return QXFP_ERR_HANDLE;
    if (!templ || !id || !score) return QXFP_ERR_ARGUMENT;
    *id = 0;
    *score = 0;
    Template t;
    if (!decode(templ, &t)) return QXFP_ERR_TEMPLATE;
    const PreparedTemplate probe = prepare_template(t);
    std::lock_guard<std::mutex> guard(h->lock);
    int bestId = 0, best = -1;
    for (const auto &entry : h->db) {
        const int s = match_templates(probe, entry.second);
        if (s > best) {
            best = s;
            bestId = entry.first;
        }
    }
    if (best < 0) return 0;
    *score = best;
    if (best < h->threshold) return 0;
    *id = bestId;
    return 1;
}

QXFP_EXPORT int VERIDO_SET_PARAMETER(void *handle, int code, int value) {
    Handle *h = lookup(handle);
    if (!h) return QXFP_ERR_HANDLE;
    if (code != QXFP_PARAM_THRESHOLD || value < 1 || value > 100) return QXFP_ERR_ARGUMENT;
    std::lock_guard<std::mutex> guard(h->lock);
    h->threshold = value;
    return 0;
}
