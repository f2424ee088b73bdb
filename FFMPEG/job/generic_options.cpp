// The generic options' holders, their setter and the hand-over to the real contexts.
#include "FFMPEG/job/generic_options.h"

#include <cstring>

#include "FFMPEG/binding/av_binding.h"
#include "FFMPEG/binding/av_error.h"
#include "FFMPEG/binding/c_locale.h"
#include "FFMPEG/job/value_parse.h"

namespace clipwright {

namespace {

// The flag a codec option must carry to reach the holder of media type 0 to 4; data and
// attachment holders take every codec option.
constexpr int kTypeFlags[5] = {AV_OPT_FLAG_VIDEO_PARAM, AV_OPT_FLAG_AUDIO_PARAM, 0,
                               AV_OPT_FLAG_SUBTITLE_PARAM, 0};

bool SetOn(void* holder, const char* name, const char* value) {
    return holder != nullptr && av().av_opt_set(holder, name, value, 0) >= 0;
}

const AVOption* Declared(void* holder, const char* name, int flags) {
    return holder != nullptr ? av().av_opt_find(holder, name, nullptr, flags, 0) : nullptr;
}

// The flags an option had in the older library generation where this one merged it: "b" was
// the video bit rate alone ("ab" set the audio one), so a plain "b" must not reach audio.
int EffectiveFlags(const AVOption* option) {
    if (std::strcmp(option->name, "b") == 0)
        return option->flags & ~AV_OPT_FLAG_AUDIO_PARAM;
    return option->flags;
}

constexpr unsigned kFormatHolderBit = 1u << 5;
constexpr unsigned kScalerHolderBit = 1u << 6;

bool DeclaredPrivately(const AVCodec* codec, const char* name) {
    return codec != nullptr && PrivateClassDeclares(codec->priv_class, name);
}

bool MuxerDeclaresPrivately(const AVOutputFormat* muxer, const char* name) {
    return muxer != nullptr && PrivateClassDeclares(muxer->priv_class, name);
}

// Whether any muxer's private options declare `name` (the MPEG muxers' "muxrate"…).
bool AnyMuxerDeclaresPrivately(const char* name) {
    void* iterator = nullptr;
    while (const AVOutputFormat* muxer = av().av_muxer_iterate(&iterator)) {
        if (MuxerDeclaresPrivately(muxer, name))
            return true;
    }
    return false;
}

// Names of the older library generation that this one spells differently.
std::string CurrentName(const std::string& name) {
    if (name == "gop")
        return "g";
    return name;
}

// Whether any codec's private options declare `name` (libx264's "crf", "preset"…).
bool AnyCodecDeclaresPrivately(const char* name) {
    void* iterator = nullptr;
    while (const AVCodec* codec = av().av_codec_iterate(&iterator)) {
        if (DeclaredPrivately(codec, name))
            return true;
    }
    return false;
}

} // namespace

bool PrivateClassDeclares(const AVClass* priv_class, const char* name) {
    return priv_class != nullptr &&
           av().av_opt_find(&priv_class, name, nullptr, 0, AV_OPT_SEARCH_FAKE_OBJ) != nullptr;
}

GenericOptions::GenericOptions(std::function<void()> debug_asked)
    : debug_asked_(std::move(debug_asked)) {}

GenericOptions::~GenericOptions() = default;

void GenericOptions::Create(int sws_flags) {
    for (int type = 0; type < static_cast<int>(codec_holders_.size()); ++type) {
        codec_holders_[type].reset(av().avcodec_alloc_context3(nullptr));
        if (!codec_holders_[type])
            throw FFMpegException("Could not allocate codec options");
        codec_holders_[type]->codec_type = static_cast<AVMediaType>(type);
    }
    format_holder_.reset(av().avformat_alloc_context());
    scaler_holder_.reset(av().sws_getContext(16, 16, AV_PIX_FMT_YUV420P, 16, 16, AV_PIX_FMT_YUV420P,
                                             sws_flags, nullptr, nullptr, nullptr));
    if (!format_holder_ || !scaler_holder_)
        throw FFMpegException("Could not allocate format options");
}

void GenericOptions::Reset() {
    for (CodecContextPtr& holder : codec_holders_)
        holder.reset();
    format_holder_.reset();
    scaler_holder_.reset();
    generic_names_.clear();
    generic_holders_.clear();
    private_options_.clear();
    private_format_options_.clear();
}

AVCodecContext* GenericOptions::CodecHolder(int media_type) const {
    if (media_type < 0 || media_type >= static_cast<int>(codec_holders_.size()))
        return nullptr;
    return codec_holders_[media_type].get();
}

bool GenericOptions::SetGenericOption(const std::string& raw_name, const std::string& raw_value) {
    const CLocaleScope c_locale; // av_opt_set reads doubles and rationals with strtod
    const std::string name = CurrentName(Trimmed(raw_name));
    const std::string value = Trimmed(raw_value);
    if (name.empty() || value.empty() || !codec_holders_[0])
        return false;
    const char* n = name.c_str();
    const char* v = value.c_str();

    const AVOption* accepted = nullptr;
    bool result = false;
    unsigned holders = 0; // which holders took the value
    const AVOption* codec_option = Declared(codec_holders_[0].get(), n, 0);
    for (int type = 0; codec_option != nullptr && type < 5; ++type) {
        if ((EffectiveFlags(codec_option) & kTypeFlags[type]) != kTypeFlags[type])
            continue;
        result = SetOn(codec_holders_[type].get(), n, v);
        if (result) {
            accepted = codec_option;
            holders |= 1u << type;
        }
    }
    if (!result) {
        accepted = Declared(format_holder_.get(), n, 0);
        result = accepted != nullptr && SetOn(format_holder_.get(), n, v);
        holders = result ? kFormatHolderBit : 0;
    }
    if (!result) {
        accepted = Declared(scaler_holder_.get(), n, 0);
        result = accepted != nullptr && SetOn(scaler_holder_.get(), n, v);
        holders = result ? kScalerHolderBit : 0;
    }
    if (!result && name.size() > 1) {
        // "vb", "ab"…: the rest of the name on the holder of the type its first letter names.
        const int type = name[0] == 'a' ? 1 : name[0] == 'v' ? 0 : name[0] == 's' ? 3 : -1;
        if (type >= 0) {
            const char* rest = n + 1;
            accepted = Declared(codec_holders_[type].get(), rest, 0);
            result = accepted != nullptr && SetOn(codec_holders_[type].get(), rest, v);
            holders = result ? 1u << type : 0;
        }
    }
    if (!result) {
        // Kept aside and handed only to a codec (or muxer) whose own private class declares it.
        if (AnyCodecDeclaresPrivately(n))
            private_options_.emplace_back(name, value);
        else if (AnyMuxerDeclaresPrivately(n))
            private_format_options_.emplace_back(name, value);
        else
            return false;
        generic_names_.push_back(name);
        generic_holders_.push_back(0);
        return true;
    }

    generic_names_.push_back(accepted != nullptr ? accepted->name : name);
    generic_holders_.push_back(holders);
    int64_t video_debug = 0;
    int64_t format_debug = 0;
    av().av_opt_get_int(codec_holders_[0].get(), "debug", 0, &video_debug);
    av().av_opt_get_int(format_holder_.get(), "fdebug", 0, &format_debug);
    if ((video_debug != 0 || format_debug != 0) && debug_asked_)
        debug_asked_();
    return true;
}

bool GenericOptions::SetGenericOption(const std::string& name, int32_t value) {
    return SetGenericOption(name, std::to_string(value));
}

void GenericOptions::TransferOptions(void* target, void* holder, int mask) const {
    if (target == nullptr || holder == nullptr)
        return;
    unsigned holder_bit = 0;
    for (int type = 0; type < 5; ++type) {
        if (holder == codec_holders_[type].get())
            holder_bit = 1u << type;
    }
    if (holder == format_holder_.get())
        holder_bit = kFormatHolderBit;
    if (holder == scaler_holder_.get())
        holder_bit = kScalerHolderBit;
    for (size_t i = 0; i < generic_names_.size(); ++i) {
        // Only what was set on this holder: its other values are defaults, not the user's.
        if ((generic_holders_[i] & holder_bit) == 0)
            continue;
        const std::string& name = generic_names_[i];
        const AVOption* option = av().av_opt_find(holder, name.c_str(), nullptr, 0, 0);
        if (option == nullptr || (option->flags & mask) != mask)
            continue;
        uint8_t* text = nullptr;
        if (av().av_opt_get(holder, name.c_str(), 0, &text) >= 0 && text != nullptr)
            av().av_opt_set(target, name.c_str(), reinterpret_cast<const char*>(text), 0);
        av().av_free(text);
    }
}

DictionaryPtr GenericOptions::PrivateOptionsFor(const AVCodec* codec) const {
    DictionaryPtr options;
    for (const auto& [name, value] : private_options_) {
        if (DeclaredPrivately(codec, name.c_str()))
            av().av_dict_set(DictionarySlot(options).get(), name.c_str(), value.c_str(), 0);
    }
    return options;
}

DictionaryPtr GenericOptions::PrivateFormatOptionsFor(const AVOutputFormat* muxer) const {
    DictionaryPtr options;
    for (const auto& [name, value] : private_format_options_) {
        if (MuxerDeclaresPrivately(muxer, name.c_str()))
            av().av_dict_set(DictionarySlot(options).get(), name.c_str(), value.c_str(), 0);
    }
    return options;
}

} // namespace clipwright
