// Codec lookup by the name an option gave.
#include "FFMPEG/job/codec_lookup.h"

#include "FFMPEG/binding/av_binding.h"
#include "FFMPEG/binding/text_format.h"

namespace clipwright {

bool LookupCodec(const std::optional<std::string>& name, int media_type, bool encoder,
                 int& codec_id, std::string& error, const AVCodec** found) {
    codec_id = 0;
    if (found != nullptr)
        *found = nullptr;
    if (!name)
        return true;
    const char* kind = encoder ? "encoder" : "decoder";
    // The older generation's encoder names that this library knows under another name.
    std::string library_name = *name;
    if (encoder && (library_name == "libfaac" || library_name == "mpeg4aac"))
        library_name = "aac";
    // AMR-NB is encoded by the engine itself; the stream names the codec, no library encoder.
    if (encoder && (library_name == "libamr_nb" || library_name == "amr_nb")) {
        if (media_type != AVMEDIA_TYPE_AUDIO) {
            error = FormatText("Invalid %s type '%s'", kind, name->c_str());
            return false;
        }
        codec_id = AV_CODEC_ID_AMR_NB;
        return true;
    }
    const AVCodec* codec = encoder ? av().avcodec_find_encoder_by_name(library_name.c_str())
                                   : av().avcodec_find_decoder_by_name(library_name.c_str());
    if (codec == nullptr) {
        error = FormatText("Unknown %s '%s'", kind, name->c_str());
        return false;
    }
    if (codec->type != media_type) {
        error = FormatText("Invalid %s type '%s'", kind, name->c_str());
        return false;
    }
    codec_id = codec->id;
    if (found != nullptr)
        *found = codec;
    return true;
}

} // namespace clipwright
