#pragma once

// A slow, deliberately plain computation of the outline effect for tests: classification,
// both distance transforms and the output rule, written straight from the arithmetic in plain
// loops over std::vector, sharing no code with the production kernel. Results are meant to be
// identical to the bit; a test that compares the two and finds a difference has found a fault
// in one of them.
//
// Every function is thread-safe (no shared state) and throws nothing but std::bad_alloc.

#include <vector>

#include "openfx/openfx.h"

namespace ReferenceOutline {

/// Component types of an image, as the integer codes `Image::componentType` holds.
enum ComponentType { componentByte = 0, componentShort = 1, componentFloat = 2 };

/// A view of packed pixels in memory someone else owns. `data` points to the pixel at
/// (bounds.x1, bounds.y1); the pixel (x, y) lies (y − bounds.y1) × rowBytes bytes and
/// (x − bounds.x1) × nComponents components after it. `rowBytes` may be negative (bottom-up
/// memory). `componentType` is a ComponentType; `nComponents` is 4 (RGBA) or 1 (alpha).
struct Image {
    void* data = nullptr;
    int rowBytes = 0;
    OfxRectI bounds = {0, 0, 0, 0};
    int componentType = componentByte;
    int nComponents = 4;
};

/// An image together with its zero-filled storage; `view` stays valid while the object lives
/// (move it, don't copy it). With `bottomUp` the rows lie in memory from the top row down and
/// `view.rowBytes` is negative.
struct OwnedImage {
    OwnedImage(const OfxRectI& bounds, int componentType, int nComponents, bool bottomUp = false);
    OwnedImage(const OwnedImage&) = delete;
    OwnedImage& operator=(const OwnedImage&) = delete;
    OwnedImage(OwnedImage&&) = default;
    OwnedImage& operator=(OwnedImage&&) = default;

    std::vector<unsigned char> storage;
    Image view;
};

/// Bytes of one component of the given ComponentType (1, 2 or 4).
int componentBytes(int componentType);

/// Address of pixel (x, y) of `image`, or null when (x, y) lies outside its bounds.
void* pixelAddress(const Image& image, int x, int y);

/// Classification values of the field over `fieldBounds` from the alpha component of `source`
/// (component 3 of an RGBA pixel, the only one of an alpha pixel); pixels outside the source
/// (or a null `source`) are far.
std::vector<float> classify(const Image* source, const OfxRectI& fieldBounds);

/// The two-pass chamfer transform of a width × height field, in place.
void chamfer(std::vector<float>& field, int width, int height);

/// The separable transform of a width × height field, in place: squared row pass, lower
/// envelope per column, square root, inside elements set back to the inside value.
void separable(std::vector<float>& field, int width, int height);

/// The lower-envelope transform of `f` (positions squared in 64-bit integers).
std::vector<float> lowerEnvelope(const std::vector<float>& f);

/// Transform by quality: 0 chamfer, anything else separable.
void transform(std::vector<float>& field, int width, int height, int quality);

/// The output rule for one pixel of the given component type and count: transformed value `d`,
/// outline colour (0..1 doubles) and width in pixels (double), the source pixel (may be null)
/// and the destination pixel.
void outputPixel(float d, double red, double green, double blue, double widthPixels,
                 int componentType, int nComponents, const void* src, void* dst);

/// Renders `window` (pixel coordinates, inside the destination's bounds) of `destination` the
/// way a full-frame render does: a field over the destination's bounds classified from `source`
/// read at the same coordinates, transformed by `quality`, and the output rule for every pixel
/// of the window. A null `source` or empty destination bounds writes nothing. `source` must have
/// the destination's component type and count.
void render(const Image* source, const Image& destination, const OfxRectI& window, int quality,
            double widthPixels, double red, double green, double blue);

}  // namespace ReferenceOutline
