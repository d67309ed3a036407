// Image files as zarvel-render sees them, read and written through OpenImageIO: every format the
// library knows, with the file's data and display windows, its channels, its sample type and
// its metadata, and whether its colour is premultiplied by alpha.
//
// Coordinates here are the files': x to the right, y downwards, a window given by the position
// of its top-left pixel and its size. Samples are floats as the library converts them: integer
// samples 0..max become 0..1 exactly enough to come back to the same integer.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include <OpenImageIO/imageio.h>

namespace ZarvelTool {

/// How a file's colour relates to its alpha: straight (colour as it is, PNG) or premultiplied
/// (colour × alpha, OpenEXR).
enum class Alpha { Straight, Premultiplied };

/// "straight" or "premultiplied".
const char* alphaName(Alpha alpha);

/// One picture: the pixels of its data window and what the file said about them.
struct Picture {
    /// The data window: the pixels held.
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    /// The display window (the frame); equal to the data window in formats without windows.
    int fullX = 0;
    int fullY = 0;
    int fullWidth = 0;
    int fullHeight = 0;
    /// Channel names in order, 1 to 4 of them.
    std::vector<std::string> channelNames;
    /// Index of the alpha channel, or -1. The other channels are colour: none (black), one
    /// (gray) or three (red, green, blue, in order).
    int alphaChannel = -1;
    /// width × height × channels, row by row from the top of the data window.
    std::vector<float> samples;
    /// What the colour in `samples` is; meaningless without alpha.
    Alpha alpha = Alpha::Straight;
    /// The format's name ("openexr", "png", "tiff", "dpx", "jpeg" ...).
    std::string format;
    /// The type of a sample in the file, and its bits (10 for 10-bit DPX).
    OIIO::TypeDesc type = OIIO::TypeDesc::UINT8;
    int bitsPerSample = 8;
    /// The file's description as the library gives it: metadata (colour space, pixel aspect,
    /// compression, tiles, custom attributes ...) for the output to keep.
    OIIO::ImageSpec header;
    /// The format `header` was read from.
    std::string specFormat;

    int channels() const { return static_cast<int>(channelNames.size()); }
    bool hasAlpha() const { return alphaChannel >= 0; }
    int colourChannels() const { return channels() - (hasAlpha() ? 1 : 0); }
    float& at(int px, int py, int c) {
        return samples[(static_cast<std::size_t>(py) * width + px) * channelNames.size() + c];
    }
    float at(int px, int py, int c) const {
        return samples[(static_cast<std::size_t>(py) * width + px) * channelNames.size() + c];
    }
};

/// What the command line says about reading.
struct ReadOptions {
    /// The channels to take, by name (1 to 4); empty: all of them, which must be at most four.
    std::vector<std::string> channels;
    /// What the colour is, whatever the file says; unset: what the file says.
    std::optional<Alpha> alpha;
};

/// Reads the first image of the file at `path`. What the file says about alpha: straight when
/// the library marks it unassociated (PNG, TIFF with unassociated alpha ...), premultiplied
/// otherwise (OpenEXR, TIFF with associated alpha, DPX ...). Throws ToolError(path, reason) when
/// the file is missing, unreadable, not an image, truncated or corrupt, deep, holds several
/// images (multi-part or multi-page), has more than four channels without `channels`, lacks a
/// channel asked for, or has channels that are neither gray, RGB nor with alpha; std::bad_alloc.
Picture readPicture(const std::string& path, const ReadOptions& options);

/// The format a file named `path` is written in, from its extension ("openexr" for ".exr").
/// Throws ToolError(path, reason) when no format the library writes has that extension.
std::string outputFormat(const std::string& path);

/// True for formats that keep data and display windows apart (OpenEXR).
bool keepsWindows(const std::string& format);

/// What a file of `format` holds: premultiplied for OpenEXR, straight for PNG, and for other
/// formats (TIFF, DPX ...) the input's `input`.
Alpha outputAlpha(const std::string& format, Alpha input);

/// True when files of `format` can hold an alpha channel beside colour (JPEG cannot).
bool holdsAlpha(const std::string& format);

/// Encodes `picture` as a file of its format (`picture.format`) into `file`; `path` is the name
/// it will have (and labels errors). Keeps the metadata of `picture.header` that belongs to
/// any format, and what belongs to the format (compression, tiles ...) when the header came from a
/// file of the same format. Writes `picture.type` where the format has it (the library picks
/// the nearest otherwise). Throws ToolError(path, reason) when the library refuses or the
/// operating system does not take the bytes. Does not flush or close the file.
void writePicture(std::FILE* file, const Picture& picture, const std::string& path);

}  // namespace ZarvelTool
