#include "FFMPEG/probe/av_probe.h"

#include <cstdlib>
#include <stdexcept>

#include "FFMPEG/binding/av_binding.h"
#include "FFMPEG/binding/av_error.h"
#include "FFMPEG/binding/c_locale.h"
#include "FFMPEG/binding/codec_lock.h"
#include "FFMPEG/binding/engine_log.h"
#include "FFMPEG/binding/text_format.h"
#include "FFMPEG/binding/timestamps.h"
#include "FFMPEG/probe/measured_length.h"

namespace clipwright {

double DisplayAspect(const AVRational& codec_sar, const AVRational& stream_sar, int width,
                     int height) {
    const AVRational sar = codec_sar.num == 0 && stream_sar.num != 0 ? stream_sar : codec_sar;
    return static_cast<double>(sar.num) / sar.den * width / height;
}

namespace {

std::string MetadataText(const AVDictionary* metadata, const char* key) {
    const AVDictionaryEntry* entry = av().av_dict_get(metadata, key, nullptr, 0);
    return entry != nullptr && entry->value != nullptr ? entry->value : "";
}

// The leading number of a tag such as "2008-05-01" or "3/12"; 0 when there is none.
int32_t MetadataNumber(const AVDictionary* metadata, const char* key) {
    const std::string text = MetadataText(metadata, key);
    return static_cast<int32_t>(std::strtol(text.c_str(), nullptr, 10));
}

int64_t CreationTime(const AVDictionary* metadata) {
    const std::string text = MetadataText(metadata, "creation_time");
    int64_t time = 0;
    if (text.empty() || av().av_parse_time(&time, text.c_str(), 0) < 0)
        return 0;
    return time;
}

int32_t ClampToInt32(int64_t value) {
    if (value > INT32_MAX)
        return INT32_MAX;
    if (value < INT32_MIN)
        return INT32_MIN;
    return static_cast<int32_t>(value);
}

} // namespace

void TAVProbe::CheckLibraries() {
    if (!LibraryBound(AvLibrary::avcodec))
        throw std::runtime_error("LibAVCodec not loaded.");
    if (!LibraryBound(AvLibrary::avformat))
        throw std::runtime_error("LibAVFormat not loaded.");
    if (!LibraryBound(AvLibrary::avutil))
        throw std::runtime_error("LibAVUtil not loaded.");
    if (!LibraryBound(AvLibrary::swscale))
        throw std::runtime_error("LibSwScale not loaded.");
}

bool TAVProbe::LoadFile(const std::string& file_name, const std::string& format_name) {
    CheckLibraries();
    const CLocaleScope c_locale; // demuxers read numbers in playlists and scripts with strtod
    CloseFile();

    const AVInputFormat* format = nullptr;
    if (!format_name.empty()) {
        format = av().av_find_input_format(format_name.c_str());
        if (format == nullptr) {
            LastError_ = FormatText("Unknown input format: %s", format_name.c_str());
            return false;
        }
    }

    AVFormatContext* context = av().avformat_alloc_context();
    if (context == nullptr) {
        LastError_ = OpenErrorText(file_name, AVERROR(ENOMEM));
        return false;
    }
    // On failure the library frees the context it was given.
    const int opened = av().avformat_open_input(&context, file_name.c_str(), format, nullptr);
    if (opened < 0) {
        LastError_ = OpenErrorText(file_name, opened);
        CloseFile();
        return false;
    }
    FormatContext_.reset(context);

    int found = 0;
    {
        // Reading stream information opens and closes decoders inside the library.
        std::lock_guard lock(CodecLock());
        found = av().avformat_find_stream_info(FormatContext_.get(), nullptr);
    }
    if (found < 0) {
        LastError_ = FormatText("%s: could not find codec parameters", file_name.c_str());
        CloseFile();
        return false;
    }

    // The list shows a length and progress needs one: a guess from the bit rate (an MPEG-1
    // header's VBR value makes 5 s of video 10 ms) is replaced by the packets' own.
    if (LengthNeedsMeasuring(*FormatContext_)) {
        const int64_t measured = MeasureLength(*FormatContext_, nullptr);
        if (measured != AV_NOPTS_VALUE)
            FormatContext_->duration = measured;
    }
    Recount();
    FormatName_ = format_name;
    return true;
}

void TAVProbe::CloseFile() {
    FormatName_.clear();
    FormatContext_.reset();
    Recount();
}

void TAVProbe::Recount() {
    StreamCount_ = ProgramCount_ = -1;
    AudioStreamCount_ = VideoStreamCount_ = SubtitleStreamCount_ = AttachedPictureCount_ = -1;
    FirstAudioStream_ = FirstVideoStream_ = FirstSubtitleStream_ = -1;
    if (!FormatContext_)
        return;
    StreamCount_ = static_cast<int32_t>(FormatContext_->nb_streams);
    ProgramCount_ = static_cast<int32_t>(FormatContext_->nb_programs);
    AudioStreamCount_ = VideoStreamCount_ = SubtitleStreamCount_ = AttachedPictureCount_ = 0;
    for (int32_t i = 0; i < StreamCount_; ++i) {
        const AVStream* stream = FormatContext_->streams[i];
        switch (stream->codecpar->codec_type) {
        case AVMEDIA_TYPE_VIDEO:
            // An audio file's cover is a picture, not a video to show or convert.
            if (stream->disposition & AV_DISPOSITION_ATTACHED_PIC) {
                ++AttachedPictureCount_;
                break;
            }
            ++VideoStreamCount_;
            if (FirstVideoStream_ == -1)
                FirstVideoStream_ = i;
            break;
        case AVMEDIA_TYPE_AUDIO:
            ++AudioStreamCount_;
            if (FirstAudioStream_ == -1)
                FirstAudioStream_ = i;
            break;
        case AVMEDIA_TYPE_SUBTITLE:
            ++SubtitleStreamCount_;
            if (FirstSubtitleStream_ == -1)
                FirstSubtitleStream_ = i;
            break;
        default:
            break;
        }
    }
}

void TAVProbe::GetFileInfo(TAVFileInfo& info) const {
    info = TAVFileInfo{};
    if (!FormatContext_) {
        EngineLog(kInfoLevel, "file not loaded.\n");
        return;
    }
    const AVFormatContext& context = *FormatContext_;
    const AVDictionary* metadata = context.metadata;
    info.StartTime = context.start_time;
    info.Duration = context.duration;
    info.BitRate = ClampToInt32(context.bit_rate);
    info.Timestamp = CreationTime(metadata);
    info.Title = MetadataText(metadata, "title");
    // Newer demuxers say "artist" where the older ones said "author".
    info.Author = MetadataText(metadata, "artist");
    if (info.Author.empty())
        info.Author = MetadataText(metadata, "author");
    info.Copyright = MetadataText(metadata, "copyright");
    info.Comment = MetadataText(metadata, "comment");
    info.Album = MetadataText(metadata, "album");
    info.Year = MetadataNumber(metadata, "date");
    info.Track = MetadataNumber(metadata, "track");
    info.Genre = MetadataText(metadata, "genre");
}

void TAVProbe::GetVideoStreamInfo(int32_t stream_index, TAVVideoInfo& info) const {
    info = TAVVideoInfo{};
    if (!FormatContext_) {
        EngineLog(kInfoLevel, "file not loaded.\n");
        return;
    }
    if (stream_index < 0) {
        stream_index = FirstVideoStream_;
        if (stream_index == -1) {
            EngineLog(kErrorLevel, "no video stream.\n");
            return;
        }
    } else if (stream_index >= StreamCount_) {
        EngineLog(kErrorLevel, "stream index #%d is invalid.\n", stream_index);
        return;
    }
    AVStream* const stream_ptr = FormatContext_->streams[stream_index];
    const AVStream& stream = *stream_ptr;
    const AVCodecParameters& codec = *stream.codecpar;
    if (codec.codec_type != AVMEDIA_TYPE_VIDEO) {
        EngineLog(kErrorLevel, "stream #%d is not video stream.\n", stream_index);
        return;
    }

    info.Language = MetadataText(stream.metadata, "language").substr(0, 3);
    const AVCodec* decoder = av().avcodec_find_decoder(codec.codec_id);
    info.CodecName = decoder != nullptr ? decoder->name : av().avcodec_get_name(codec.codec_id);
    info.StartTime = stream.start_time;
    info.StartTimeRescaled =
        RescaleTs(stream.start_time, kMicroseconds, stream.time_base, info.StartTimeRescaled);
    info.Duration = stream.duration;
    info.DurationRescaled =
        RescaleTs(stream.duration, kMicroseconds, stream.time_base, info.DurationRescaled);
    info.BitRate = ClampToInt32(codec.bit_rate);
    info.Height = codec.height;
    info.Width = codec.width;
    info.DisplayAspectRatio = static_cast<float>(DisplayAspect(
        codec.sample_aspect_ratio, stream.sample_aspect_ratio, codec.width, codec.height));
    info.PixelFormat = codec.format;
    // The library's best guess of the real rate: the raw base rate of interlaced H.264 is
    // the field rate, twice what the viewer sees.
    const AVRational rate = av().av_guess_frame_rate(FormatContext_.get(), stream_ptr, nullptr);
    info.FrameRateNum = rate.num;
    info.FrameRateDen = rate.den;
    info.Profile = codec.profile;
    info.Level = codec.level;
    info.Interlaced =
        codec.field_order != AV_FIELD_UNKNOWN && codec.field_order != AV_FIELD_PROGRESSIVE;
}

void TAVProbe::GetAudioInfo(TAVAudioInfo& info) const {
    info = TAVAudioInfo{};
    if (!FormatContext_ || FirstAudioStream_ < 0)
        return;
    const AVCodecParameters& codec = *FormatContext_->streams[FirstAudioStream_]->codecpar;
    const AVCodec* decoder = av().avcodec_find_decoder(codec.codec_id);
    info.CodecName = decoder != nullptr ? decoder->name : av().avcodec_get_name(codec.codec_id);
    info.Profile = codec.profile;
    info.Channels = codec.ch_layout.nb_channels;
    info.SampleRate = codec.sample_rate;
    info.BitRate = ClampToInt32(codec.bit_rate);
}

std::string PixelFormatName(int32_t pixel_format) {
    const char* name = av().av_get_pix_fmt_name(static_cast<AVPixelFormat>(pixel_format));
    return name != nullptr ? name : "";
}

} // namespace clipwright
