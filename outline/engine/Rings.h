#pragma once

// Rings of rows: a tile streams its rows through a few rows of scratch, row r living in slot
// r mod (rows of the ring), so a slot is reused as soon as the ring moves on. A row asked for
// after its slot was reused would silently be another row's data; in checked builds (assertions
// on: the dev, sanitizer and fuzzing builds) every slot remembers the row it holds, and asking
// for a row the ring does not hold fails an assertion at once.

#include <cassert>
#include <cstddef>
#include <new>

#ifndef NDEBUG
#define ZARVEL_CHECKED_RINGS 1
#else
#define ZARVEL_CHECKED_RINGS 0
#endif

namespace OutlineKernel {
namespace Engine {

/// Growable 64-byte aligned scratch; contents are not kept when it grows.
template <class T>
class Buffer {
public:
    Buffer() = default;
    ~Buffer() { release(); }
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;
    Buffer(Buffer&& other) noexcept
        : storage(other.storage)
        , capacity(other.capacity) {
        other.storage = nullptr;
        other.capacity = 0;
    }
    Buffer& operator=(Buffer&&) = delete;

    /// Room for at least `count` elements. Throws std::bad_alloc.
    void reserve(std::size_t count) {
        if (count <= capacity) {
            return;
        }
        T* grown = static_cast<T*>(::operator new(count * sizeof(T), std::align_val_t(64)));
        release();
        storage = grown;
        capacity = count;
    }
    T* data() const { return storage; }
    std::size_t size() const { return capacity; }
    std::size_t bytes() const { return capacity * sizeof(T); }

private:
    void release() {
        if (storage != nullptr) {
            ::operator delete(storage, std::align_val_t(64));
        }
    }
    T* storage = nullptr;
    std::size_t capacity = 0;
};

/// `rows` rows of `stride` elements in a Buffer, addressed by row number. Rows may be any int;
/// row r lives in slot (r − first) mod rows, `first` being the row given to `reset`.
template <class T>
class RowRing {
public:
    /// Room for `rows` rows of `stride` elements (and, checked, their row numbers). Throws
    /// std::bad_alloc.
    void reserve(int rows, std::size_t stride) {
        storage.reserve(static_cast<std::size_t>(rows) * stride);
        held.reserve(static_cast<std::size_t>(rows));
    }

    /// Starts a tile: `rows` rows (at most what was reserved) of `stride` elements, holding
    /// nothing; `first` is the lowest row number the tile will use.
    void reset(int rows, std::size_t stride, int first) {
        assert(static_cast<std::size_t>(rows) * stride <= storage.size());
        ringRows = rows;
        rowStride = stride;
        firstRow = first;
#if ZARVEL_CHECKED_RINGS
        for (int slot = 0; slot < rows; ++slot) {
            held.data()[slot] = noRow;
        }
#endif
    }

    /// Row r's storage, to be written: from now on the ring holds row r (and no longer the row
    /// that had its slot).
    T* claim(int r) {
#if ZARVEL_CHECKED_RINGS
        held.data()[slotOf(r)] = r;
#endif
        return address(r);
    }

    /// Row r, which the ring must hold (it was claimed, and no row claimed since shares its
    /// slot).
    T* operator[](int r) const {
#if ZARVEL_CHECKED_RINGS
        assert(held.data()[slotOf(r)] == r && "the ring no longer holds this row");
#endif
        return address(r);
    }

    int rows() const {
        return ringRows;
    }
    std::size_t bytes() const {
        return storage.bytes() + held.bytes();
    }

private:
    static constexpr int noRow = -2147483647 - 1;

    int slotOf(int r) const {
        assert(r >= firstRow);
        return (r - firstRow) % ringRows;
    }
    T* address(int r) const {
        return storage.data() + static_cast<std::size_t>(slotOf(r)) * rowStride;
    }

    Buffer<T> storage;
    Buffer<int> held;  // checked builds: the row each slot holds
    int ringRows = 1;
    std::size_t rowStride = 0;
    int firstRow = 0;
};

}  // namespace Engine
}  // namespace OutlineKernel
