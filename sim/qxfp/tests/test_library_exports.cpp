// The shared library as the program loads it: by dlopen, exporting the
// fourteen entry points and nothing of its insides.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <vector>

namespace {

const char *const kEntryPoints[] = {
    "VERIDO_INIT_SIMPLE", "VERIDO_CLOSE", "VERIDO_EXTRACT", "pVERIDO_GETLASTQUALITY", "VERIDO_GENTEMPLATE",
    "VERIDO_VERIFY", "VERIDO_DB_CLEAR", "VERIDO_DB_ADD", "VERIDO_DB_DEL", "VERIDO_DB_COUNT", "VERIDO_IDENTIFYTEMP",
    "VERIDO_TEMPLATELEN", "VERIDO_SET_PARAMETER", "VERIDO_EXTRACT_GRAYSCALEDATA"};

}  // namespace

TEST(LibraryExports, FourteenEntryPointsAndNothingElse) {
    void *lib = dlopen(QXFP_LIBRARY_PATH, RTLD_LAZY | RTLD_LOCAL);
    ASSERT_NE(nullptr, lib) << dlerror();
    for (const char *name : kEntryPoints) EXPECT_NE(nullptr, dlsym(lib, name)) << name;
    // Internal functions (C++ names in the library's namespace) stay hidden.
    EXPECT_EQ(nullptr, dlsym(lib, "_ZN4qxfp15template_lengthEPKh"));
    EXPECT_EQ(nullptr, dlsym(lib, "_ZN4qxfp16extract_minutiaeEPKhii"));

    using Init = void *(*)(int, int, int, int);
    using Close = int (*)(void *);
    using Count = int (*)(void *);
    using Length = int (*)(unsigned char *);
    auto init = reinterpret_cast<Init>(dlsym(lib, "VERIDO_INIT_SIMPLE"));
    auto close = reinterpret_cast<Close>(dlsym(lib, "VERIDO_CLOSE"));
    auto count = reinterpret_cast<Count>(dlsym(lib, "VERIDO_DB_COUNT"));
    auto length = reinterpret_cast<Length>(dlsym(lib, "VERIDO_TEMPLATELEN"));
    ASSERT_TRUE(init && close && count && length);
    void *h = init(0, 256, 360, 0);
    ASSERT_NE(nullptr, h);
    EXPECT_EQ(0, count(h));
    std::vector<unsigned char> zeros(2048, 0);
    EXPECT_LT(length(zeros.data()), 0);
    EXPECT_EQ(0, close(h));
    dlclose(lib);
}
