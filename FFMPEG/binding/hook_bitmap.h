// The 24-bit picture handed to the custom hook: rows of blue, green, red bytes, top row
// first, with a canvas lock held while the hook runs.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

namespace clipwright {

struct THookBitmap {
    THookBitmap(int width, int height)
        : Width(width), Height(height), Stride(width * 3),
          Bits(static_cast<size_t>(Stride) * static_cast<size_t>(height)) {}

    uint8_t* ScanLine(int row) { return Bits.data() + static_cast<size_t>(row) * Stride; }
    const uint8_t* ScanLine(int row) const {
        return Bits.data() + static_cast<size_t>(row) * Stride;
    }

    const int Width;
    const int Height;
    const int Stride; // bytes per row
    std::vector<uint8_t> Bits;
    std::mutex CanvasLock; // held while the custom hook draws
};

} // namespace clipwright
