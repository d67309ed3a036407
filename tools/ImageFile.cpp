#include "tools/ImageFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>

#include <OpenImageIO/filesystem.h>

#include "tools/ToolError.h"

namespace ZarvelTool {

namespace {

// Some codecs the library uses print their own complaints on standard error, which would break
// the one-line rule; the library reports the same failures to us.
class QuietStandardError {
public:
    QuietStandardError() {
        std::fflush(stderr);
        saved_ = ::dup(STDERR_FILENO);
        const int null = ::open("/dev/null", O_WRONLY);
        if (saved_ >= 0 && null >= 0) {
            ::dup2(null, STDERR_FILENO);
        }
        if (null >= 0) {
            ::close(null);
        }
    }
    ~QuietStandardError() {
        if (saved_ >= 0) {
            ::dup2(saved_, STDERR_FILENO);
            ::close(saved_);
        }
    }
    QuietStandardError(const QuietStandardError&) = delete;
    QuietStandardError& operator=(const QuietStandardError&) = delete;

private:
    int saved_ = -1;
};

// The library's message as one line: its first line, without trailing spaces.
std::string firstLine(std::string message, const std::string& fallback) {
    const std::size_t end = message.find('\n');
    if (end != std::string::npos) {
        message.resize(end);
    }
    while (!message.empty() && (message.back() == ' ' || message.back() == '\r')) {
        message.pop_back();
    }
    return message.empty() ? fallback : message;
}

std::string joined(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names) {
        text += (text.empty() ? "" : ", ") + name;
    }
    return text;
}

bool looksLikeAlpha(const std::string& name) {
    const std::size_t dot = name.rfind('.');
    const std::string last = dot == std::string::npos ? name : name.substr(dot + 1);
    return last == "A" || last == "a" || last == "alpha" || last == "Alpha";
}

bool isFormatName(const std::string& prefix) {
    static const std::vector<std::string> formats = [] {
        std::vector<std::string> names;
        std::string list = OIIO::get_string_attribute("format_list");
        std::size_t start = 0;
        while (start <= list.size()) {
            std::size_t comma = list.find(',', start);
            if (comma == std::string::npos) {
                comma = list.size();
            }
            names.push_back(list.substr(start, comma - start));
            start = comma + 1;
        }
        names.push_back("exr");
        return names;
    }();
    std::string lower = prefix;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return std::find(formats.begin(), formats.end(), lower) != formats.end();
}

// Metadata the output keeps: everything but the layout, which the output sets itself, and what
// only the input's own format understands.
void keepMetadata(OIIO::ImageSpec& header, const OIIO::ImageSpec& from, bool sameFormat) {
    for (const OIIO::ParamValue& value : from.extra_attribs) {
        const std::string name = value.name().string();
        const std::size_t colon = name.find(':');
        const std::string prefix = colon == std::string::npos ? "" : name.substr(0, colon);
        const bool layout = name == "oiio:UnassociatedAlpha" || name == "oiio:BitsPerSample" ||
                            name == "oiio:subimages" || name == "planarconfig";
        const bool formatOwn = name == "compression" || name == "CompressionQuality" ||
                               (!prefix.empty() && isFormatName(prefix));
        if (!layout && (sameFormat || !formatOwn)) {
            header.attribute(name, value.type(), value.data());
        }
    }
}

}  // namespace

const char* alphaName(Alpha alpha) {
    return alpha == Alpha::Straight ? "straight" : "premultiplied";
}

