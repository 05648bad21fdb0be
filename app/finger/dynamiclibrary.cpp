#include "dynamiclibrary.h"

#include <QDebug>

#include <dlfcn.h>

namespace dynamiclibrary {

void *open(const char *fileName)
{
    void *library = dlopen(fileName, RTLD_LAZY);
    if (!library) {
        const char *reason = dlerror();
        qDebug() << "cannot load" << fileName << (reason ? reason : "");
    }
    return library;
}

void close(void *library)
{
    if (library)
        dlclose(library);
}

void *symbol(void *library, const char *name)
{
    return library ? dlsym(library, name) : nullptr;
}

} // namespace dynamiclibrary
