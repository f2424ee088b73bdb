// Opening a job's output file: which kinds of stream it gets, the container metadata and the
// byte stream with the muxer's options.
#include "FFMPEG/job/output_setup.h"

#include <ctime>

#include "FFMPEG/binding/av_binding.h"
#include "FFMPEG/binding/av_error.h"
#include "FFMPEG/binding/c_locale.h"
#include "FFMPEG/binding/text_format.h"
#include "FFMPEG/job/generic_options.h"

namespace clipwright {

namespace {

void SetMetadata(AVFormatContext* context, const char* key, const std::string& value) {
    if (!value.empty())
        av().av_dict_set(&context->metadata, key, value.c_str(), 0);
}

std::string IsoTime(int64_t seconds) {
    const std::time_t time = static_cast<std::time_t>(seconds);
    std::tm utc{};
    gmtime_r(&time, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S.000000Z", &utc);
    return text;
}

// The image-sequence muxer needs a frame number in the name; this generation no longer says
// so in its flags, so the name decides.
bool NeedsNumber(const AVOutputFormat* format) {
    return (format->flags & AVFMT_NEEDNUMBER) || std::string(format->name) == "image2";
}

} // namespace

void OutputSetup::CheckAudioVideoSubInputs(bool& has_video, bool& has_audio,
                                           bool& has_subtitle) const {
    has_video = has_audio = has_subtitle = false;
    for (const InputFile& input : job_.inputs) {
        for (unsigned i = 0; i < input.context->nb_streams; ++i) {
            const AVStream* stream = input.context->streams[i];
            switch (stream->codecpar->codec_type) {
            case AVMEDIA_TYPE_VIDEO:
                // A cover picture makes no video of an audio file.
                has_video = has_video || !(stream->disposition & AV_DISPOSITION_ATTACHED_PIC);
                break;
            case AVMEDIA_TYPE_AUDIO:
                has_audio = true;
                break;
            case AVMEDIA_TYPE_SUBTITLE:
                has_subtitle = true;
                break;
            case AVMEDIA_TYPE_DATA:
            case AVMEDIA_TYPE_ATTACHMENT:
            case AVMEDIA_TYPE_UNKNOWN:
                break;
            default:
                throw FFMpegException("invalid codec_type of input file");
            }
        }
    }
}

bool OutputSetup::ChooseOutputStreams(const AVOutputFormat& format, StreamKinds& kinds) {
    kinds.video = format.video_codec != AV_CODEC_ID_NONE || job_.options.video_stream_copy != 0 ||
                  job_.options.video_codec_name.has_value();
    kinds.audio = format.audio_codec != AV_CODEC_ID_NONE || job_.options.audio_stream_copy != 0 ||
                  job_.options.audio_codec_name.has_value();
    kinds.subtitle = format.subtitle_codec != AV_CODEC_ID_NONE ||
                     job_.options.subtitle_stream_copy != 0 ||
                     job_.options.subtitle_codec_name.has_value();
    if (!job_.inputs.empty()) {
        bool has_video = false;
        bool has_audio = false;
        bool has_subtitle = false;
        try {
            CheckAudioVideoSubInputs(has_video, has_audio, has_subtitle);
        } catch (const FFMpegException& error) {
            job_.last_error = FormatText("check_audio_video_sub_inputs fail: %s", error.what());
            return false;
        }
        kinds.video = kinds.video && has_video;
        kinds.audio = kinds.audio && has_audio;
        kinds.subtitle = kinds.subtitle && has_subtitle;
    }
    if (job_.options.audio_disable != 0)
        kinds.audio = false;
    if (job_.options.video_disable != 0)
        kinds.video = false;
    if (job_.options.subtitle_disable != 0)
        kinds.subtitle = false;
    return true;
}

bool OutputSetup::CreateOutputStreams(OutputFile& output, const StreamKinds& kinds) {
    const struct {
        bool used;
        const char* text;
        void (OutputSetup::*create)(OutputFile&);
    } steps[] = {{kinds.video, "new_video_stream fail: %s", &OutputSetup::NewVideoStream},
                 {kinds.audio, "new_audio_stream fail: %s", &OutputSetup::NewAudioStream},
                 {kinds.subtitle, "new_subtitle_stream fail: %s", &OutputSetup::NewSubtitleStream}};
    for (const auto& step : steps) {
        if (!step.used)
            continue;
        try {
            (this->*step.create)(output);
        } catch (const std::exception& error) {
            job_.last_error = FormatText(step.text, error.what());
            return false;
        }
    }
    return true;
}

void OutputSetup::SetOutputMetadata(AVFormatContext& context) const {
    if (job_.options.recording_timestamp != 0)
        SetMetadata(&context, "creation_time", IsoTime(job_.options.recording_timestamp));
    SetMetadata(&context, "title", job_.options.str_title);
    // This generation calls the author "artist".
    SetMetadata(&context, "artist", job_.options.str_author);
    SetMetadata(&context, "copyright", job_.options.str_copyright);
    SetMetadata(&context, "comment", job_.options.str_comment);
    SetMetadata(&context, "album", job_.options.str_album);
    if (job_.options.year > 0)
        SetMetadata(&context, "date", std::to_string(job_.options.year));
    if (job_.options.track > 0)
        SetMetadata(&context, "track", std::to_string(job_.options.track));
    SetMetadata(&context, "genre", job_.options.str_genre);
}

bool OutputSetup::OpenOutputByteStream(OutputFile& output, const std::string& file_name) {
    AVFormatContext* context = output.context.get();
    const AVOutputFormat* format = context->oformat;
    if (NeedsNumber(format) && av().av_filename_number_test(context->url) == 0) {
        job_.last_error = OpenErrorText(context->url, AVERROR(EDOM));
        return false;
    }
    if (!(format->flags & AVFMT_NOFILE) &&
        av().avio_open2(&context->pb, file_name.c_str(), AVIO_FLAG_WRITE, nullptr, nullptr) < 0) {
        job_.last_error = FormatText("Could not open '%s'", file_name.c_str());
        return false;
    }

    context->max_delay = static_cast<int>(job_.options.mux_max_delay * 1000000);
    job_.generic.TransferOptions(context, job_.generic.FormatHolder(), kOptEncoding);
    output.muxer_options = job_.generic.PrivateFormatOptionsFor(format);
    // Preload and the output loop are the muxers' own options in this generation.
    DictionarySlot muxer_options(output.muxer_options);
    if (PrivateClassDeclares(format->priv_class, "preload"))
        av().av_dict_set_int(muxer_options.get(), "preload",
                             static_cast<int64_t>(job_.options.mux_preload * 1000000), 0);
    if (PrivateClassDeclares(format->priv_class, "loop"))
        av().av_dict_set_int(muxer_options.get(), "loop", job_.options.loop_output, 0);
    return true;
}

bool OutputSetup::OpenOutputFile(const std::string& file_name) {
    const CLocaleScope c_locale; // option transfers print and read numbers with printf/strtod
    struct Consume {
        OptionState& o;
        ~Consume() {
            o.forced_input_format = nullptr;
            o.forced_output_format = nullptr;
        }
    } consume{job_.options};

    if (job_.outputs.size() >= static_cast<size_t>(kMaxOutputFiles)) {
        job_.last_error = FormatText("%s: too many output files (at most %d)", file_name.c_str(),
                                     kMaxOutputFiles);
        return false;
    }
    const AVOutputFormat* format = job_.options.forced_output_format;
    if (format == nullptr)
        format = av().av_guess_format(nullptr, file_name.c_str(), nullptr);
    if (format == nullptr) {
        job_.last_error =
            FormatText("Unable to find a suitable output format for '%s'", file_name.c_str());
        return false;
    }

    OutputFile output;
    output.context.reset(av().avformat_alloc_context());
    if (!output.context) {
        job_.last_error = OpenErrorText(file_name, AVERROR(ENOMEM));
        return false;
    }
    output.context->oformat = format;
    output.context->url = av().av_strdup(file_name.c_str());

    StreamKinds kinds;
    if (job_.options.map_all != 0
            ? !CreateKeptStreams(output)
            : !ChooseOutputStreams(*format, kinds) || !CreateOutputStreams(output, kinds))
        return false;
    SetOutputMetadata(*output.context);
    if (!OpenOutputByteStream(output, file_name))
        return false;
    job_.outputs.push_back(std::move(output));
    return true;
}

void OutputSetup::NewStream(int media_type) {
    if (job_.outputs.empty())
        throw FFMpegException("At least one output file must be specified");
    OutputFile& output = job_.outputs.back();
    if (media_type == AVMEDIA_TYPE_VIDEO)
        NewVideoStream(output);
    else if (media_type == AVMEDIA_TYPE_AUDIO)
        NewAudioStream(output);
    else
        NewSubtitleStream(output);
}

} // namespace clipwright
