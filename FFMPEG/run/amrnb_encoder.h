// The AMR-NB encoder that this library generation lacks, over libopencore-amrnb, bound at run
// time like the FFmpeg libraries. 8000 Hz mono, 160 samples a frame, one packet a frame.
#pragma once

#include <cstdint>
#include <string>

namespace clipwright {

inline constexpr int kAmrNbSampleRate = 8000;
inline constexpr int kAmrNbFrameSamples = 160;
inline constexpr int kAmrNbMaxFrameBytes = 32;

class AmrNbEncoder {
public:
    // Binds the library once per process; false with `error` the binding's text.
    static bool Available(std::string& error);
    // The mode for a bit rate: the nearest lower of 4750 … 12200 (the lowest below that).
    static int ModeForBitRate(int64_t bit_rate);
    static int BitRateOfMode(int mode);

    explicit AmrNbEncoder(int64_t bit_rate);
    AmrNbEncoder(const AmrNbEncoder&) = delete;
    AmrNbEncoder& operator=(const AmrNbEncoder&) = delete;
    ~AmrNbEncoder();

    // One frame of 160 samples into `out` (at least kAmrNbMaxFrameBytes); returns its bytes.
    int Encode(const int16_t* samples, uint8_t* out);
    int Mode() const { return mode_; }

private:
    void* state_ = nullptr;
    int mode_ = 0;
};

} // namespace clipwright
