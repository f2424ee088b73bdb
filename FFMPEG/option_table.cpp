// The option vocabulary: one table in dispatch order, each row a name and its effect. Names the
// table lacks go to the generic setter; ignored and unsupported names are rows of their kind.
#include "FFMPEG/custom_ffmpeg.h"

#include <cstring>
#include <span>

#include "FFMPEG/av_binding.h"
#include "FFMPEG/av_error.h"
#include "FFMPEG/c_locale.h"
#include "FFMPEG/value_parse.h"
#include "FFMPEG/engine_log.h"

namespace clipwright {

// The table in dispatch order, in groups. Lambdas written in these members share the job's
// handlers through the friendship.
struct OptionTable {
    enum class Kind { Ignored, Unsupported, Handled };
    using Handler = void (*)(TCustomFFmpeg& job, OptionState& o, const std::string& name,
                             const std::string& value);
    // A row binds its name to a field of the option state (set, parsed or copied), to one of
    // the job's option methods, or to a handler of its own.
    enum class Binding { None, Flag, Integer, Real, Text, TextIfSet, Method };
    using Method = void (TCustomFFmpeg::*)(const std::string& value);
    struct Row {
        const char* name;
        Kind kind;
        Handler handler = nullptr;
        Binding binding = Binding::None;
        int32_t OptionState::*integer = nullptr;
        float OptionState::*real = nullptr;
        std::string OptionState::*text = nullptr;
        Method method = nullptr;
    };

    static constexpr Row Ignored(const char* name) { return {name, Kind::Ignored}; }
    static constexpr Row Unsupported(const char* name) { return {name, Kind::Unsupported}; }
    // The field := 1.
    static constexpr Row Flag(const char* name, int32_t OptionState::*field) {
        return {name, Kind::Handled, nullptr, Binding::Flag, field};
    }
    static constexpr Row Integer(const char* name, int32_t OptionState::*field) {
        return {name, Kind::Handled, nullptr, Binding::Integer, field};
    }
    static constexpr Row Real(const char* name, float OptionState::*field) {
        return {name, Kind::Handled, nullptr, Binding::Real, nullptr, field};
    }
    static constexpr Row Text(const char* name, std::string OptionState::*field) {
        return {name, Kind::Handled, nullptr, Binding::Text, nullptr, nullptr, field};
    }
    // The value when it is not empty; an empty one keeps what the field had.
    static constexpr Row TextIfSet(const char* name, std::string OptionState::*field) {
        return {name, Kind::Handled, nullptr, Binding::TextIfSet, nullptr, nullptr, field};
    }
    static constexpr Row Call(const char* name, Method method) {
        return {name, Kind::Handled, nullptr, Binding::Method, nullptr, nullptr, nullptr, method};
    }
    // Sets what the row is bound to.
    static void Apply(const Row& row, TCustomFFmpeg& job, OptionState& o, const std::string& name,
                      const std::string& value);

