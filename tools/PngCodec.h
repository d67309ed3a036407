/* PNG decoding and encoding through libpng, in plain C.
 *
 * libpng reports errors by longjmp. Keeping every setjmp in this C file means no jump can ever
 * cross a C++ frame or skip a destructor: the C++ side (Png.h) only sees a return code and a
 * one-line message.
 *
 * Pixels are 8- or 16-bit samples, 1 to 4 channels (gray, gray+alpha, RGB, RGBA), rows from the
 * top of the picture down, no padding between rows; 16-bit samples are big-endian, as in the
 * file. Palette images and gray below 8 bits are refused (kZarvelPngUnsupported); a tRNS chunk
 * becomes an alpha channel. Interlaced files are read; files are written non-interlaced.
 *
 * Thread-safety: the functions keep no state; calls on different files may run concurrently. */
#pragma once

#include <stddef.h>
#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

/* What went wrong, if anything. */
enum {
    kZarvelPngOk = 0,
    /* The file does not start with the PNG signature. */
    kZarvelPngNotPng = 1,
    /* A valid PNG in a layout we do not handle (palette, low bit depth, too large). */
    kZarvelPngUnsupported = 2,
    /* The file ends before the image does. */
    kZarvelPngTruncated = 3,
    /* Damaged data: bad checksum, bad chunk, bad compressed stream. */
    kZarvelPngCorrupt = 4,
    /* The operating system refused to read or write. */
    kZarvelPngIoError = 5,
    kZarvelPngNoMemory = 6
};

/* Largest width or height read. Written files may be larger by an effect's padding. */
#define ZARVEL_PNG_MAX_SIDE 32768u
/* Largest width or height written. */
#define ZARVEL_PNG_MAX_WRITE_SIDE 65536u

typedef struct ZarvelPngPixels {
    unsigned width;
    unsigned height;
    /* 1 gray, 2 gray+alpha, 3 RGB, 4 RGBA. */
    int channels;
    /* 8 or 16. */
    int bitDepth;
    /* width x height x channels samples of bitDepth bits, rows top to bottom. Allocated with
     * malloc by zarvelPngRead (the caller frees it); read-only to zarvelPngWrite. */
    unsigned char* data;
} ZarvelPngPixels;

/* Decodes the whole of `file` (positioned at its start) into `pixels`. Returns kZarvelPngOk,
 * or another code with a one-line reason (no file name, no trailing newline) in `message`; on
 * failure `pixels->data` is null. */
int zarvelPngRead(FILE* file, ZarvelPngPixels* pixels, char* message, size_t messageSize);

/* Encodes `pixels` into `file`. Returns kZarvelPngOk, or another code with a one-line reason in
 * `message`. The caller flushes and closes the file and checks those for errors too. */
int zarvelPngWrite(FILE* file, const ZarvelPngPixels* pixels, char* message, size_t messageSize);

#ifdef __cplusplus
}
#endif