Picture readPicture(const std::string& path, const ReadOptions& options) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        throw ToolError(path, std::strerror(errno));
    }
    if (S_ISDIR(info.st_mode)) {
        throw ToolError(path, "is a directory, not an image file");
    }
    if (::access(path.c_str(), R_OK) != 0) {
        throw ToolError(path, std::strerror(errno));
    }
    QuietStandardError quiet;
    // Unassociated alpha is read as it is stored, not premultiplied by the library.
    OIIO::ImageSpec config;
    config.attribute("oiio:UnassociatedAlpha", 1);
    std::unique_ptr<OIIO::ImageInput> in = OIIO::ImageInput::open(path, &config);
    if (!in) {
        throw ToolError(path, "cannot read: " + firstLine(OIIO::geterror(),
                                                          "not an image file of a known format"));
    }
    const OIIO::ImageSpec header = in->spec();
    if (header.deep) {
        throw ToolError(path, "is a deep image: only flat images can be rendered");
    }
    int images = 1;
    while (images < 1000 && in->seek_subimage(images, 0)) {
        ++images;
    }
    if (images > 1) {
        throw ToolError(path, "holds " + std::to_string(images) +
                                  " images (parts or pages): only single-image files can be "
                                  "rendered; take one out first");
    }
    in->seek_subimage(0, 0);
    if (header.depth > 1) {
        throw ToolError(path, "is a volume: only flat images can be rendered");
    }

    std::vector<std::string> names(header.channelnames.begin(), header.channelnames.end());
    std::vector<int> picked;
    if (options.channels.empty()) {
        if (header.nchannels > 4) {
            throw ToolError(path, "has " + std::to_string(header.nchannels) + " channels (" +
                                      joined(names) +
                                      "): pick at most four with --channels, e.g. --channels "
                                      "R,G,B,A");
        }
        for (int c = 0; c < header.nchannels; ++c) {
            picked.push_back(c);
        }
    } else {
        for (const std::string& wanted : options.channels) {
            const auto found = std::find(names.begin(), names.end(), wanted);
            if (found == names.end()) {
                throw ToolError(path,
                                "has no channel \"" + wanted + "\" (it has " + joined(names) + ")");
            }
            picked.push_back(static_cast<int>(found - names.begin()));
        }
    }

    Picture picture;
    picture.x = header.x;
    picture.y = header.y;
    picture.width = header.width;
    picture.height = header.height;
    picture.fullX = header.full_x;
    picture.fullY = header.full_y;
    picture.fullWidth = header.full_width;
    picture.fullHeight = header.full_height;
    for (std::size_t i = 0; i < picked.size(); ++i) {
        const int c = picked[i];
        picture.channelNames.push_back(names[c]);
        const bool alpha = options.channels.empty()
                               ? c == header.alpha_channel
                               : c == header.alpha_channel || looksLikeAlpha(names[c]);
        if (alpha && picture.alphaChannel < 0) {
            picture.alphaChannel = static_cast<int>(i);
        }
    }
    if (picture.colourChannels() != 0 && picture.colourChannels() != 1 &&
        picture.colourChannels() != 3) {
        throw ToolError(path, "has channels " + joined(picture.channelNames) +
                                  ": only gray, RGB and either with alpha can be rendered "
                                  "(pick them with --channels)");
    }
    if (picture.width <= 0 || picture.height <= 0) {
        throw ToolError(path, "holds no pixels");
    }
    picture.format = in->format_name();
    picture.specFormat = picture.format;
    picture.type = header.format;
    picture.bitsPerSample =
        header.get_int_attribute("oiio:BitsPerSample", static_cast<int>(header.format.size() * 8));
    picture.alpha = header.get_int_attribute("oiio:UnassociatedAlpha", 0) != 0
                        ? Alpha::Straight
                        : Alpha::Premultiplied;
    if (options.alpha) {
        picture.alpha = *options.alpha;
    }
    picture.header = header;

    const std::size_t pixels = static_cast<std::size_t>(header.width) * header.height;
    std::vector<float> all(pixels * header.nchannels);
    if (!in->read_image(0, 0, 0, header.nchannels, OIIO::TypeDesc::FLOAT, all.data())) {
        throw ToolError(path, "cannot read: " +
                                  firstLine(in->geterror(), "the file is truncated or corrupt"));
    }
    picture.samples.resize(pixels * picked.size());
    for (std::size_t p = 0; p < pixels; ++p) {
        for (std::size_t i = 0; i < picked.size(); ++i) {
            picture.samples[p * picked.size() + i] = all[p * header.nchannels + picked[i]];
        }
    }
    return picture;
}

