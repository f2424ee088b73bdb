#include "FFMPEG/run/amrnb_encoder.h"

#include <dlfcn.h>

#include <mutex>

extern "C" {
#include <opencore-amrnb/interf_enc.h>
}

#include "FFMPEG/binding/av_error.h"
#include "FFMPEG/binding/text_format.h"

namespace clipwright {

namespace {

constexpr const char* kLibrary = "libopencore-amrnb.so.0";
constexpr int kModeBitRates[] = {4750, 5150, 5900, 6700, 7400, 7950, 10200, 12200};

struct AmrNbLibrary {
    void* module = nullptr; // kept for the life of the process
    decltype(&Encoder_Interface_init) init = nullptr;
    decltype(&Encoder_Interface_Encode) encode = nullptr;
    decltype(&Encoder_Interface_exit) exit = nullptr;
    std::string error;
};

const AmrNbLibrary& Library() {
    static AmrNbLibrary library;
    static std::once_flag once;
    std::call_once(once, [] {
        library.module = dlopen(kLibrary, RTLD_NOW | RTLD_LOCAL);
        if (library.module == nullptr) {
            const char* reason = dlerror();
            library.error = FormatText("Load libraray %s error: %s", kLibrary,
                                       reason != nullptr ? reason : "unknown error");
            return;
        }
        library.init = reinterpret_cast<decltype(library.init)>(
            dlsym(library.module, "Encoder_Interface_init"));
        library.encode = reinterpret_cast<decltype(library.encode)>(
            dlsym(library.module, "Encoder_Interface_Encode"));
        library.exit = reinterpret_cast<decltype(library.exit)>(
            dlsym(library.module, "Encoder_Interface_exit"));
        if (library.init == nullptr || library.encode == nullptr || library.exit == nullptr)
            library.error = FormatText("Load function %s@%s error: %s", "Encoder_Interface_init",
                                       kLibrary, "missing entry point");
    });
    return library;
}

} // namespace

bool AmrNbEncoder::Available(std::string& error) {
    error = Library().error;
    return error.empty();
}

int AmrNbEncoder::ModeForBitRate(int64_t bit_rate) {
    int mode = 0;
    for (int i = 0; i < 8; ++i) {
        if (bit_rate >= kModeBitRates[i])
            mode = i;
    }
    return mode;
}

int AmrNbEncoder::BitRateOfMode(int mode) {
    return kModeBitRates[mode];
}

AmrNbEncoder::AmrNbEncoder(int64_t bit_rate) : mode_(ModeForBitRate(bit_rate)) {
    std::string error;
    if (!Available(error))
        throw FFMpegException(error);
    state_ = Library().init(0);
    if (state_ == nullptr)
        throw FFMpegException("Could not initialize the AMR-NB encoder");
}

AmrNbEncoder::~AmrNbEncoder() {
    if (state_ != nullptr)
        Library().exit(state_);
}

int AmrNbEncoder::Encode(const int16_t* samples, uint8_t* out) {
    return Library().encode(state_, static_cast<enum Mode>(mode_), samples, out, 0);
}

} // namespace clipwright
