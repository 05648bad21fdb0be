/*
 * Photo block format of the development stand-in decoder (libwlt.so built
 * from sim/wlt). It is our own format, not the one of any real decoder; a
 * station with a real decoder installed uses that one.
 *
 * A block is 1024 bytes:
 *   0..3     magic "QXW1"
 *   4        grid width  (51)
 *   5        grid height (63)
 *   6..17    palette: 4 colours of R, G, B
 *   18..821  colour indices, 2 bits each, grid row by row from the top,
 *            4 cells per byte, the first cell in the two highest bits
 *   822..1022 zero
 *   1023     XOR of bytes 0..1022
 *
 * Decoding draws every grid cell as 2 x 2 pixels, giving 102 x 126 pixels of
 * three bytes (R, G, B), 38556 bytes. Rows come out bottom row first, the
 * order of a bottom-up BMP, so the caller can store them as they come.
 *
 * Entry point: int unpack(char* block, char* pixels, int flag), also under
 * the name _Z6unpackPcS_i; flag must be 310. Returns 1 on success, -1 for a
 * bad magic or grid size, -2 for a bad check byte, -3 for a wrong flag or a
 * null pointer.
 */
#ifndef QXWLT_FORMAT_H
#define QXWLT_FORMAT_H

#ifdef __cplusplus
extern "C" {
#endif

#define QXWLT_BLOCK 1024
#define QXWLT_GRID_W 51
#define QXWLT_GRID_H 63
#define QXWLT_PIXELS_W 102
#define QXWLT_PIXELS_H 126
#define QXWLT_PIXELS_BYTES (QXWLT_PIXELS_W * QXWLT_PIXELS_H * 3)
#define QXWLT_FLAG 310

/* Packs a grid of colour indices (0..3, row by row from the top) and a
 * 12-byte palette into a block. */
void qxwlt_encode(const unsigned char indices[QXWLT_GRID_H][QXWLT_GRID_W], const unsigned char palette[12],
                  unsigned char block[QXWLT_BLOCK]);
/* The decoder behind unpack(). */
int qxwlt_decode(const unsigned char* block, unsigned char* pixels);
/* Draws a head-and-shoulders portrait; variant 0..2 changes the colours and
 * the hair, so the three simulated cards carry different faces. */
void qxwlt_portrait(int variant, unsigned char indices[QXWLT_GRID_H][QXWLT_GRID_W], unsigned char palette[12]);

#ifdef __cplusplus
}
#endif

#endif