std::string outputFormat(const std::string& path) {
    std::unique_ptr<OIIO::ImageOutput> out = OIIO::ImageOutput::create(path);
    if (!out) {
        OIIO::geterror();
        throw ToolError(path, "no image format writes files named like this (use an extension "
                              "such as .exr, .tif, .png or .dpx)");
    }
    return out->format_name();
}

bool keepsWindows(const std::string& format) {
    return format == "openexr";
}

Alpha outputAlpha(const std::string& format, Alpha input) {
    if (format == "openexr") {
        return Alpha::Premultiplied;
    }
    if (format == "png") {
        return Alpha::Straight;
    }
    return input;
}

bool holdsAlpha(const std::string& format) {
    std::unique_ptr<OIIO::ImageOutput> out = OIIO::ImageOutput::create(format);
    return out && out->supports("alpha");
}

void writePicture(std::FILE* file, const Picture& picture, const std::string& path) {
    QuietStandardError quiet;
    std::unique_ptr<OIIO::ImageOutput> out = OIIO::ImageOutput::create(picture.format);
    if (!out) {
        throw ToolError(path, "cannot write: " + firstLine(OIIO::geterror(), "unknown format"));
    }
    // Encoded into memory and written here: some codecs do not report a failed write.
    std::vector<unsigned char> encoded;
    OIIO::Filesystem::IOVecOutput memory(encoded);
    if (!out->set_ioproxy(&memory)) {
        throw ToolError(path, "cannot write: " + firstLine(out->geterror(), "the library refused"));
    }
    const bool sameFormat = picture.format == picture.specFormat;
    OIIO::ImageSpec header(picture.width, picture.height, picture.channels(), picture.type);
    header.x = picture.x;
    header.y = picture.y;
    header.full_x = picture.fullX;
    header.full_y = picture.fullY;
    header.full_width = picture.fullWidth;
    header.full_height = picture.fullHeight;
    header.channelnames.assign(picture.channelNames.begin(), picture.channelNames.end());
    header.alpha_channel = picture.alphaChannel;
    keepMetadata(header, picture.header, sameFormat);
    if (sameFormat && picture.header.tile_width > 0 && out->supports("tiles")) {
        header.tile_width = picture.header.tile_width;
        header.tile_height = picture.header.tile_height;
        header.tile_depth = 1;
    }
    if (picture.bitsPerSample != static_cast<int>(picture.type.size() * 8)) {
        header.attribute("oiio:BitsPerSample", picture.bitsPerSample);
        // The library's own reader gets "filled" 10-bit RGBA rows of some widths wrong.
        if (picture.format == "dpx" && picture.channels() == 4 && picture.bitsPerSample == 10) {
            header.attribute("dpx:Packing", "Packed");
        }
    }
    if (picture.hasAlpha() && picture.alpha == Alpha::Straight) {
        header.attribute("oiio:UnassociatedAlpha", 1);
    }
    if (!out->open(path, header)) {
        throw ToolError(path, "cannot write: " + firstLine(out->geterror(), "the library refused"));
    }
    if (!out->write_image(OIIO::TypeDesc::FLOAT, picture.samples.data())) {
        const std::string reason = firstLine(out->geterror(), "the library refused");
        out->close();
        throw ToolError(path, "cannot write: " + reason);
    }
    if (!out->close()) {
        throw ToolError(path, "cannot write: " + firstLine(out->geterror(), "the library refused"));
    }
    if (!encoded.empty() &&
        std::fwrite(encoded.data(), 1, encoded.size(), file) != encoded.size()) {
        throw ToolError(path, std::string("cannot write: ") + std::strerror(errno));
    }
}

}  // namespace ZarvelTool
