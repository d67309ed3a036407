// A whole host session with the outline plug-in, as the reliability tests run it over and over:
// Load, Describe, DescribeInContext, CreateInstance, the two region actions, a Render at each of
// the six pixel types, DestroyInstance and Unload, with a record of what every action returned
// and which host calls it made.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/Host.h"
#include "host/Image.h"
#include "host/Plugin.h"
#include "openfx/openfx.h"

namespace zarvel::reliability {

/// Depth and layout of a render's images.
struct PixelType {
    ZarvelHost::PixelDepth depth;
    ZarvelHost::PixelComponents components;
};

/// The six pixel types the effect renders: byte, short and float, each RGBA and alpha.
const std::vector<PixelType>& allPixelTypes();

/// "OfxBitDepthShort/OfxImageComponentAlpha".
std::string nameOf(const PixelType& type);

/// The plug-in linked into this program, as a host sees a library (its two exported functions).
ZarvelHost::PluginLibrary& linkedPlugin();

/// True when this program runs under AddressSanitizer or ThreadSanitizer, where every render
/// costs many times as much: long tests then do a share of their work.
bool runsSanitized();

/// A positive integer from the environment variable `name`, or `fallback` when it is unset or
/// not one.
unsigned environmentCount(const char* name, unsigned fallback);

/// A small source frame of `type` over `bounds`: an opaque block with a half-covered column at
/// its right and a faint pixel below it, everything else clear. RGBA pixels carry colour.
std::shared_ptr<ZarvelHost::Image> makeSourceFrame(const OfxRectI& bounds, PixelType type);

/// True when the two images hold the same bytes in every pixel (not the padding).
bool samePixels(const ZarvelHost::Image& a, const ZarvelHost::Image& b);

/// A new host image with the bounds, depth, components and pixels of `image` (no padding, rows
/// top-down).
std::shared_ptr<ZarvelHost::Image> copyOf(const ZarvelHost::Image& image);

/// One action of a session: its name, the status the main entry returned, and the host calls
/// made while it ran ([firstCall, endCall) in the host's call indices).
struct ActionRecord {
    std::string action;
    OfxStatus status = kOfxStatReplyDefault;
    std::uint64_t firstCall = 0;
    std::uint64_t endCall = 0;
};

/// The images of one render.
struct RenderRecord {
    PixelType type;
    std::shared_ptr<ZarvelHost::Image> source;
    /// A copy of the source as it was handed over, to check that nothing wrote into it.
    std::shared_ptr<ZarvelHost::Image> sourceBefore;
    std::shared_ptr<ZarvelHost::Image> output;
};

/// What one session did.
struct SessionRecord {
    std::vector<ActionRecord> actions;
    std::vector<RenderRecord> renders;
    /// Load succeeded, so the session ended with an Unload.
    bool loaded = false;
};

struct SessionSettings {
    /// What the host reports as its CPU count, and whether it runs threads one after another on
    /// the calling thread (reproducible call order) or on real threads.
    unsigned cpuCount = 2;
    bool serialThreads = true;
    /// Bounds of every source and output image; small, so a session makes few host calls.
    OfxRectI bounds{0, 0, 16, 12};
};

/// Runs the whole session on `host` with plug-in 0 of `library`, as a careful host does: it
/// stops at a failed Load (and calls nothing more), at a failed Describe, DescribeInContext or
/// CreateInstance (then unloads); otherwise it runs every action whatever the earlier ones
/// returned, then DestroyInstance and Unload. Outputs are zeroed host images, some with row
/// padding and some bottom-up, all with guard bytes. Nothing thrown by the driver escapes for
/// a plug-in status: statuses are only recorded.
SessionRecord runWholeSession(ZarvelHost::Host& host, ZarvelHost::PluginLibrary& library,
                              const SessionSettings& settings = {});

/// True for the statuses the standard names (kOfxStatOK ... kOfxStatReplyDefault and
/// kOfxStatErrImageFormat).
bool isNamedStatus(OfxStatus status);

}  // namespace zarvel::reliability
