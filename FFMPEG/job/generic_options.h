// A job's generic options: names the option table does not know, looked up among the options the
// codec, format and scaler libraries declare, collected in holder contexts (and, for codec- and
// muxer-private names, in lists of their own) and handed on to the real contexts when files are
// opened and encoders started.
//
// Threads: filled and read on the thread that builds the job; once built, its run reads it
// (PrivateOptionsFor, the scaler holder) on the job's thread, and nothing writes it meanwhile.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "FFMPEG/binding/av_handles.h"

struct AVClass;
struct AVCodec;
struct AVOutputFormat;

namespace clipwright {

// The library's option flags used in transfer masks.
inline constexpr int kOptEncoding = 1;
inline constexpr int kOptDecoding = 2;
inline constexpr int kOptAudio = 8;
inline constexpr int kOptVideo = 16;
inline constexpr int kOptSubtitle = 32;

// Whether a codec's or muxer's private class (none: nothing) declares the option `name`.
bool PrivateClassDeclares(const AVClass* priv_class, const char* name);

class GenericOptions {
public:
    // `debug_asked` is called when a value turns on the codec's or the format's debug output
    // ("debug", "fdebug"): its owner then logs more.
    explicit GenericOptions(std::function<void()> debug_asked);
    GenericOptions(const GenericOptions&) = delete;
    GenericOptions& operator=(const GenericOptions&) = delete;
    ~GenericOptions();

    // Creates the holders with their defaults (`sws_flags` for the scaler); the libraries must
    // be bound. Throws FFMpegException when out of memory.
    void Create(int sws_flags);
    // Frees the holders and forgets every value received.
    void Reset();

    // The generic setter: true when a codec, format or scaler holder (or some codec's or muxer's
    // private options) accepted the name. Never throws; false before Create.
    bool SetGenericOption(const std::string& name, const std::string& value);
    bool SetGenericOption(const std::string& name, int32_t value);
    // Copies every generic option received whose definition in `holder` carries all flags of
    // `mask` onto `target` (a codec or format context).
    void TransferOptions(void* target, void* holder, int mask) const;
    // The codec-private options received that `codec`'s own private class declares, for
    // avcodec_open2; empty when there are none.
    DictionaryPtr PrivateOptionsFor(const AVCodec* codec) const;
    // Likewise for a muxer's private options (the MPEG muxers' "muxrate"), for the header.
    DictionaryPtr PrivateFormatOptionsFor(const AVOutputFormat* muxer) const;

    // The holders: codec option contexts by media type 0 to 4, format and scaler.
    AVCodecContext* CodecHolder(int media_type) const;
    AVFormatContext* FormatHolder() const { return format_holder_.get(); }
    SwsContext* ScalerHolder() const { return scaler_holder_.get(); }
    const std::vector<std::string>& GenericOptionNames() const { return generic_names_; }

private:
    std::function<void()> debug_asked_;
    std::array<CodecContextPtr, 5> codec_holders_;
    FormatContextPtr format_holder_;
    SwsPtr scaler_holder_;
    std::vector<std::string> generic_names_;
    std::vector<unsigned>
        generic_holders_; // per name: bit t for codec holder t, 5 format, 6 scaler
    // Codec-private options (libx264's "crf", "preset"…), kept with the generic names.
    std::vector<std::pair<std::string, std::string>> private_options_;
    std::vector<std::pair<std::string, std::string>> private_format_options_;
};

} // namespace clipwright
