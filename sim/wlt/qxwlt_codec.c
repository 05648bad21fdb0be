#include "qxwlt_format.h"

#include <string.h>

#define HEADER 18

static unsigned char check_byte(const unsigned char* block)
{
    unsigned char sum = 0;
    for (int i = 0; i < QXWLT_BLOCK - 1; i++)
        sum ^= block[i];
    return sum;
}

void qxwlt_encode(const unsigned char indices[QXWLT_GRID_H][QXWLT_GRID_W], const unsigned char palette[12],
                  unsigned char block[QXWLT_BLOCK])
{
    memset(block, 0, QXWLT_BLOCK);
    memcpy(block, "QXW1", 4);
    block[4] = QXWLT_GRID_W;
    block[5] = QXWLT_GRID_H;
    memcpy(block + 6, palette, 12);
    for (int cell = 0; cell < QXWLT_GRID_W * QXWLT_GRID_H; cell++) {
        unsigned idx = indices[cell / QXWLT_GRID_W][cell % QXWLT_GRID_W] & 3u;
        block[HEADER + cell / 4] |= (unsigned char)(idx << (6 - 2 * (cell % 4)));
    }
    block[QXWLT_BLOCK - 1] = check_byte(block);
}

int qxwlt_decode(const unsigned char* block, unsigned char* pixels)
{
    if (memcmp(block, "QXW1", 4) != 0 || block[4] != QXWLT_GRID_W || block[5] != QXWLT_GRID_H)
        return -1;
    if (check_byte(block) != block[QXWLT_BLOCK - 1])
        return -2;
    const unsigned char* palette = block + 6;
    for (int y = 0; y < QXWLT_PIXELS_H; y++) {
        int grid_row = (QXWLT_PIXELS_H - 1 - y) / 2; /* bottom row first */
        for (int x = 0; x < QXWLT_PIXELS_W; x++) {
            int cell = grid_row * QXWLT_GRID_W + x / 2;
            unsigned idx = (block[HEADER + cell / 4] >> (6 - 2 * (cell % 4))) & 3u;
            memcpy(pixels + (y * QXWLT_PIXELS_W + x) * 3, palette + idx * 3, 3);
        }
    }
    return 1;
}

static int in_ellipse(double x, double y, double cx, double cy, double rx, double ry)
{
    double dx = (x - cx) / rx, dy = (y - cy) / ry;
    return dx * dx + dy * dy <= 1.0;
}

enum { BACK = 0, SKIN = 1, DARK = 2, CLOTH = 3 };

static int portrait_cell(int variant, double x, double y)
{
    const double cx = 25.0;
    int eyes = (y >= 25 && y <= 26) && ((x >= 18 && x <= 21) || (x >= 29 && x <= 32));
    int brows = (y == 22) && ((x >= 17 && x <= 22) || (x >= 28 && x <= 33));
    int mouth = (y == 36) && x >= 21 && x <= 29;
    int nose = (x == 25) && y >= 28 && y <= 32;
    if (in_ellipse(x, y, cx, 28, 12, 16)) {
        if (eyes || brows || mouth || nose)
            return DARK;
        if (y < 17 + variant * 2)
            return DARK; /* fringe */
        return SKIN;
    }
    if (in_ellipse(x, y, cx, 24, 14.5, 15) && y < 30 + variant * 4)
        return DARK; /* hair around the face */
    if (x >= 20 && x <= 30 && y >= 40 && y <= 50)
        return SKIN; /* neck */
    if (in_ellipse(x, y, cx, 66, 26, 17))
        return CLOTH;
    return BACK;
}

void qxwlt_portrait(int variant, unsigned char indices[QXWLT_GRID_H][QXWLT_GRID_W], unsigned char palette[12])
{
    static const unsigned char palettes[3][12] = {
        {245, 246, 250, 232, 190, 160, 38, 30, 28, 30, 50, 110},
        {205, 225, 245, 240, 205, 180, 120, 80, 40, 60, 60, 60},
        {250, 250, 250, 215, 170, 135, 20, 20, 24, 150, 30, 40},
    };
    variant = variant < 0 ? 0 : variant % 3;
    memcpy(palette, palettes[variant], 12);
    for (int y = 0; y < QXWLT_GRID_H; y++)
        for (int x = 0; x < QXWLT_GRID_W; x++)
            indices[y][x] = (unsigned char)portrait_cell(variant, x, y);
}
