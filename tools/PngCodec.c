#include "tools/PngCodec.h"

#include <errno.h>
#include <png.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>

/* State shared with the libpng callbacks. It lives in the caller of the function that calls
 * setjmp, so nothing it holds is a local of that function: after a longjmp its fields are
 * exactly what the callbacks left in them. */
typedef struct Context {
    FILE* file;
    char* message;
    size_t messageSize;
    /* What to return when libpng gives up; set by whoever writes the message first. */
    int status;
    unsigned char* data;
    png_bytep* rows;
} Context;

static void setMessage(Context* context, int status, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

static void setMessage(Context* context, int status, const char* format, ...) {
    va_list args;
    context->status = status;
    if (context->message && context->messageSize > 0) {
        va_start(args, format);
        vsnprintf(context->message, context->messageSize, format, args);
        va_end(args);
    }
}

static void onError(png_structp png, png_const_charp text) {
    Context* context = (Context*)png_get_error_ptr(png);
    /* Our callbacks write a more precise message before they call png_error. */
    if (context->status == kZarvelPngOk) {
        setMessage(context, kZarvelPngCorrupt, "corrupt PNG data (%s)", text ? text : "?");
    }
    png_longjmp(png, 1);
}

static void onWarning(png_structp png, png_const_charp text) {
    /* Warnings are about chunks we ignore anyway (colour profiles, text). */
    (void)png;
    (void)text;
}

static void readBytes(png_structp png, png_bytep data, size_t length) {
    Context* context = (Context*)png_get_io_ptr(png);
    if (fread(data, 1, length, context->file) != length) {
        if (ferror(context->file)) {
            setMessage(context, kZarvelPngIoError, "cannot read: %s", strerror(errno));
        } else {
            setMessage(context, kZarvelPngTruncated,
                       "truncated PNG: the file ends before the image does");
        }
        png_error(png, "read failed");
    }
}

static void writeBytes(png_structp png, png_bytep data, size_t length) {
    Context* context = (Context*)png_get_io_ptr(png);
    if (fwrite(data, 1, length, context->file) != length) {
        setMessage(context, kZarvelPngIoError, "cannot write: %s", strerror(errno));
        png_error(png, "write failed");
    }
}

static void flushBytes(png_structp png) {
    /* The caller flushes and checks for errors once the whole file is written. */
    (void)png;
}

static int noMemory(Context* context) {
    setMessage(context, kZarvelPngNoMemory, "out of memory");
    return kZarvelPngNoMemory;
}

static const char* layoutName(int colorType) {
    switch (colorType) {
    case PNG_COLOR_TYPE_GRAY:
        return "gray";
    case PNG_COLOR_TYPE_GRAY_ALPHA:
        return "gray+alpha";
    case PNG_COLOR_TYPE_RGB:
        return "RGB";
    case PNG_COLOR_TYPE_RGBA:
        return "RGBA";
    case PNG_COLOR_TYPE_PALETTE:
        return "palette";
    default:
        return "unknown colour type";
    }
}

/* Everything between png_create_read_struct and png_destroy_read_struct. Its own locals are
 * never changed after setjmp; what must survive a longjmp is in *context. */
static int decode(Context* context, ZarvelPngPixels* pixels) {
    png_structp png;
    png_infop info;
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    int bitDepth = 0;
    int colorType = 0;
    int channels;
    size_t rowBytes;
    png_uint_32 y;

    png = png_create_read_struct(PNG_LIBPNG_VER_STRING, context, onError, onWarning);
    if (!png) {
        return noMemory(context);
    }
    info = png_create_info_struct(png);
    if (!info) {
        png_destroy_read_struct(&png, NULL, NULL);
        return noMemory(context);
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, NULL);
        return context->status;
    }

    png_set_read_fn(png, context, readBytes);
    png_set_sig_bytes(png, 8);
    png_read_info(png, info);
    png_get_IHDR(png, info, &width, &height, &bitDepth, &colorType, NULL, NULL, NULL);
    if (colorType == PNG_COLOR_TYPE_PALETTE || bitDepth < 8) {
        setMessage(context, kZarvelPngUnsupported,
                   "unsupported PNG layout: %d-bit %s (supported: 8- or 16-bit gray, gray+alpha, "
                   "RGB or RGBA)",
                   bitDepth, layoutName(colorType));
        png_error(png, "unsupported");
    }
    if (width > ZARVEL_PNG_MAX_SIDE || height > ZARVEL_PNG_MAX_SIDE) {
        setMessage(context, kZarvelPngUnsupported,
                   "unsupported PNG size: %lux%lu pixels (at most %u a side)", (unsigned long)width,
                   (unsigned long)height, ZARVEL_PNG_MAX_SIDE);
        png_error(png, "unsupported");
    }
    if (png_get_valid(png, info, PNG_INFO_tRNS)) {
        png_set_tRNS_to_alpha(png);
    }
    png_set_interlace_handling(png);
    png_read_update_info(png, info);

    channels = png_get_channels(png, info);
    rowBytes = png_get_rowbytes(png, info);
    if (channels < 1 || channels > 4 || rowBytes != (size_t)width * channels * (bitDepth / 8)) {
        setMessage(context, kZarvelPngUnsupported, "unsupported PNG layout: %d-bit %s", bitDepth,
                   layoutName(colorType));
        png_error(png, "unsupported");
    }
    /* At most 32768 x 32768 x 4 x 2 bytes: no overflow in size_t. */
    context->data = (unsigned char*)malloc(rowBytes * height);
    context->rows = (png_bytep*)malloc(sizeof(png_bytep) * height);
    if (!context->data || !context->rows) {
        noMemory(context);
        png_error(png, "out of memory");
    }
    for (y = 0; y < height; ++y) {
        context->rows[y] = context->data + (size_t)y * rowBytes;
    }
    png_read_image(png, context->rows);
    /* Reading up to IEND also catches a file cut short after its pixel data. */
    png_read_end(png, NULL);
    png_destroy_read_struct(&png, &info, NULL);

    pixels->width = width;
    pixels->height = height;
    pixels->channels = channels;
    pixels->bitDepth = bitDepth;
    return kZarvelPngOk;
}

