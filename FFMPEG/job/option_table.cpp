// The option vocabulary: one table in dispatch order, each row a name and its effect. Names the
// table lacks go to the generic setter; ignored and unsupported names are rows of their kind.
#include "FFMPEG/job/custom_ffmpeg.h"

#include <optional>
#include <span>

#include "FFMPEG/binding/av_binding.h"
#include "FFMPEG/binding/av_error.h"
#include "FFMPEG/binding/c_locale.h"
#include "FFMPEG/binding/engine_log.h"
#include "FFMPEG/job/option_handlers.h"
#include "FFMPEG/job/target_presets.h"
#include "FFMPEG/job/value_parse.h"

namespace clipwright {

namespace {

// The table in dispatch order, in groups.
struct OptionTable {
    enum class Kind { Ignored, Unsupported, Handled };
    // A row binds its name to a field of the option state (set, parsed or copied), or to a
    // handler: of the value, of the name and value, of a side and the value, of a stream type.
    enum class Binding {
        None,
        Flag,
        Integer,
        PositiveInteger,
        Integer64,
        Real,
        Text,
        TextIfSet,
        OptionalText,
        Call,
        CallNamed,
        Side,
        Codec,
        NewStream,
    };
    using Handler = void (*)(OptionContext& context, const std::string& value);
    using NamedHandler = void (*)(OptionContext& context, const std::string& name,
                                  const std::string& value);
    using SideHandler = void (*)(OptionContext& context, int side, const std::string& value);
    struct Row {
        const char* name;
        Kind kind;
        Binding binding = Binding::None;
        int32_t OptionState::*integer = nullptr;
        int64_t OptionState::*integer64 = nullptr;
        float OptionState::*real = nullptr;
        std::string OptionState::*text = nullptr;
        std::optional<std::string> OptionState::*optional_text = nullptr;
        Handler handler = nullptr;
        NamedHandler named_handler = nullptr;
        SideHandler side_handler = nullptr;
        int argument = 0; // the side (0 top, 1 bottom, 2 left, 3 right) or the media type
    };

    static constexpr Row Ignored(const char* name) { return {name, Kind::Ignored}; }
    static constexpr Row Unsupported(const char* name) { return {name, Kind::Unsupported}; }
    // The field := 1.
    static constexpr Row Flag(const char* name, int32_t OptionState::*field) {
        return {.name = name, .kind = Kind::Handled, .binding = Binding::Flag, .integer = field};
    }
    static constexpr Row Integer(const char* name, int32_t OptionState::*field) {
        return {.name = name, .kind = Kind::Handled, .binding = Binding::Integer, .integer = field};
    }
    // The value when it is above zero; another keeps what the field had.
    static constexpr Row PositiveInteger(const char* name, int32_t OptionState::*field) {
        return {.name = name,
                .kind = Kind::Handled,
                .binding = Binding::PositiveInteger,
                .integer = field};
    }
    static constexpr Row Integer64(const char* name, int64_t OptionState::*field) {
        return {
            .name = name, .kind = Kind::Handled, .binding = Binding::Integer64, .integer64 = field};
    }
    static constexpr Row Real(const char* name, float OptionState::*field) {
        return {.name = name, .kind = Kind::Handled, .binding = Binding::Real, .real = field};
    }
    static constexpr Row Text(const char* name, std::string OptionState::*field) {
        return {.name = name, .kind = Kind::Handled, .binding = Binding::Text, .text = field};
    }
    // The value when it is not empty; an empty one keeps what the field had.
    static constexpr Row TextIfSet(const char* name, std::string OptionState::*field) {
        return {.name = name, .kind = Kind::Handled, .binding = Binding::TextIfSet, .text = field};
    }
    // The value, even an empty one, in a field that is otherwise unset.
    static constexpr Row OptionalText(const char* name,
                                      std::optional<std::string> OptionState::*field) {
        return {.name = name,
                .kind = Kind::Handled,
                .binding = Binding::OptionalText,
                .optional_text = field};
    }
    static constexpr Row Call(const char* name, Handler handler) {
        return {.name = name, .kind = Kind::Handled, .binding = Binding::Call, .handler = handler};
    }
    static constexpr Row CallNamed(const char* name, NamedHandler handler) {
        return {.name = name,
                .kind = Kind::Handled,
                .binding = Binding::CallNamed,
                .named_handler = handler};
    }
    static constexpr Row Side(const char* name, SideHandler handler, int side) {
        return {.name = name,
                .kind = Kind::Handled,
                .binding = Binding::Side,
                .side_handler = handler,
                .argument = side};
    }
    // The codec of the stream type `media_type` (OptCodec).
    static constexpr Row Codec(const char* name, int media_type) {
        return {
            .name = name, .kind = Kind::Handled, .binding = Binding::Codec, .argument = media_type};
    }
    // A stream of `media_type` added to the last output; the value is not read.
    static constexpr Row NewStream(const char* name, int media_type) {
        return {.name = name,
                .kind = Kind::Handled,
                .binding = Binding::NewStream,
                .argument = media_type};
    }
    // Sets what the row is bound to.
    static void Apply(const Row& row, OptionContext& context, const std::string& name,
                      const std::string& value);

