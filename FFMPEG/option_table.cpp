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
    struct Row {
        const char* name;
        Kind kind;
        Handler handler;
    };

    static constexpr Row Ignored(const char* name) { return {name, Kind::Ignored, nullptr}; }
    static constexpr Row Unsupported(const char* name) {
        return {name, Kind::Unsupported, nullptr};
    }

    // Files, times and metadata.
    static std::span<const Row> Files();
    // Run control: dumps, loops, verbosity, sync.
    static std::span<const Row> RunControl();
    static std::span<const Row> Video();
    // Audio, subtitles, capture and muxing.
    static std::span<const Row> AudioAndSubtitles();
};

void TCustomFFmpeg::LogIgnored(const std::string& name) {
    if (LogCallback)
        Log(kInfoLevel, "Do nothing: option - " + name);
}

void TCustomFFmpeg::SetBitRate(const std::string& name, const std::string& value) {
    if (name.empty() || value.empty())
        return;
    if (!SetGenericOption(name, value) || !LogCallback)
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
        {"f", Kind::Handled, [](TCustomFFmpeg& j, OptionState&, S, S v) { j.OptFormat(v); }},
        Ignored("i"),
        Ignored("y"),
        {"map", Kind::Handled, [](TCustomFFmpeg& j, OptionState&, S, S v) { j.OptMap(v); }},
        {"map_meta_data", Kind::Handled,
         [](TCustomFFmpeg& j, OptionState&, S, S v) { j.OptMapMetaData(v); }},
        {"t", Kind::Handled, [](TCustomFFmpeg& j, OptionState&, S, S v) { j.OptRecordingTime(v); }},
        {"fs", Kind::Handled,
         [](TCustomFFmpeg&, OptionState& o, S, S v) { o.limit_filesize = ParseInteger64(v); }},
        {"ss", Kind::Handled, [](TCustomFFmpeg& j, OptionState&, S, S v) { j.OptStartTime(v); }},
        {"itsoffset", Kind::Handled,
         [](TCustomFFmpeg& j, OptionState&, S, S v) { j.OptInputTsOffset(v); }},
        {"itsscale", Kind::Handled,
         [](TCustomFFmpeg& j, OptionState&, S, S v) { j.OptInputTsScale(v); }},
        {"title", Kind::Handled,
         [](TCustomFFmpeg&, OptionState& o, S, S v) {
             if (!v.empty())
                 o.str_title = v;
         }},
        {"timestamp", Kind::Handled,
         [](TCustomFFmpeg& j, OptionState&, S, S v) { j.OptRecordingTimestamp(v); }},
        {"author", Kind::Handled,
         [](TCustomFFmpeg&, OptionState& o, S, S v) {
             if (!v.empty())
                 o.str_author = v;
         }},
        {"copyright", Kind::Handled,
         [](TCustomFFmpeg&, OptionState& o, S, S v) {
             if (!v.empty())
                 o.str_copyright = v;
         }},
        {"comment", Kind::Handled,
         [](TCustomFFmpeg&, OptionState& o, S, S v) {
             if (!v.empty())
                 o.str_comment = v;
         }},
        {"genre", Kind::Handled,
         [](TCustomFFmpeg&, OptionState& o, S, S v) {
             if (!v.empty())
                 o.str_genre = v;
         }},
        {"album", Kind::Handled,
         [](TCustomFFmpeg&, OptionState& o, S, S v) {
             if (!v.empty())
                 o.str_album = v;
         }},
    };
    return kRows;
}

