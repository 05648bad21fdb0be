#include "qxfinger10.h"

#include "dynamiclibrary.h"

namespace {
const char kAlgorithmLibrary[] = "libqxfp.so";
} // namespace

QXFinger10::~QXFinger10()
{
    free();
    freeQXFinger10();
}

bool QXFinger10::loadQXFinger10()
{
    if (library)
        return true;
    library = dynamiclibrary::open(kAlgorithmLibrary);
    if (!library)
        return false;
    dynamiclibrary::bind(library, "VERIDO_INIT_SIMPLE", fnInitSimple);
    dynamiclibrary::bind(library, "VERIDO_CLOSE", fnClose);
    dynamiclibrary::bind(library, "VERIDO_EXTRACT", fnExtract);
    dynamiclibrary::bind(library, "pVERIDO_GETLASTQUALITY", fnGetLastQuality);
    dynamiclibrary::bind(library, "VERIDO_GENTEMPLATE", fnGenTemplate);
    dynamiclibrary::bind(library, "VERIDO_VERIFY", fnVerify);
    dynamiclibrary::bind(library, "VERIDO_DB_CLEAR", fnDbClear);
    dynamiclibrary::bind(library, "VERIDO_DB_ADD", fnDbAdd);
    dynamiclibrary::bind(library, "VERIDO_DB_DEL", fnDbDel);
    dynamiclibrary::bind(library, "VERIDO_DB_COUNT", fnDbCount);
    dynamiclibrary::bind(library, "VERIDO_IDENTIFYTEMP", fnIdentifyTemp);
    dynamiclibrary::bind(library, "VERIDO_TEMPLATELEN", fnTemplateLength);
    dynamiclibrary::bind(library, "VERIDO_SET_PARAMETER", fnSetParameter);
    dynamiclibrary::bind(library, "VERIDO_EXTRACT_GRAYSCALEDATA", fnExtractGreyscale);
    if (!fnInitSimple) {
        freeQXFinger10();
        return false;
    }
    return true;
}

void QXFinger10::freeQXFinger10()
{
    // A handle from the library must not outlive its code.
    free();
    dynamiclibrary::close(library);
    library = nullptr;
    fnInitSimple = nullptr;
    fnClose = nullptr;
    fnExtract = nullptr;
    fnGetLastQuality = nullptr;
    fnGenTemplate = nullptr;
    fnVerify = nullptr;
    fnDbClear = nullptr;
    fnDbAdd = nullptr;
    fnDbDel = nullptr;
    fnDbCount = nullptr;
    fnIdentifyTemp = nullptr;
    fnTemplateLength = nullptr;
    fnSetParameter = nullptr;
    fnExtractGreyscale = nullptr;
}

bool QXFinger10::init(int width, int height)
{
    if (!library && !loadQXFinger10())
        return false;
    // A second init replaces the handle instead of leaking the first.
    free();
    handle = fnInitSimple(0, width, height, 0);
    return handle != nullptr;
}

void QXFinger10::free()
{
    if (handle && fnClose)
        fnClose(handle);
    handle = nullptr;
}

// The library may lack any entry point but the initialisation; a missing one
// answers -1 like a missing handle.
int QXFinger10::extract(unsigned char *image, unsigned char *templ)
{
    return handle && fnExtract ? fnExtract(handle, image, templ, 0) : -1;
}

int QXFinger10::extract2(unsigned char *image, int width, int height, unsigned char *templ, int capacity)
{
    return handle && fnExtractGreyscale
               ? fnExtractGreyscale(handle, image, width, height, templ, capacity, 0)
               : -1;
}

int QXFinger10::getLastQuality()
{
    return handle && fnGetLastQuality ? fnGetLastQuality(handle) : -1;
}

int QXFinger10::genRegTemplate(unsigned char **templates, int count, unsigned char *out)
{
    return handle && fnGenTemplate ? fnGenTemplate(handle, templates, count, out) : -1;
}

int QXFinger10::verify(unsigned char *a, unsigned char *b)
{
    return handle && fnVerify ? fnVerify(handle, a, b) : -1;
}

int QXFinger10::dbClear()
{
    return handle && fnDbClear ? fnDbClear(handle) : -1;
}

int QXFinger10::dbAdd(int id, int length, unsigned char *templ)
{
    return handle && fnDbAdd ? fnDbAdd(handle, id, length, templ) : -1;
}

int QXFinger10::dbDel(int id)
{
    return handle && fnDbDel ? fnDbDel(handle, id) : -1;
}

int QXFinger10::dbCount()
{
    return handle && fnDbCount ? fnDbCount(handle) : -1;
}

int QXFinger10::dbIdentify(unsigned char *templ, int *id, int *score)
{
    return handle && fnIdentifyTemp ? fnIdentifyTemp(handle, templ, id, score) : -1;
}

int QXFinger10::getTemplateLength(unsigned char *templ)
{
    return handle && fnTemplateLength ? fnTemplateLength(templ) : -1;
}

int QXFinger10::setParameter(int code, int value)
{
    return handle && fnSetParameter ? fnSetParameter(handle, code, value) : -1;
}
