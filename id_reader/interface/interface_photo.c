/* Photo: the outside decoder library turns the 1024-byte block into pixels. */
#include "qxident.h"

#include "logPrintf.h"

#include <dlfcn.h>
#include <stdio.h>
#include <string.h>

#define PHOTO_W 102
#define PHOTO_H 126
#define BMP_HEADER 54
#define BMP_ROW (PHOTO_W * 3 + 2)
#define DECODER_FLAG 310

typedef int (*unpack_fn)(char*, char*, int);

static unpack_fn find_entry(void* lib)
{
    void* sym = dlsym(lib, "_Z6unpackPcS_i");
    if (!sym)
        sym = dlsym(lib, "unpack");
    unpack_fn fn;
    memcpy(&fn, &sym, sizeof fn);
    return sym ? fn : NULL;
}

static void put_le32(unsigned char* p, unsigned v)
{
    p[0] = (unsigned char)v;
    p[1] = (unsigned char)(v >> 8);
    p[2] = (unsigned char)(v >> 16);
    p[3] = (unsigned char)(v >> 24);
}

static void put_le16(unsigned char* p, unsigned v)
{
    p[0] = (unsigned char)v;
    p[1] = (unsigned char)(v >> 8);
}

static void write_bmp_header(unsigned char* h)
{
    memset(h, 0, BMP_HEADER);
    h[0] = 0x42;
    h[1] = 0x4D;
    put_le32(h + 2, QXID_BMP_SIZE);
    put_le32(h + 10, BMP_HEADER);
    put_le32(h + 14, 40);
    put_le32(h + 18, PHOTO_W);
    put_le32(h + 22, PHOTO_H);
    put_le16(h + 26, 1);
    put_le16(h + 28, 24);
}

static void write_bmp_rows(const unsigned char* pixels, unsigned char* out)
{
    for (int row = 0; row < PHOTO_H; row++) {
        for (int col = 0; col < PHOTO_W; col++) {
            const unsigned char* px = pixels + (row * PHOTO_W + col) * 3;
            out[0] = px[2];
            out[1] = px[1];
            out[2] = px[0];
            out += 3;
        }
        out[0] = 0xFF;
        out[1] = 0xFF;
        out += 2;
    }
}

int QXID_Wlt2bmpBuffer(unsigned char* wltData, unsigned char* imageData, int cbImageData)
{
    QXLOG(VERBOSE, "===>QXID_Wlt2bmpBuffer\n");
    if (!wltData || !imageData) {
        QXLOG(ERROR, "memory is null\n");
        return QXID_ENULL;
    }
    if (cbImageData < QXID_BMP_SIZE) {
        QXLOG(ERROR, "memory is not enough\n");
        return QXID_ESMALL;
    }
    void* lib = dlopen("libwlt.so", RTLD_LAZY);
    if (!lib) {
        QXLOG(ERROR, "%s.\n", dlerror());
        return QXID_ENODECODER;
    }
    unpack_fn unpack = find_entry(lib);
    if (!unpack) {
        QXLOG(ERROR, "%s.\n", dlerror());
        dlclose(lib);
        return QXID_ENOENTRY;
    }
    unsigned char pixels[QXID_BGR_SIZE];
    memset(pixels, 0, sizeof pixels);
    int ret = unpack((char*)wltData, (char*)pixels, DECODER_FLAG);
    /* 1 is the decoder's only success value. Its negative codes are passed
     * on; any other result (0 included) would read as success here. */
    if (ret != 1)
        return ret < 0 ? ret : QXID_EFRAME;
    write_bmp_header(imageData);
    write_bmp_rows(pixels, imageData + BMP_HEADER);
    return QXID_OK;
}

int QXID_PHunpack(char* wltData, char* bgr, int cbBgr)
{
    QXLOG(VERBOSE, "===>QXID_PHunpack\n");
    if (!wltData || !bgr)
        return QXID_ENULL;
    if (cbBgr < QXID_BGR_SIZE)
        return QXID_ESMALL;
    void* lib = dlopen("libwlt.so", RTLD_LAZY);
    if (!lib) {
        printf("Error:%s.\n", dlerror());
        return QXID_ENODECODER;
    }
    unpack_fn unpack = find_entry(lib);
    if (!unpack) {
        dlclose(lib);
        return QXID_ENOENTRY;
    }
    int ret = unpack(wltData, bgr, DECODER_FLAG);
    dlclose(lib);
    return ret == 1 ? QXID_OK : QXID_EFRAME;
}