// Run control: dumps, loops, verbosity, sync.
std::span<const OptionTable::Row> OptionTable::RunControl() {
    using S = const std::string&;
    static const Row kRows[] = {
        {"dframes", Kind::Handled,
         [](TCustomFFmpeg&, OptionState& o, S, S v) { o.max_frames_data = ParseInteger(v); }},
        Ignored("benchmark"),
        {"dump", Kind::Handled, [](TCustomFFmpeg&, OptionState& o, S, S) { o.do_pkt_dump = 1; }},
        {"hex", Kind::Handled, [](TCustomFFmpeg&, OptionState& o, S, S) { o.do_hex_dump = 1; }},
        {"re", Kind::Handled, [](TCustomFFmpeg&, OptionState& o, S, S) { o.rate_emu = 1; }},
        {"loop_input", Kind::Handled,
         [](TCustomFFmpeg&, OptionState& o, S, S) { o.loop_input = 1; }},
        {"loop_output", Kind::Handled,
         [](TCustomFFmpeg&, OptionState& o, S, S v) { o.loop_output = ParseInteger(v); }},
        {"v", Kind::Handled,
         [](TCustomFFmpeg& j, OptionState&, S, S v) { j.SetVerbosity(ParseInteger(v)); }},
        {"target", Kind::Handled, [](TCustomFFmpeg& j, OptionState&, S, S v) { j.OptTarget(v); }},
        Unsupported("threads"),
        {"vsync", Kind::Handled,
         [](TCustomFFmpeg&, OptionState& o, S, S v) { o.video_sync_method = ParseInteger(v); }},
        {"async", Kind::Handled,
         [](TCustomFFmpeg&, OptionState& o, S, S v) { o.audio_sync_method = ParseInteger(v); }},
        {"adrift_threshold", Kind::Handled,
         [](TCustomFFmpeg&, OptionState& o, S, S v) { o.audio_drift_threshold = ParseReal(v); }},
        {"vglobal", Kind::Handled,
         [](TCustomFFmpeg&, OptionState& o, S, S v) { o.video_global_header = ParseInteger(v); }},
        {"copyts", Kind::Handled, [](TCustomFFmpeg&, OptionState& o, S, S) { o.copy_ts = 1; }},
        {"shortest", Kind::Handled,
         [](TCustomFFmpeg&, OptionState& o, S, S) { o.opt_shortest = 1; }},
        {"dts_delta_threshold", Kind::Handled,
         [](TCustomFFmpeg&, OptionState& o, S, S v) { o.dts_delta_threshold = ParseReal(v); }},
        {"programid", Kind::Handled,
         [](TCustomFFmpeg&, OptionState& o, S, S v) { o.opt_programid = ParseInteger(v); }},
    };
    return kRows;
}

// Video.
std::span<const OptionTable::Row> OptionTable::Video() {
    using S = const std::string&;
    static const Row kRows[] = {
        {"b", Kind::Handled, [](TCustomFFmpeg& j, OptionState&, S n, S v) { j.SetBitRate(n, v); }},
        {"vb", Kind::Handled, [](TCustomFFmpeg& j, OptionState&, S n, S v) { j.SetBitRate(n, v); }},
        {"vframes", Kind::Handled,
         [](TCustomFFmpeg&, OptionState& o, S, S v) { o.max_frames_video = ParseInteger(v); }},
        {"r", Kind::Handled, [](TCustomFFmpeg& j, OptionState&, S, S v) { j.OptFrameRate(v); }},
        {"s", Kind::Handled, [](TCustomFFmpeg& j, OptionState&, S, S v) { j.OptFrameSize(v); }},
        {"aspect", Kind::Handled,
         [](TCustomFFmpeg& j, OptionState&, S, S v) { j.OptFrameAspectRatio(v); }},
        {"pix_fmt", Kind::Handled,
         [](TCustomFFmpeg& j, OptionState&, S, S v) { j.OptFramePixFmt(v); }},
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
        {"padcolor", Kind::Handled,
         [](TCustomFFmpeg& j, OptionState&, S, S v) { j.OptPadColor(v); }},
        {"intra", Kind::Handled, [](TCustomFFmpeg&, OptionState& o, S, S) { o.intra_only = 1; }},
        {"vn", Kind::Handled, [](TCustomFFmpeg&, OptionState& o, S, S) { o.video_disable = 1; }},
        {"vdt", Kind::Handled,
         [](TCustomFFmpeg&, OptionState& o, S, S v) { o.video_discard = ParseInteger(v); }},
        {"qscale", Kind::Handled, [](TCustomFFmpeg& j, OptionState&, S, S v) { j.OptQScale(v); }},
        {"rc_override", Kind::Handled,
         [](TCustomFFmpeg&, OptionState& o, S, S v) { o.video_rc_override_string = v; }},
        {"vcodec", Kind::Handled,
         [](TCustomFFmpeg& j, OptionState&, S, S v) { j.OptCodec(AVMEDIA_TYPE_VIDEO, v); }},
        {"me_threshold", Kind::Handled,
         [](TCustomFFmpeg&, OptionState& o, S, S v) { o.me_threshold = ParseInteger(v); }},
        {"sameq", Kind::Handled, [](TCustomFFmpeg&, OptionState& o, S, S) { o.same_quality = 1; }},
        {"pass", Kind::Handled, [](TCustomFFmpeg& j, OptionState&, S, S v) { j.OptPass(v); }},
        {"passlogfile", Kind::Handled,
         [](TCustomFFmpeg&, OptionState& o, S, S v) { o.pass_logfilename_prefix = v; }},
        {"deinterlace", Kind::Handled,
         [](TCustomFFmpeg&, OptionState& o, S, S) { o.do_deinterlace = 1; }},
        {"psnr", Kind::Handled, [](TCustomFFmpeg&, OptionState& o, S, S) { o.do_psnr = 1; }},
        {"vstats", Kind::Handled, [](TCustomFFmpeg& j, OptionState&, S, S) { j.OptVStats(); }},
        {"vstats_file", Kind::Handled,
         [](TCustomFFmpeg& j, OptionState&, S, S v) { j.OptVStatsFile(v); }},
        {"vhook", Kind::Handled, [](TCustomFFmpeg& j, OptionState&, S, S v) { j.OptVideoHook(v); }},
        {"intra_matrix", Kind::Handled,
         [](TCustomFFmpeg& j, OptionState&, S, S v) { j.OptMatrix(true, v); }},
        {"inter_matrix", Kind::Handled,
         [](TCustomFFmpeg& j, OptionState&, S, S v) { j.OptMatrix(false, v); }},
        {"top", Kind::Handled,
         [](TCustomFFmpeg&, OptionState& o, S, S v) { o.top_field_first = ParseInteger(v); }},
        {"dc", Kind::Handled,
         [](TCustomFFmpeg&, OptionState& o, S, S v) { o.intra_dc_precision = ParseInteger(v); }},
        {"vtag", Kind::Handled,
         [](TCustomFFmpeg& j, OptionState&, S, S v) { j.OptCodecTag(true, v); }},
        {"newvideo", Kind::Handled,
         [](TCustomFFmpeg& j, OptionState&, S, S) { j.OptNewStream(AVMEDIA_TYPE_VIDEO); }},
        {"qphist", Kind::Handled, [](TCustomFFmpeg&, OptionState& o, S, S) { o.qp_hist = 1; }},
    };
    return kRows;
}

