// The first half of a run: stream tables, source choice, every output stream's parameters
// (copied or to be encoded), the codecs opened, the mapping report and the headers.
#include "FFMPEG/run/transcode.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>

#include "FFMPEG/binding/av_binding.h"
#include "FFMPEG/binding/av_error.h"
#include "FFMPEG/binding/codec_lock.h"
#include "FFMPEG/binding/engine_log.h"
#include "FFMPEG/binding/text_format.h"
#include "FFMPEG/binding/timestamps.h"
#include "FFMPEG/binding/video_hook.h"
#include "FFMPEG/job/container_check.h"
#include "FFMPEG/job/value_parse.h"

namespace clipwright {

namespace {

AVRational Inverse(AVRational q) {
    return AVRational{q.den, q.num};
}

double ToSeconds(AVRational q) {
    return q.den != 0 ? static_cast<double>(q.num) / q.den : 0.0;
}

// One picture at the stream's real rate, or one audio frame; microseconds, 0 when unknown.
int64_t FrameDurationOf(AVFormatContext* file, AVStream* stream) {
    const AVCodecParameters* par = stream->codecpar;
    if (par->codec_type == AVMEDIA_TYPE_VIDEO) {
        const AVRational rate = av().av_guess_frame_rate(file, stream, nullptr);
        return rate.num > 0 && rate.den > 0 ? int64_t{1000000} * rate.den / rate.num : 0;
    }
    if (par->codec_type == AVMEDIA_TYPE_AUDIO && par->frame_size > 0 && par->sample_rate > 0)
        return int64_t{1000000} * par->frame_size / par->sample_rate;
    return 0;
}

// A phone's portrait video is stored turned, with the turn in its display matrix: the pictures
// pass through unturned, so the output keeps the matrix.
void KeepDisplayMatrix(const AVStream& from, AVStream& to) {
    if (from.codecpar->codec_type != AVMEDIA_TYPE_VIDEO)
        return;
    size_t size = 0;
    const uint8_t* matrix = av().av_stream_get_side_data(&from, AV_PKT_DATA_DISPLAYMATRIX, &size);
    if (matrix == nullptr || size == 0)
        return;
    uint8_t* kept = av().av_stream_new_side_data(&to, AV_PKT_DATA_DISPLAYMATRIX, size);
    if (kept == nullptr)
        throw FFMpegException("av_mallocz fail");
    std::memcpy(kept, matrix, size);
}

// Without a map, an output stream takes an input stream of its type; a cover picture is no
// video to take (it is one still, with no place in time).
bool Feeds(const TInputStreamState& input, AVMediaType type) {
    return input.Stream->codecpar->codec_type == type &&
           !(input.Stream->disposition & AV_DISPOSITION_ATTACHED_PIC);
}

// Clockwise degrees to turn the stream's pictures by for display: 0, 90, 180 or 270.
int DisplayTurn(const AVStream& stream) {
    size_t size = 0;
    const uint8_t* matrix = av().av_stream_get_side_data(&stream, AV_PKT_DATA_DISPLAYMATRIX, &size);
    if (matrix == nullptr || size < 9 * sizeof(int32_t))
        return 0;
    const double ccw = av().av_display_rotation_get(reinterpret_cast<const int32_t*>(matrix));
    if (std::isnan(ccw))
        return 0;
    const int turn = static_cast<int>(std::lround(-ccw / 90.0)) * 90;
    return ((turn % 360) + 360) % 360;
}

// Muxers that write a display matrix; the others drop it and show a turned source sideways.
bool StatesTurn(const AVFormatContext& file) {
    if (file.oformat == nullptr)
        return false;
    for (const char* name : {"mov", "mp4", "3gp", "3g2", "ipod", "psp", "ismv", "f4v"}) {
        if (std::strcmp(file.oformat->name, name) == 0)
            return true;
    }
    return false;
}

// AVI keeps no time for its sound: it plays from the file's zero, whatever the packets say.
bool PlaysSoundFromZero(const AVFormatContext& file) {
    return file.oformat != nullptr && std::strcmp(file.oformat->name, "avi") == 0;
}

} // namespace

Transcoder::Transcoder(const RunSettings& settings, RunControl& control, RunFiles& files)
    : settings_(settings), control_(control), run_files_(files), context_(settings, control, files),
      progress_(settings, control, files, context_.Counters), hooks_(settings, control) {}

Transcoder::~Transcoder() = default;

void Transcoder::CloseStatistics() {
    for (TOutputStreamState& ost : outputs_) {
        if (VideoEncodeStage* video = ost.Video())
            video->CloseStatistics();
    }
    context_.CloseVideoStats();
}

void Transcoder::BuildInputTables() {
    const int64_t now = av().av_gettime();
    for (size_t f = 0; f < InputFiles().size(); ++f) {
        InputFile& file = InputFiles()[f];
        TInputFileState state;
        state.FirstStream = static_cast<int32_t>(inputs_.size());
        state.StreamCount = static_cast<int32_t>(file.context->nb_streams);
        state.TsOffset = file.ts_offset;
        files_.push_back(state);
        for (int32_t s = 0; s < state.StreamCount; ++s) {
            TInputStreamState ist;
            ist.FileIndex = static_cast<int32_t>(f);
            ist.StreamIndex = s;
            ist.Stream = file.context->streams[s];
            ist.Decoder = &file.decoders[s];
            ist.RateEmu = file.rate_emu;
            ist.FrameDuration = FrameDurationOf(file.context.get(), ist.Stream);
            if (ist.RateEmu)
                ist.RateEmuStart = now;
            inputs_.push_back(std::move(ist));
        }
    }
}

void Transcoder::CheckOutputs() {
    for (const OutputFile& file : OutputFiles()) {
        if (file.context->nb_streams == 0)
            throw FFMpegException("Output file does not contain any stream");
    }
}

void Transcoder::CheckMaps() {
    size_t total = 0;
    for (const OutputFile& file : OutputFiles())
        total += file.context->nb_streams;
    const std::vector<TStreamMap>& maps = Options().stream_maps;
    if (!maps.empty() && maps.size() != total)
        throw FFMpegException("Number of stream maps must match number of output streams");
    auto exists = [&](int32_t file, int32_t stream) {
        return file >= 0 && file < static_cast<int32_t>(files_.size()) && stream >= 0 &&
               stream < files_[file].StreamCount;
    };
    for (const TStreamMap& map : maps) {
        if (!exists(map.File, map.Stream))
            throw FFMpegException(
                FormatText("Could not find input stream #%d.%d", map.File, map.Stream));
        if (!exists(map.SyncFile, map.SyncStream))
            throw FFMpegException(
                FormatText("Could not find sync stream #%d.%d", map.SyncFile, map.SyncStream));
    }
}

void Transcoder::BuildOutputTables() {
    std::vector<OutputFile>& files = OutputFiles();
    for (size_t k = 0; k < files.size(); ++k) {
        for (unsigned i = 0; i < files[k].context->nb_streams; ++i) {
            TOutputStreamState ost;
            ost.FileIndex = static_cast<int32_t>(k);
            ost.StreamIndex = static_cast<int32_t>(i);
            ost.Stream = files[k].context->streams[i];
            ost.Setup = &files[k].streams[i];
            outputs_.push_back(std::move(ost));
        }
    }
}

void Transcoder::ChooseSources() {
    const std::vector<TStreamMap>& maps = Options().stream_maps;
    const int32_t program_id = Options().opt_programid;
    for (size_t n = 0; n < outputs_.size(); ++n) {
        TOutputStreamState& ost = outputs_[n];
        const AVMediaType type = ost.Setup->encoder->codec_type;
        AVFormatContext* output = OutputFiles()[ost.FileIndex].context.get();
        int source = -1;
        if (!maps.empty()) {
            source = files_[maps[n].File].FirstStream + maps[n].Stream;
            if (inputs_[source].Stream->codecpar->codec_type != type) {
                av().av_dump_format(output, ost.FileIndex, output->url, 1);
                throw FFMpegException(FormatText("Codec type mismatch for mapping #%d.%d -> #%d.%d",
                                                 maps[n].File, maps[n].Stream, ost.FileIndex,
                                                 ost.StreamIndex));
            }
        } else if (program_id != 0) {
            for (size_t f = 0; f < files_.size() && source < 0; ++f) {
                const AVFormatContext* input = InputFiles()[f].context.get();
                for (unsigned p = 0; p < input->nb_programs && source < 0; ++p) {
                    const AVProgram* program = input->programs[p];
                    if (program->id != program_id)
                        continue;
                    for (unsigned s = 0; s < program->nb_stream_indexes && source < 0; ++s) {
                        const int index =
                            files_[f].FirstStream + static_cast<int>(program->stream_index[s]);
                        if (inputs_[index].Discard && Feeds(inputs_[index], type))
                            source = index;
                    }
                }
            }
        } else {
            for (size_t j = 0; j < inputs_.size() && source < 0; ++j) {
                if (inputs_[j].Discard && Feeds(inputs_[j], type))
                    source = static_cast<int>(j);
            }
            // One input stream may feed several outputs: the last of the kind.
            for (size_t k = inputs_.size(); k-- > 0 && source < 0;) {
                if (Feeds(inputs_[k], type))
                    source = static_cast<int>(k);
            }
        }
        if (source < 0) {
            av().av_dump_format(output, ost.FileIndex, output->url, 1);
            throw FFMpegException(
                FormatText("Could not find input stream matching output stream #%d.%d",
                           ost.FileIndex, ost.StreamIndex));
        }
        ost.SourceIndex = source;
        inputs_[source].Discard = false;
        ost.SyncInput = !maps.empty()
                            ? &inputs_[files_[maps[n].SyncFile].FirstStream + maps[n].SyncStream]
                            : &inputs_[source];
    }
}

void Transcoder::SetCopyParameters(TOutputStreamState& ost, TInputStreamState& ist) {
    ost.Stage.emplace<StreamCopyStage>(context_, ost);
    AVCodecContext* enc = ost.Setup->encoder.get();
    const AVStream* source = ist.Stream;
    const AVOutputFormat* format = OutputFiles()[ost.FileIndex].context->oformat;
    const unsigned user_tag = enc->codec_tag;
    const AVMediaType type = enc->codec_type;
    if (type == AVMEDIA_TYPE_VIDEO) {
        if (control_.CallsHook(THookCall::CustomHook))
            throw FFMpegException(
                "-vcodec copy and CustomHook are incompatible (frames are not decoded)");
        if (!control_.VideoHooks().empty())
            throw FFMpegException(
                "-vcodec copy and -vhook are incompatible (frames are not decoded)");
    } else if (type == AVMEDIA_TYPE_AUDIO) {
        if (Options().audio_volume != 256)
            throw FFMpegException(
                "-acodec copy and -vol are incompatible (frames are not decoded)");
    } else if (type != AVMEDIA_TYPE_SUBTITLE) {
        throw FFMpegException("invalid codec_type of output stream");
    }

    // Codec, tag, bit rate, extradata and the type's own parameters, all from the source.
    if (av().avcodec_parameters_to_context(enc, source->codecpar) < 0)
        throw FFMpegException("av_mallocz fail");
    enc->codec_tag = user_tag;
    if (user_tag == 0)
        enc->codec_tag = CopiedCodecTag(*format, *source->codecpar);
    // Asked before anything is written: a container's tables say yes to codecs its header
    // refuses, and some take a stream no player of theirs decodes.
    if (user_tag == 0 && !ContainerTakes(*format, *source->codecpar))
        throw FFMpegException(
            FormatText("%s cannot hold input stream #%d.%d (%s) as it is; convert it instead",
                       format->long_name, ist.FileIndex, ist.StreamIndex,
                       av().avcodec_get_name(source->codecpar->codec_id)));
    // A very fine stream time base (as MP4's) is replaced by the codec's own where coarser,
    // so containers that count frames (AVI) do not fill the gaps with empty frames.
    AVRational codec_base{0, 1};
    if (type == AVMEDIA_TYPE_VIDEO) {
        const AVRational rate = av().av_guess_frame_rate(InputFiles()[ist.FileIndex].context.get(),
                                                         ist.Stream, nullptr);
        if (rate.num > 0 && rate.den > 0)
            codec_base = Inverse(rate);
    } else if (type == AVMEDIA_TYPE_AUDIO && enc->sample_rate > 0) {
        codec_base = AVRational{1, enc->sample_rate};
    }
    enc->time_base =
        ToSeconds(codec_base) > ToSeconds(source->time_base) && ToSeconds(source->time_base) < 0.001
            ? codec_base
            : source->time_base;
    if (type == AVMEDIA_TYPE_AUDIO) {
        if ((enc->block_align == 1 && enc->codec_id == AV_CODEC_ID_MP3) ||
            enc->codec_id == AV_CODEC_ID_AC3)
            enc->block_align = 0;
    }
}

void Transcoder::SetEncodeParameters(TOutputStreamState& ost, TInputStreamState& ist) {
    const AVCodecContext& dec = *ist.Decoder->get();
    switch (ost.Setup->encoder->codec_type) {
    case AVMEDIA_TYPE_AUDIO:
        ost.Stage.emplace<AudioEncodeStage>(context_, ost).Setup(dec);
        break;
    case AVMEDIA_TYPE_VIDEO:
        ost.Stage.emplace<VideoEncodeStage>(context_, ost).Setup(dec, ist.Turn);
        break;
    case AVMEDIA_TYPE_SUBTITLE:
        ost.Stage.emplace<SubtitleEncodeStage>(context_, ost).Setup(ist, dec);
        break;
    default:
        throw FFMpegException("invalid codec_type of output stream");
    }
    ost.EncodingNeeded = true;
    ist.DecodingNeeded = true;
}

void Transcoder::SetStreamParameters() {
    for (size_t n = 0; n < outputs_.size(); ++n) {
        TOutputStreamState& ost = outputs_[n];
        TInputStreamState& ist = inputs_[ost.SourceIndex];
        AVStream* out = ost.Stream;
        if (av().av_dict_get(out->metadata, "language", nullptr, 0) == nullptr) {
            if (const AVDictionaryEntry* language =
                    av().av_dict_get(ist.Stream->metadata, "language", nullptr, 0))
                av().av_dict_set(&out->metadata, "language", language->value, 0);
        }
        out->disposition = ist.Stream->disposition;
        if (ost.Setup->stream_copy || ist.Turn == 0)
            KeepDisplayMatrix(*ist.Stream, *out);
        if (ost.Setup->stream_copy)
            SetCopyParameters(ost, ist);
        else
            SetEncodeParameters(ost, ist);
        if (VideoEncodeStage* video = ost.Video()) {
            video->OpenPassLog(static_cast<int>(n));
        } else if (ost.EncodingNeeded) {
            // A pass reaches another encoder only through the codecs' generic "flags": its
            // file is made or read as for video, but it has no statistics to write.
            OpenPassLogFile(*ost.Setup->encoder, Options().pass_logfilename_prefix,
                            static_cast<int>(n));
        }
        // The description of the output shows the final parameters.
        if (av().avcodec_parameters_from_context(out->codecpar, ost.Setup->encoder.get()) < 0)
            throw FFMpegException("av_mallocz fail");
    }
}

void Transcoder::ReportMapping() {
    if (control_.Verbosity() < kErrorLevel || !control_.Logging())
        return;
    control_.Log(kInfoLevel, "Stream mapping:");
    for (const TOutputStreamState& ost : outputs_) {
        const TInputStreamState& source = inputs_[ost.SourceIndex];
        control_.Log(kInfoLevel, FormatText("  Stream #%d.%d -> #%d.%d", source.FileIndex,
                                            source.StreamIndex, ost.FileIndex, ost.StreamIndex));
        if (ost.SyncInput != &source)
            control_.Log(kInfoLevel, FormatText(" [sync #%d.%d]", ost.SyncInput->FileIndex,
                                                ost.SyncInput->StreamIndex));
    }
}

void Transcoder::OpenEncoders() {
    for (TOutputStreamState& ost : outputs_) {
        AVCodecContext* enc = ost.Setup->encoder.get();
        if (ost.EncodingNeeded) {
            const AVCodec* codec = ost.Setup->codec != nullptr
                                       ? ost.Setup->codec
                                       : av().avcodec_find_encoder(enc->codec_id);
            if (codec == nullptr && enc->codec_id == AV_CODEC_ID_AMR_NB &&
                enc->codec_type == AVMEDIA_TYPE_AUDIO) {
                std::get<AudioEncodeStage>(ost.Stage).OpenAmrNb();
                continue;
            }
            if (codec == nullptr)
                throw FFMpegException(FormatText("Unsupported codec for output stream #%d.%d",
                                                 ost.FileIndex, ost.StreamIndex));
            if (enc->codec_type == AVMEDIA_TYPE_VIDEO)
                enc->framerate = Inverse(enc->time_base);
            if (enc->codec_type == AVMEDIA_TYPE_AUDIO && enc->sample_fmt == AV_SAMPLE_FMT_NONE &&
                codec->sample_fmts != nullptr) {
                // Interleaved 16-bit when the encoder takes it: that is what the engine holds.
                enc->sample_fmt = codec->sample_fmts[0];
                for (const AVSampleFormat* f = codec->sample_fmts; *f != AV_SAMPLE_FMT_NONE; ++f) {
                    if (*f == AV_SAMPLE_FMT_S16)
                        enc->sample_fmt = *f;
                }
            }
            DictionaryPtr options = settings_.PrivateOptionsFor(codec);
            int opened = 0;
            {
                std::lock_guard lock(CodecLock());
                opened = av().avcodec_open2(enc, codec, DictionarySlot(options).get());
                ost.EncoderOpen = opened >= 0;
            }
            if (opened < 0)
                throw FFMpegException(
                    FormatText("Error while opening codec for output stream #%d.%d - maybe "
                               "incorrect parameters such as bit_rate, rate, width or height",
                               ost.FileIndex, ost.StreamIndex));
            counters_.HeaderBytes += enc->extradata_size;
        }
        // The opened encoder may have added extradata and settled its parameters.
        if (av().avcodec_parameters_from_context(ost.Stream->codecpar, enc) < 0)
            throw FFMpegException("av_mallocz fail");
        ost.Stream->time_base = enc->time_base;
        // Matroska and WebM state the display size from the stream's pixel shape, not the
        // codec's, and a picture's default length from the stream's rate: without it, no
        // copied picture of theirs has one.
        if (enc->codec_type == AVMEDIA_TYPE_VIDEO) {
            ost.Stream->sample_aspect_ratio = ost.Stream->codecpar->sample_aspect_ratio;
            const TInputStreamState& ist = inputs_[ost.SourceIndex];
            const AVRational rate =
                ost.Setup->stream_copy
                    ? av().av_guess_frame_rate(InputFiles()[ist.FileIndex].context.get(),
                                               ist.Stream, nullptr)
                    : enc->framerate;
            if (rate.num > 0 && rate.den > 0)
                ost.Stream->avg_frame_rate = rate;
        }
    }
}

void Transcoder::TurnPictures() {
    for (TInputStreamState& ist : inputs_) {
        const int turn = DisplayTurn(*ist.Stream);
        for (const TOutputStreamState& ost : outputs_) {
            if (turn != 0 && &inputs_[ost.SourceIndex] == &ist && !ost.Setup->stream_copy &&
                ost.Setup->encoder->codec_type == AVMEDIA_TYPE_VIDEO &&
                !StatesTurn(*OutputFiles()[ost.FileIndex].context))
                ist.Turn = turn;
        }
    }
    // Every encoder of a turned source takes turned pictures: a quarter turn swaps the sides
    // and the pixel shape.
    for (TOutputStreamState& ost : outputs_) {
        AVCodecContext* enc = ost.Setup->encoder.get();
        const int turn = inputs_[ost.SourceIndex].Turn;
        if (ost.Setup->stream_copy || enc->codec_type != AVMEDIA_TYPE_VIDEO || turn % 180 == 0)
            continue;
        std::swap(enc->width, enc->height);
        if (enc->sample_aspect_ratio.num > 0 && enc->sample_aspect_ratio.den > 0)
            enc->sample_aspect_ratio = av_inv_q(enc->sample_aspect_ratio);
    }
}

void Transcoder::PlaceSoundFromZero() {
    for (size_t file = 0; file < OutputFiles().size(); ++file) {
        if (!PlaysSoundFromZero(*OutputFiles()[file].context))
            continue;
        auto of_file = [&](const TOutputStreamState& ost, AVMediaType type) {
            return ost.FileIndex == static_cast<int32_t>(file) &&
                   ost.Setup->encoder->codec_type == type;
        };
        const TOutputStreamState* pictures = nullptr;
        double priming = 0;
        bool copied_sound = false;
        for (const TOutputStreamState& ost : outputs_) {
            const AVCodecContext* enc = ost.Setup->encoder.get();
            if (pictures == nullptr && of_file(ost, AVMEDIA_TYPE_VIDEO))
                pictures = &ost;
            copied_sound |= of_file(ost, AVMEDIA_TYPE_AUDIO) && !ost.EncodingNeeded;
            if (of_file(ost, AVMEDIA_TYPE_AUDIO) && ost.EncodingNeeded && enc->sample_rate > 0)
                priming = std::max(priming, double(enc->initial_padding) / enc->sample_rate);
        }
        // Sound alone starts where it starts; the file's zero is its own.
        if (pictures == nullptr)
            continue;
        const TInputStreamState& source = inputs_[pictures->SourceIndex];
        // The demuxer's first picture time; the first picture covers the frames before it.
        const int64_t first = source.Stream->start_time;
        double start = first == AV_NOPTS_VALUE
                           ? 0.0
                           : Seconds(ToMicroseconds(first, source.Stream->time_base) +
                                     files_[source.FileIndex].TsOffset - Options().start_time);
        const bool copied = !pictures->EncodingNeeded;
        if (copied) {
            // Copied pictures are counted from their first decoded one, which a decoder that
            // reorders shows that many pictures late; the priming cannot move them, so the
            // sound's silence is that much shorter.
            const AVCodecParameters* par = source.Stream->codecpar;
            const AVRational rate = av().av_guess_frame_rate(
                InputFiles()[source.FileIndex].context.get(), source.Stream, nullptr);
            if (par->video_delay > 0 && rate.num > 0 && rate.den > 0) {
                const double delay = par->video_delay * av_q2d(av_inv_q(rate));
                start -= delay;
                if (copied_sound)
                    control_.Log(kInfoLevel,
                                 FormatText("Copied sound plays %d ms before the pictures it "
                                            "belongs to: the pictures are copied with a reordering "
                                            "delay the container cannot state",
                                            static_cast<int>(std::lround(delay * 1000))));
            }
            start += priming;
        } else {
            start = std::max(start, 0.0);
        }
        for (TOutputStreamState& ost : outputs_) {
            const bool sound = of_file(ost, AVMEDIA_TYPE_AUDIO) && ost.EncodingNeeded;
            if (!copied && (sound || of_file(ost, AVMEDIA_TYPE_VIDEO)) && ost.EncodingNeeded)
                ost.PrimingShift = priming;
            if (sound)
                ost.PicturesStart = start;
        }
    }
}

void Transcoder::OpenDecoders() {
    for (TInputStreamState& ist : inputs_) {
        if (!ist.DecodingNeeded)
            continue;
        AVCodecContext* dec = ist.Decoder->get();
        const AVCodec* codec = av().avcodec_find_decoder(dec->codec_id);
        if (codec == nullptr)
            throw FFMpegException(FormatText("Unsupported codec (id=%d) for input stream #%d.%d",
                                             static_cast<int>(dec->codec_id), ist.FileIndex,
                                             ist.StreamIndex));
        dec->pkt_timebase = ist.Stream->time_base;
        std::lock_guard lock(CodecLock());
        if (av().avcodec_open2(dec, codec, nullptr) < 0)
            throw FFMpegException(FormatText("Error while opening codec for input stream #%d.%d",
                                             ist.FileIndex, ist.StreamIndex));
        ist.DecoderOpen = true;
        // This library generation's AMR decoders take only the first frame of a packet that
        // holds several (as 3GP files store them); their parser cuts such packets apart.
        if (dec->codec_id == AV_CODEC_ID_AMR_NB || dec->codec_id == AV_CODEC_ID_AMR_WB)
            ist.Parser.reset(av().av_parser_init(dec->codec_id));
    }
}

void Transcoder::CopyMetadata() {
    const int output_count = static_cast<int>(OutputFiles().size());
    const int input_count = static_cast<int>(InputFiles().size());
    for (const TMetaDataMap& map : Options().meta_data_maps) {
        if (map.OutFile < 0 || map.OutFile >= output_count)
            throw FFMpegException(FormatText("Invalid output file index %d map_meta_data(%d,%d)",
                                             map.OutFile, map.OutFile, map.InFile));
        if (map.InFile < 0 || map.InFile >= input_count)
            throw FFMpegException(FormatText("Invalid input file index %d map_meta_data(%d,%d)",
                                             map.InFile, map.OutFile, map.InFile));
        const AVDictionary* from = InputFiles()[map.InFile].context->metadata;
        AVFormatContext* to = OutputFiles()[map.OutFile].context.get();
        for (const char* key : {"title", "artist", "author", "copyright", "comment", "album",
                                "date", "track", "genre"}) {
            if (const AVDictionaryEntry* entry = av().av_dict_get(from, key, nullptr, 0))
                av().av_dict_set(&to->metadata, key, entry->value, 0);
        }
    }
}

void Transcoder::WriteHeaders() {
    bool all_rtp = true;
    std::vector<OutputFile>& files = OutputFiles();
    for (size_t i = 0; i < files.size(); ++i) {
        DictionaryPtr options = CopyDictionary(files[i].muxer_options.get());
        const int written =
            av().avformat_write_header(files[i].context.get(), DictionarySlot(options).get());
        if (written < 0)
            throw FFMpegException(FormatText(
                "Could not write header for output file #%d (incorrect codec parameters ?)",
                static_cast<int>(i)));
        std::error_code error;
        const char* url = files[i].context->url;
        files[i].regular_file = url != nullptr && std::filesystem::is_regular_file(url, error);
        all_rtp = all_rtp && std::strcmp(files[i].context->oformat->name, "rtp") == 0;
    }
    if (all_rtp && !files.empty() && control_.Logging()) {
        std::vector<AVFormatContext*> contexts;
        for (OutputFile& file : files)
            contexts.push_back(file.context.get());
        char sdp[2048] = {};
        av().av_sdp_create(contexts.data(), static_cast<int>(contexts.size()), sdp, sizeof sdp);
        control_.Log(kInfoLevel, "SDP: " + Trimmed(sdp));
    }
}

bool Transcoder::Run() {
    BuildInputTables();
    CheckOutputs();
    CheckMaps();
    BuildOutputTables();
    ChooseSources();
    TurnPictures();
    SetStreamParameters();
    for (size_t i = 0; i < OutputFiles().size(); ++i) {
        AVFormatContext* output = OutputFiles()[i].context.get();
        av().av_dump_format(output, static_cast<int>(i), output->url, 1);
    }
    ReportMapping();
    OpenEncoders();
    PlaceSoundFromZero();
    OpenDecoders();
    for (TInputStreamState& ist : inputs_) {
        ist.Pts = 0;
        ist.NextPts = AV_NOPTS_VALUE;
        ist.IsStart = true;
    }
    CopyMetadata();
    WriteHeaders();
    counters_.TimerStart = av().av_gettime();
    progress_.Start(counters_.TimerStart);

    read_packet_ = allocPacket();
    context_.OutPacket = allocPacket();
    parsed_packet_ = allocPacket();
    decoded_ = allocFrame();
    deinterlaced_ = allocFrame();
    return MainLoop();
}

RunOutcome RunFilesOf(const RunSettings& settings, RunControl& control, RunFiles files) {
    RunOutcome outcome;
    Transcoder transcoder(settings, control, files);
    try {
        outcome.completed = transcoder.Run();
    } catch (const std::exception& error) {
        control.Log(kQuietLevel, error.what());
        outcome = {false, true, error.what()};
    }
    transcoder.CloseCodecs();
    transcoder.CloseStatistics();
    ReleaseFiles(files, outcome.failed);
    return outcome;
}

} // namespace clipwright
