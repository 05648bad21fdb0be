#pragma once

// The fingerprint algorithm library (template extraction, enrolment,
// matching and an in-memory template database), loaded by name on first use.
// Every call except the loaders answers -1 while no algorithm handle exists.
class QXFinger10
{
public:
    // Largest template the library produces, in bytes.
    static constexpr int kTemplateCapacity = 2048;
    // Score from which two templates count as the same finger.
    static constexpr int kMatchThreshold = 50;

    QXFinger10() = default;
    ~QXFinger10();
    QXFinger10(const QXFinger10 &) = delete;
    QXFinger10 &operator=(const QXFinger10 &) = delete;

    // Opens "libqxfp.so" (lazy binding) and looks up its entry points; false
    // when the library or its initialisation is missing.
    bool loadQXFinger10();
    void freeQXFinger10();
    bool isLoaded() const { return library != nullptr; }
    bool isInitialised() const { return handle != nullptr; }

    // One algorithm handle for images of width x height.
    bool init(int width, int height);
    void free();

    int extract(unsigned char *image, unsigned char *templ);
    int extract2(unsigned char *image, int width, int height, unsigned char *templ, int capacity);
    int getLastQuality();
    int genRegTemplate(unsigned char **templates, int count, unsigned char *out);
    int verify(unsigned char *a, unsigned char *b);
    int dbClear();
    int dbAdd(int id, int length, unsigned char *templ);
    int dbDel(int id);
    int dbCount();
    int dbIdentify(unsigned char *templ, int *id, int *score);
    int getTemplateLength(unsigned char *templ);
    int setParameter(int code, int value);

private:
    using InitFn = void *(*)(int, int, int, int);
    using HandleFn = int (*)(void *);
    using ExtractFn = int (*)(void *, unsigned char *, unsigned char *, int);
    using GenTemplateFn = int (*)(void *, unsigned char **, int, unsigned char *);
    using VerifyFn = int (*)(void *, unsigned char *, unsigned char *);
    using DbAddFn = int (*)(void *, int, int, unsigned char *);
    using DbDelFn = int (*)(void *, int);
    using IdentifyFn = int (*)(void *, unsigned char *, int *, int *);
    using TemplateLengthFn = int (*)(unsigned char *);
    using SetParameterFn = int (*)(void *, int, int);
    using ExtractGreyFn = int (*)(void *, unsigned char *, int, int, unsigned char *, int, int);

    void *library = nullptr;
    InitFn fnInitSimple = nullptr;
    HandleFn fnClose = nullptr;
    ExtractFn fnExtract = nullptr;
    HandleFn fnGetLastQuality = nullptr;
    GenTemplateFn fnGenTemplate = nullptr;
    VerifyFn fnVerify = nullptr;
    HandleFn fnDbClear = nullptr;
    DbAddFn fnDbAdd = nullptr;
    DbDelFn fnDbDel = nullptr;
    HandleFn fnDbCount = nullptr;
    IdentifyFn fnIdentifyTemp = nullptr;
    TemplateLengthFn fnTemplateLength = nullptr;
    SetParameterFn fnSetParameter = nullptr;
    ExtractGreyFn fnExtractGreyscale = nullptr;
    void *handle = nullptr;
};