// Audio, subtitles, capture and muxing.
std::span<const OptionTable::Row> OptionTable::AudioAndSubtitles() {
    using S = const std::string&;
    static const Row kRows[] = {
        {"ab", Kind::Handled, [](TCustomFFmpeg& j, OptionState&, S n, S v) { j.SetBitRate(n, v); }},
        {"aframes", Kind::Handled,
         [](TCustomFFmpeg&, OptionState& o, S, S v) { o.max_frames_audio = ParseInteger(v); }},
        {"aq", Kind::Handled,
         [](TCustomFFmpeg&, OptionState& o, S, S v) { o.audio_qscale = ParseReal(v); }},
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
        {"an", Kind::Handled, [](TCustomFFmpeg&, OptionState& o, S, S) { o.audio_disable = 1; }},
        {"acodec", Kind::Handled,
         [](TCustomFFmpeg& j, OptionState&, S, S v) { j.OptCodec(AVMEDIA_TYPE_AUDIO, v); }},
        {"atag", Kind::Handled,
         [](TCustomFFmpeg& j, OptionState&, S, S v) { j.OptCodecTag(false, v); }},
        {"vol", Kind::Handled,
         [](TCustomFFmpeg&, OptionState& o, S, S v) { o.audio_volume = ParseInteger(v); }},
        {"newaudio", Kind::Handled,
         [](TCustomFFmpeg& j, OptionState&, S, S) { j.OptNewStream(AVMEDIA_TYPE_AUDIO); }},
        {"alang", Kind::Handled,
         [](TCustomFFmpeg&, OptionState& o, S, S v) { o.audio_language = v; }},
        {"sn", Kind::Handled, [](TCustomFFmpeg&, OptionState& o, S, S) { o.subtitle_disable = 1; }},
        {"scodec", Kind::Handled,
         [](TCustomFFmpeg& j, OptionState&, S, S v) { j.OptCodec(AVMEDIA_TYPE_SUBTITLE, v); }},
        {"newsubtitle", Kind::Handled,
         [](TCustomFFmpeg& j, OptionState&, S, S) { j.OptNewStream(AVMEDIA_TYPE_SUBTITLE); }},
        {"slang", Kind::Handled,
         [](TCustomFFmpeg&, OptionState& o, S, S v) { o.subtitle_language = v; }},
        {"vc", Kind::Handled,
         [](TCustomFFmpeg&, OptionState& o, S, S v) { o.video_channel = ParseInteger(v); }},
        {"tvstd", Kind::Handled,
         [](TCustomFFmpeg&, OptionState& o, S, S v) { o.video_standard = v; }},
        {"isync", Kind::Handled, [](TCustomFFmpeg&, OptionState& o, S, S) { o.input_sync = 1; }},
        {"muxdelay", Kind::Handled,
         [](TCustomFFmpeg&, OptionState& o, S, S v) { o.mux_max_delay = ParseReal(v); }},
        {"muxpreload", Kind::Handled,
         [](TCustomFFmpeg&, OptionState& o, S, S v) { o.mux_preload = ParseReal(v); }},
        Unsupported("absf"),
        Unsupported("vbsf"),
        Unsupported("sbsf"),
        Ignored("apre"),
        Ignored("vpre"),
        Ignored("spre"),
    };
    return kRows;
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
                row.handler(*this, options_, name, value);
                return;
            }
        }
    }
    SetGenericOption(name, value);
}

} // namespace clipwright