    // Files, times and metadata.
    static std::span<const Row> Files();
    // Run control: dumps, loops, verbosity, sync.
    static std::span<const Row> RunControl();
    static std::span<const Row> Video();
    // Audio, subtitles, capture and muxing.
    static std::span<const Row> AudioAndSubtitles();
};

// Files, times and metadata.
std::span<const OptionTable::Row> OptionTable::Files() {
    static const Row kRows[] = {
        Ignored("L"),
        Ignored("h"),
        Ignored("version"),
        Ignored("formats"),
        Call("f", OptFormat),
        Ignored("i"),
        Ignored("y"),
        Call("map", OptMap),
        Call("map_meta_data", OptMapMetaData),
        Flag("map_all", &OptionState::map_all),
        Call("t", OptRecordingTime),
        Integer64("fs", &OptionState::limit_filesize),
        Call("ss", OptStartTime),
        Call("itsoffset", OptInputTsOffset),
        Call("itsscale", OptInputTsScale),
        TextIfSet("title", &OptionState::str_title),
        Call("timestamp", OptRecordingTimestamp),
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
    static const Row kRows[] = {
        Integer("dframes", &OptionState::max_frames_data),
        Ignored("benchmark"),
        Flag("dump", &OptionState::do_pkt_dump),
        Flag("hex", &OptionState::do_hex_dump),
        Flag("re", &OptionState::rate_emu),
        Flag("loop_input", &OptionState::loop_input),
        Integer("loop_output", &OptionState::loop_output),
        Call("v", OptVerbosity),
        Call("target", OptTarget),
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
    static const Row kRows[] = {
        CallNamed("b", OptBitRate),
        CallNamed("vb", OptBitRate),
        Integer("vframes", &OptionState::max_frames_video),
        Call("r", OptFrameRate),
        Call("s", OptFrameSize),
        Call("aspect", OptFrameAspectRatio),
        Call("pix_fmt", OptFramePixFmt),
        Side("croptop", OptCrop, 0),
        Side("cropbottom", OptCrop, 1),
        Side("cropleft", OptCrop, 2),
        Side("cropright", OptCrop, 3),
        Side("padtop", OptPad, 0),
        Side("padbottom", OptPad, 1),
        Side("padleft", OptPad, 2),
        Side("padright", OptPad, 3),
        Call("padcolor", OptPadColor),
        Flag("intra", &OptionState::intra_only),
        Flag("vn", &OptionState::video_disable),
        Integer("vdt", &OptionState::video_discard),
        Call("qscale", OptQScale),
        OptionalText("rc_override", &OptionState::video_rc_override_string),
        Codec("vcodec", AVMEDIA_TYPE_VIDEO),
        Integer("me_threshold", &OptionState::me_threshold),
        Flag("sameq", &OptionState::same_quality),
        Call("pass", OptPass),
        Text("passlogfile", &OptionState::pass_logfilename_prefix),
        Flag("deinterlace", &OptionState::do_deinterlace),
        Flag("psnr", &OptionState::do_psnr),
        Call("vstats", OptVStats),
        Call("vstats_file", OptVStatsFile),
        Call("vhook", OptVideoHook),
        Call("intra_matrix", OptIntraMatrix),
        Call("inter_matrix", OptInterMatrix),
        Integer("top", &OptionState::top_field_first),
        Integer("dc", &OptionState::intra_dc_precision),
        Call("vtag", OptVideoTag),
        NewStream("newvideo", AVMEDIA_TYPE_VIDEO),
        Flag("qphist", &OptionState::qp_hist),
    };
    return kRows;
}

// Audio, subtitles, capture and muxing.
std::span<const OptionTable::Row> OptionTable::AudioAndSubtitles() {
    static const Row kRows[] = {
        CallNamed("ab", OptBitRate),
        Integer("aframes", &OptionState::max_frames_audio),
        Real("aq", &OptionState::audio_qscale),
        PositiveInteger("ar", &OptionState::audio_sample_rate),
        PositiveInteger("ac", &OptionState::audio_channels),
        Flag("an", &OptionState::audio_disable),
        Codec("acodec", AVMEDIA_TYPE_AUDIO),
        Call("atag", OptAudioTag),
        Integer("vol", &OptionState::audio_volume),
        NewStream("newaudio", AVMEDIA_TYPE_AUDIO),
        Text("alang", &OptionState::audio_language),
        Flag("sn", &OptionState::subtitle_disable),
        Codec("scodec", AVMEDIA_TYPE_SUBTITLE),
        NewStream("newsubtitle", AVMEDIA_TYPE_SUBTITLE),
        Text("slang", &OptionState::subtitle_language),
        Integer("vc", &OptionState::video_channel),
        OptionalText("tvstd", &OptionState::video_standard),
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

void OptionTable::Apply(const Row& row, OptionContext& context, const std::string& name,
                        const std::string& value) {
    OptionState& o = context.Options();
    switch (row.binding) {
    case Binding::None:
        return;
    case Binding::Flag:
        o.*row.integer = 1;
        return;
    case Binding::Integer:
        o.*row.integer = ParseInteger(value);
        return;
    case Binding::PositiveInteger:
        if (const int32_t number = ParseInteger(value); number > 0)
            o.*row.integer = number;
        return;
    case Binding::Integer64:
        o.*row.integer64 = ParseInteger64(value);
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
    case Binding::OptionalText:
        o.*row.optional_text = value;
        return;
    case Binding::Call:
        row.handler(context, value);
        return;
    case Binding::CallNamed:
        row.named_handler(context, name, value);
        return;
    case Binding::Side:
        row.side_handler(context, row.argument, value);
        return;
    case Binding::Codec:
        OptCodec(context, row.argument, value);
        return;
    case Binding::NewStream:
        context.NewStream(row.argument);
        return;
    }
}

void LogIgnored(OptionContext& context, const std::string& name) {
    if (context.Logging())
        context.Log(kInfoLevel, "Do nothing: option - " + name);
}

} // namespace

void TCustomFFmpeg::Dispatch(const std::string& name, const std::string& value) {
    using Kind = OptionTable::Kind;
    const CLocaleScope c_locale; // the handlers and the libraries read "1.5" alike
    OptionContext context(*this);
    for (const auto& group : {OptionTable::Files(), OptionTable::RunControl(), OptionTable::Video(),
                              OptionTable::AudioAndSubtitles()}) {
        for (const OptionTable::Row& row : group) {
            if (name != row.name)
                continue;
            switch (row.kind) {
            case Kind::Ignored:
                LogIgnored(context, name);
                return;
            case Kind::Unsupported:
                throw FFMpegException("TODO: option - " + name);
            case Kind::Handled:
                OptionTable::Apply(row, context, name, value);
                return;
            }
        }
    }
    generic_.SetGenericOption(name, value);
}

void TCustomFFmpeg::SetInputFormat(const std::string& name) {
    OptionContext context(*this);
    OptInputFormat(context, name);
}

void TCustomFFmpeg::SetOutputFormat(const std::string& name) {
    OptionContext context(*this);
    OptOutputFormat(context, name);
}

} // namespace clipwright