    // Files, times and metadata.
    static std::span<const Row> Files();
    // Run control: dumps, loops, verbosity, sync.
    static std::span<const Row> RunControl();
    static std::span<const Row> Video();
    // Audio, subtitles, capture and muxing.
    static std::span<const Row> AudioAndSubtitles();
};

void TCustomFFmpeg::LogIgnored(const std::string& name) {
    if (Logging())
        Log(kInfoLevel, "Do nothing: option - " + name);
}

void TCustomFFmpeg::SetBitRate(const std::string& name, const std::string& value) {
    if (name.empty() || value.empty())
        return;
    if (!SetGenericOption(name, value) || !Logging())
        return;
    int64_t bit_rate = 0;
    av().av_opt_get_int(CodecHolder(name[0] == 'a' ? 1 : 0), "b", 0, &bit_rate);
    if (bit_rate < 1000)
        Log(kInfoLevel,
            "WARNING: The bitrate parameter is set too low. It takes bits/s as argument, "
            "not kbits/s");
}

// Files, times and metadata.
std::span<const OptionTable::Row> OptionTable::Files() {
    using S = const std::string&;
    static const Row kRows[] = {
        Ignored("L"),
        Ignored("h"),
        Ignored("version"),
        Ignored("formats"),
        Call("f", &TCustomFFmpeg::OptFormat),
        Ignored("i"),
        Ignored("y"),
        Call("map", &TCustomFFmpeg::OptMap),
        Call("map_meta_data", &TCustomFFmpeg::OptMapMetaData),
        Flag("map_all", &OptionState::map_all),
        Call("t", &TCustomFFmpeg::OptRecordingTime),
        {"fs", Kind::Handled,
         [](TCustomFFmpeg&, OptionState& o, S, S v) { o.limit_filesize = ParseInteger64(v); }},
        Call("ss", &TCustomFFmpeg::OptStartTime),
        Call("itsoffset", &TCustomFFmpeg::OptInputTsOffset),
        Call("itsscale", &TCustomFFmpeg::OptInputTsScale),
        TextIfSet("title", &OptionState::str_title),
        Call("timestamp", &TCustomFFmpeg::OptRecordingTimestamp),
        TextIfSet("author", &OptionState::str_author),
        TextIfSet("copyright", &OptionState::str_copyright),
        TextIfSet("comment", &OptionState::str_comment),
        TextIfSet("genre", &OptionState::str_genre),
        TextIfSet("album", &OptionState::str_album),
    };
    return kRows;
}

// Run control: dumps, loops, verbosity, sync.
std::span<const OptionTable::Row> OptionTable::RunControl() {
    using S = const std::string&;
    static const Row kRows[] = {
        Integer("dframes", &OptionState::max_frames_data),
        Ignored("benchmark"),
        Flag("dump", &OptionState::do_pkt_dump),
        Flag("hex", &OptionState::do_hex_dump),
        Flag("re", &OptionState::rate_emu),
        Flag("loop_input", &OptionState::loop_input),
        Integer("loop_output", &OptionState::loop_output),
        {"v", Kind::Handled,
         [](TCustomFFmpeg& j, OptionState&, S, S v) { j.SetVerbosity(ParseInteger(v)); }},
        Call("target", &TCustomFFmpeg::OptTarget),
        Unsupported("threads"),
        Integer("vsync", &OptionState::video_sync_method),
        Integer("async", &OptionState::audio_sync_method),
        Real("adrift_threshold", &OptionState::audio_drift_threshold),
        Integer("vglobal", &OptionState::video_global_header),
        Flag("copyts", &OptionState::copy_ts),
        Flag("shortest", &OptionState::opt_shortest),
        Real("dts_delta_threshold", &OptionState::dts_delta_threshold),
        Integer("programid", &OptionState::opt_programid),
    };
    return kRows;
}

// Video.
std::span<const OptionTable::Row> OptionTable::Video() {
    using S = const std::string&;
    static const Row kRows[] = {
        {"b", Kind::Handled, [](TCustomFFmpeg& j, OptionState&, S n, S v) { j.SetBitRate(n, v); }},
        {"vb", Kind::Handled, [](TCustomFFmpeg& j, OptionState&, S n, S v) { j.SetBitRate(n, v); }},
        Integer("vframes", &OptionState::max_frames_video),
        Call("r", &TCustomFFmpeg::OptFrameRate),
        Call("s", &TCustomFFmpeg::OptFrameSize),
        Call("aspect", &TCustomFFmpeg::OptFrameAspectRatio),
        Call("pix_fmt", &TCustomFFmpeg::OptFramePixFmt),
        {"croptop", Kind::Handled, [](TCustomFFmpeg& j, OptionState&, S, S v) { j.OptCrop(0, v); }},
        {"cropbottom", Kind::Handled,
         [](TCustomFFmpeg& j, OptionState&, S, S v) { j.OptCrop(1, v); }},
        {"cropleft", Kind::Handled,
         [](TCustomFFmpeg& j, OptionState&, S, S v) { j.OptCrop(2, v); }},
        {"cropright", Kind::Handled,
         [](TCustomFFmpeg& j, OptionState&, S, S v) { j.OptCrop(3, v); }},
        {"padtop", Kind::Handled, [](TCustomFFmpeg& j, OptionState&, S, S v) { j.OptPad(0, v); }},
        {"padbottom", Kind::Handled,
         [](TCustomFFmpeg& j, OptionState&, S, S v) { j.OptPad(1, v); }},
        {"padleft", Kind::Handled, [](TCustomFFmpeg& j, OptionState&, S, S v) { j.OptPad(2, v); }},
        {"padright", Kind::Handled, [](TCustomFFmpeg& j, OptionState&, S, S v) { j.OptPad(3, v); }},
        Call("padcolor", &TCustomFFmpeg::OptPadColor),
        Flag("intra", &OptionState::intra_only),
        Flag("vn", &OptionState::video_disable),
        Integer("vdt", &OptionState::video_discard),
        Call("qscale", &TCustomFFmpeg::OptQScale),
        {"rc_override", Kind::Handled,
         [](TCustomFFmpeg&, OptionState& o, S, S v) { o.video_rc_override_string = v; }},
        {"vcodec", Kind::Handled,
         [](TCustomFFmpeg& j, OptionState&, S, S v) { j.OptCodec(AVMEDIA_TYPE_VIDEO, v); }},
        Integer("me_threshold", &OptionState::me_threshold),
        Flag("sameq", &OptionState::same_quality),
        Call("pass", &TCustomFFmpeg::OptPass),
        Text("passlogfile", &OptionState::pass_logfilename_prefix),
        Flag("deinterlace", &OptionState::do_deinterlace),
        Flag("psnr", &OptionState::do_psnr),
        {"vstats", Kind::Handled, [](TCustomFFmpeg& j, OptionState&, S, S) { j.OptVStats(); }},
        Call("vstats_file", &TCustomFFmpeg::OptVStatsFile),
        Call("vhook", &TCustomFFmpeg::OptVideoHook),
        {"intra_matrix", Kind::Handled,
         [](TCustomFFmpeg& j, OptionState&, S, S v) { j.OptMatrix(true, v); }},
        {"inter_matrix", Kind::Handled,
         [](TCustomFFmpeg& j, OptionState&, S, S v) { j.OptMatrix(false, v); }},
        Integer("top", &OptionState::top_field_first),
        Integer("dc", &OptionState::intra_dc_precision),
        {"vtag", Kind::Handled,
         [](TCustomFFmpeg& j, OptionState&, S, S v) { j.OptCodecTag(true, v); }},
        {"newvideo", Kind::Handled,
         [](TCustomFFmpeg& j, OptionState&, S, S) { j.OptNewStream(AVMEDIA_TYPE_VIDEO); }},
        Flag("qphist", &OptionState::qp_hist),
    };
    return kRows;
}

// Audio, subtitles, capture and muxing.
std::span<const OptionTable::Row> OptionTable::AudioAndSubtitles() {
    using S = const std::string&;
    static const Row kRows[] = {
        {"ab", Kind::Handled, [](TCustomFFmpeg& j, OptionState&, S n, S v) { j.SetBitRate(n, v); }},
        Integer("aframes", &OptionState::max_frames_audio),
        Real("aq", &OptionState::audio_qscale),
        {"ar", Kind::Handled,
         [](TCustomFFmpeg&, OptionState& o, S, S v) {
             const int32_t rate = ParseInteger(v);
             if (rate > 0)
                 o.audio_sample_rate = rate;
         }},
        {"ac", Kind::Handled,
         [](TCustomFFmpeg&, OptionState& o, S, S v) {
             const int32_t channels = ParseInteger(v);
             if (channels > 0)
                 o.audio_channels = channels;
         }},
        Flag("an", &OptionState::audio_disable),
        {"acodec", Kind::Handled,
         [](TCustomFFmpeg& j, OptionState&, S, S v) { j.OptCodec(AVMEDIA_TYPE_AUDIO, v); }},
        {"atag", Kind::Handled,
         [](TCustomFFmpeg& j, OptionState&, S, S v) { j.OptCodecTag(false, v); }},
        Integer("vol", &OptionState::audio_volume),
        {"newaudio", Kind::Handled,
         [](TCustomFFmpeg& j, OptionState&, S, S) { j.OptNewStream(AVMEDIA_TYPE_AUDIO); }},
        Text("alang", &OptionState::audio_language),
        Flag("sn", &OptionState::subtitle_disable),
        {"scodec", Kind::Handled,
         [](TCustomFFmpeg& j, OptionState&, S, S v) { j.OptCodec(AVMEDIA_TYPE_SUBTITLE, v); }},
        {"newsubtitle", Kind::Handled,
         [](TCustomFFmpeg& j, OptionState&, S, S) { j.OptNewStream(AVMEDIA_TYPE_SUBTITLE); }},
        Text("slang", &OptionState::subtitle_language),
        Integer("vc", &OptionState::video_channel),
        {"tvstd", Kind::Handled,
         [](TCustomFFmpeg&, OptionState& o, S, S v) { o.video_standard = v; }},
        Flag("isync", &OptionState::input_sync),
        Real("muxdelay", &OptionState::mux_max_delay),
        Real("muxpreload", &OptionState::mux_preload),
        Unsupported("absf"),
        Unsupported("vbsf"),
        Unsupported("sbsf"),
        Ignored("apre"),
        Ignored("vpre"),
        Ignored("spre"),
    };
    return kRows;
}

void OptionTable::Apply(const Row& row, TCustomFFmpeg& job, OptionState& o, const std::string& name,
                        const std::string& value) {
    switch (row.binding) {
    case Binding::None:
        row.handler(job, o, name, value);
        return;
    case Binding::Flag:
        o.*row.integer = 1;
        return;
    case Binding::Integer:
        o.*row.integer = ParseInteger(value);
        return;
    case Binding::Real:
        o.*row.real = ParseReal(value);
        return;
    case Binding::Text:
        o.*row.text = value;
        return;
    case Binding::TextIfSet:
        if (!value.empty())
            o.*row.text = value;
        return;
    case Binding::Method:
        (job.*row.method)(value);
        return;
    }
}

void TCustomFFmpeg::Dispatch(const std::string& name, const std::string& value) {
    using Kind = OptionTable::Kind;
    const CLocaleScope c_locale; // the handlers and the libraries read "1.5" alike
    for (const auto& group : {OptionTable::Files(), OptionTable::RunControl(), OptionTable::Video(),
                              OptionTable::AudioAndSubtitles()}) {
        for (const OptionTable::Row& row : group) {
            if (name != row.name)
                continue;
            switch (row.kind) {
            case Kind::Ignored:
                LogIgnored(name);
                return;
            case Kind::Unsupported:
                throw FFMpegException("TODO: option - " + name);
            case Kind::Handled:
                OptionTable::Apply(row, *this, options_, name, value);
                return;
            }
        }
    }
    SetGenericOption(name, value);
}

} // namespace clipwright