int zarvelPngRead(FILE* file, ZarvelPngPixels* pixels, char* message, size_t messageSize) {
    Context context;
    unsigned char signature[8];
    size_t got;
    int status;

    memset(&context, 0, sizeof context);
    context.file = file;
    context.message = message;
    context.messageSize = messageSize;
    memset(pixels, 0, sizeof *pixels);
    if (message && messageSize > 0) {
        message[0] = '\0';
    }

    got = fread(signature, 1, sizeof signature, file);
    if (got < sizeof signature && ferror(file)) {
        setMessage(&context, kZarvelPngIoError, "cannot read: %s", strerror(errno));
        return kZarvelPngIoError;
    }
    if (got == 0) {
        setMessage(&context, kZarvelPngNotPng, "not a PNG file (the file is empty)");
        return kZarvelPngNotPng;
    }
    if (got < sizeof signature || png_sig_cmp(signature, 0, sizeof signature) != 0) {
        setMessage(&context, kZarvelPngNotPng, "not a PNG file");
        return kZarvelPngNotPng;
    }

    status = decode(&context, pixels);
    free(context.rows);
    if (status == kZarvelPngOk) {
        pixels->data = context.data;
    } else {
        free(context.data);
    }
    return status;
}

static int encode(Context* context, const ZarvelPngPixels* pixels) {
    static const int colorTypes[4] = {PNG_COLOR_TYPE_GRAY, PNG_COLOR_TYPE_GRAY_ALPHA,
                                      PNG_COLOR_TYPE_RGB, PNG_COLOR_TYPE_RGBA};
    png_structp png;
    png_infop info;
    size_t rowBytes;
    unsigned y;

    png = png_create_write_struct(PNG_LIBPNG_VER_STRING, context, onError, onWarning);
    if (!png) {
        return noMemory(context);
    }
    info = png_create_info_struct(png);
    if (!info) {
        png_destroy_write_struct(&png, NULL);
        return noMemory(context);
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return context->status;
    }

    png_set_write_fn(png, context, writeBytes, flushBytes);
    png_set_IHDR(png, info, pixels->width, pixels->height, pixels->bitDepth,
                 colorTypes[pixels->channels - 1], PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);

    rowBytes = (size_t)pixels->width * pixels->channels * (pixels->bitDepth / 8);
    context->rows = (png_bytep*)malloc(sizeof(png_bytep) * pixels->height);
    if (!context->rows) {
        noMemory(context);
        png_error(png, "out of memory");
    }
    for (y = 0; y < pixels->height; ++y) {
        context->rows[y] = pixels->data + (size_t)y * rowBytes;
    }
    png_write_image(png, context->rows);
    png_write_end(png, NULL);
    png_destroy_write_struct(&png, &info);
    return kZarvelPngOk;
}

int zarvelPngWrite(FILE* file, const ZarvelPngPixels* pixels, char* message, size_t messageSize) {
    Context context;
    int status;

    memset(&context, 0, sizeof context);
    context.file = file;
    context.message = message;
    context.messageSize = messageSize;
    if (message && messageSize > 0) {
        message[0] = '\0';
    }
    if (pixels->channels < 1 || pixels->channels > 4 ||
        (pixels->bitDepth != 8 && pixels->bitDepth != 16) || pixels->width == 0 ||
        pixels->height == 0 || pixels->width > ZARVEL_PNG_MAX_WRITE_SIDE ||
        pixels->height > ZARVEL_PNG_MAX_WRITE_SIDE || !pixels->data) {
        setMessage(&context, kZarvelPngUnsupported,
                   "cannot write a %ux%u PNG of %d channels at %d bits", pixels->width,
                   pixels->height, pixels->channels, pixels->bitDepth);
        return kZarvelPngUnsupported;
    }
    status = encode(&context, pixels);
    free(context.rows);
    return status;
}
