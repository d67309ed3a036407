#include "tools/Png.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "tools/PngCodec.h"
#include "tools/ToolError.h"

namespace ZarvelTool {

namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

struct FreeDeleter {
    void operator()(unsigned char* data) const { std::free(data); }
};

}  // namespace

PngImage makePngImage(int width, int height, int channels, int bitDepth) {
    PngImage image;
    image.width = width;
    image.height = height;
    image.channels = channels;
    image.bitDepth = bitDepth;
    image.samples.assign(static_cast<std::size_t>(width) * height * channels, 0);
    return image;
}

std::string describeLayout(const PngImage& image) {
    static const char* const names[] = {"gray", "gray+alpha", "RGB", "RGBA"};
    const char* name = image.channels >= 1 && image.channels <= 4 ? names[image.channels - 1] : "?";
    return std::to_string(image.bitDepth) + "-bit " + name;
}

PngImage readPng(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        throw ToolError(path, std::strerror(errno));
    }
    if (S_ISDIR(info.st_mode)) {
        throw ToolError(path, "is a directory, not a PNG file");
    }
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        throw ToolError(path, std::strerror(errno));
    }
    ZarvelPngPixels pixels{};
    char message[256];
    const int status = zarvelPngRead(file.get(), &pixels, message, sizeof message);
    std::unique_ptr<unsigned char, FreeDeleter> data(pixels.data);
    if (status != kZarvelPngOk) {
        if (status == kZarvelPngNoMemory) {
            throw std::bad_alloc();
        }
        throw ToolError(path, message);
    }

    PngImage image = makePngImage(static_cast<int>(pixels.width), static_cast<int>(pixels.height),
                                  pixels.channels, pixels.bitDepth);
    const unsigned char* in = data.get();
    if (pixels.bitDepth == 16) {
        for (std::uint16_t& sample : image.samples) {
            sample = static_cast<std::uint16_t>((in[0] << 8) | in[1]);
            in += 2;
        }
    } else {
        for (std::uint16_t& sample : image.samples) {
            sample = *in++;
        }
    }
    return image;
}

void writePng(std::FILE* file, const PngImage& image, const std::string& name) {
    const int bytes = image.bitDepth / 8;
    std::vector<unsigned char> data(image.samples.size() * bytes);
    unsigned char* out = data.data();
    for (std::uint16_t sample : image.samples) {
        if (bytes == 2) {
            *out++ = static_cast<unsigned char>(sample >> 8);
        }
        *out++ = static_cast<unsigned char>(sample & 0xff);
    }
    ZarvelPngPixels pixels{};
    pixels.width = static_cast<unsigned>(image.width);
    pixels.height = static_cast<unsigned>(image.height);
    pixels.channels = image.channels;
    pixels.bitDepth = image.bitDepth;
    pixels.data = data.data();
    char message[256];
    const int status = zarvelPngWrite(file, &pixels, message, sizeof message);
    if (status == kZarvelPngNoMemory) {
        throw std::bad_alloc();
    }
    if (status != kZarvelPngOk) {
        throw ToolError(name, message);
    }
}

}  // namespace ZarvelTool
