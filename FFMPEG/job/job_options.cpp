#include "FFMPEG/job/job_options.h"

#include <algorithm>
#include <cmath>
#include <ctime>

#include "FFMPEG/binding/av_error.h"
#include "FFMPEG/job/target_presets.h"
#include "FFMPEG/job/value_parse.h"

namespace clipwright {

void InitInputOptions(TInputOptions& options) {
    options = TInputOptions{};
}
void InitOutputOptions(TOutputOptions& options) {
    options = TOutputOptions{};
}

void ApplyExtraOptions(TCustomFFmpeg& job, const std::string& raw) {
    std::string text = Trimmed(raw);
    std::string normalised;
    normalised.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            normalised += '\n';
            if (i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
        } else {
            normalised += text[i];
        }
    }
    size_t start = 0;
    while (start < normalised.size()) {
        size_t end = normalised.find('\n', start);
        if (end == std::string::npos)
            end = normalised.size();
        const std::string line = normalised.substr(start, end - start);
        const size_t equals = line.find('=');
        if (equals == std::string::npos)
            job.Dispatch(line, "");
        else
            job.Dispatch(line.substr(0, equals), line.substr(equals + 1));
        start = end + 1;
    }
}

void ApplyInputOptions(TCustomFFmpeg& job, const TInputOptions& options) {
    ApplyExtraOptions(job, options.ExtraOptions);
    job.SetInputFormat(options.FileFormat);
    const int64_t start_us = static_cast<int64_t>(options.StartTime) * 1000;
    if (start_us > 0)
        job.Options().start_time = start_us;
    if (options.ProgramID >= 0)
        job.Options().opt_programid = options.ProgramID;
}

namespace {

// A metadata text up to its first zero character.
std::string UpToZero(const std::string& text) {
    return text.substr(0, text.find('\0'));
}

void OptIfPositive(TCustomFFmpeg& job, const char* name, int32_t value) {
    if (value > 0)
        job.Generic().SetGenericOption(name, value);
}

} // namespace

namespace {

// The extra option lines, the format and the muxer settings.
void ApplyMuxOptions(TCustomFFmpeg& job, const TOutputOptions& o) {
    OptionState& state = job.Options();
    ApplyExtraOptions(job, o.ExtraOptions);
    job.SetOutputFormat(o.FileFormat);
    OptIfPositive(job, "packetsize", o.PacketSize);
    OptIfPositive(job, "muxrate", o.MuxRate);
    if (o.MuxDelay > 0)
        state.mux_max_delay = o.MuxDelay;
    if (o.MuxPreload > 0)
        state.mux_preload = o.MuxPreload;
}

// The audio stream settings.
void ApplyAudioOptions(TCustomFFmpeg& job, const TOutputOptions& o) {
    OptionState& state = job.Options();
    if (!o.AudioCodec.empty())
        job.Dispatch("acodec", o.AudioCodec);
    if (o.DisableAudio)
        state.audio_disable = 1;
    if (o.AudioVolume >= 0)
        state.audio_volume = o.AudioVolume;
    if (o.AudioChannels > 0)
        state.audio_channels = o.AudioChannels;
    if (o.AudioSampleRate > 0)
        state.audio_sample_rate = o.AudioSampleRate;
    OptIfPositive(job, "ab", o.AudioBitrate);
    OptIfPositive(job, "abt", o.AudioBitrateTolerance);
    state.audio_language = o.AudioLanguage;
    state.audio_sync_method = o.AudioSyncMethod;
    if (!o.AudioTag.empty())
        job.Dispatch("atag", o.AudioTag);
}

// The video stream settings: codec, rate, size and aspect, crop and pad, rate control.
void ApplyVideoOptions(TCustomFFmpeg& job, const TOutputOptions& o) {
    OptionState& state = job.Options();
    if (!o.VideoCodec.empty())
        job.Dispatch("vcodec", o.VideoCodec);
    if (o.DisableVideo)
        state.video_disable = 1;
    if (!o.FrameRate.empty())
        job.Dispatch("r", o.FrameRate);
    if (!o.FrameSize.empty())
        job.Dispatch("s", o.FrameSize);
    if (!o.AspectRatio.empty())
        job.Dispatch("aspect", o.AspectRatio);

    const std::pair<const char*, int32_t> crops[] = {{"croptop", o.CropTop},
                                                     {"cropbottom", o.CropBottom},
                                                     {"cropleft", o.CropLeft},
                                                     {"cropright", o.CropRight}};
    for (const auto& [name, value] : crops) {
        if (value >= 0)
            job.Dispatch(name, std::to_string(value));
    }
    const std::pair<const char*, int32_t> pads[] = {{"padtop", o.PadTop},
                                                    {"padbottom", o.PadBottom},
                                                    {"padleft", o.PadLeft},
                                                    {"padright", o.PadRight}};
    for (const auto& [name, value] : pads) {
        if (value >= 0)
            job.Dispatch(name, std::to_string(value));
    }
    job.Dispatch("padcolor", std::to_string(static_cast<int32_t>(ResolveColor(o.PadColor))));

    OptIfPositive(job, "gop", o.GOPSize);
    OptIfPositive(job, "vb", o.VideoBitrate);
    OptIfPositive(job, "maxrate", o.MaxRate);
    OptIfPositive(job, "minrate", o.MinRate);
    OptIfPositive(job, "bt", o.VideoBitrateTolerance);
    OptIfPositive(job, "bufsize", o.BufferSize);

    state.video_sync_method = o.VideoSyncMethod;
    if (!o.VideoTag.empty())
        job.Dispatch("vtag", o.VideoTag);
}

// Subtitles, timestamps and the recording's length, date and metadata.
void ApplyRecordingOptions(TCustomFFmpeg& job, const TOutputOptions& o) {
    OptionState& state = job.Options();
    if (o.DisableSubtitle)
        state.subtitle_disable = 1;
    state.subtitle_language = o.SubtitleLanguage;
    state.copy_ts = o.CopyTimestamps ? 1 : 0;

    if (o.Duration > 0) {
        state.recording_time = static_cast<int64_t>(o.Duration) * 1000;
        job.TotalDurationMs = o.Duration;
    }
    if (o.Timestamp >= 0.0) {
        double days = o.Timestamp;
        if (days == 0.0) {
            const std::time_t now = std::time(nullptr);
            std::tm local{};
            localtime_r(&now, &local);
            days = 25569.0 + static_cast<double>(now + local.tm_gmtoff) / 86400.0;
        }
        state.recording_timestamp = TimestampToUnixSeconds(days, StandardBiasMinutes());
    }
    if (o.Year > 0)
        state.year = o.Year;
    if (o.Track > 0)
        state.track = o.Track;

    const std::pair<const char*, const std::string*> metadata[] = {
        {"title", &o.Title},     {"author", &o.Author}, {"copyright", &o.Copyright},
        {"comment", &o.Comment}, {"album", &o.Album},   {"genre", &o.Genre}};
    for (const auto& [name, text] : metadata) {
        const std::string value = UpToZero(*text);
        if (!value.empty())
            job.Dispatch(name, value);
    }
}

// A target preset and the hook ranges, last: they see every setting above.
void ApplyTargetAndHooks(TCustomFFmpeg& job, const TOutputOptions& o) {
    if (o.TargetType >= 1 && o.TargetType <= 3) {
        const char* targets[] = {"vcd", "svcd", "dvd"};
        const char* norm = o.TVStandard == 1 ? "pal" : o.TVStandard == 2 ? "ntsc" : "auto";
        OptionContext context(job);
        ApplyTarget(context, targets[o.TargetType - 1], norm,
                    o.DefaultTVStandard == 1 ? "pal" : "ntsc");
    }

    // The custom and before hooks are wired by the engine component; ranges apply otherwise.
    if (!o.CustomHookEnabled && !o.BeforeHookEnabled) {
        job.HookRanges = ParseHookRanges(o.HookRanges);
    }
}

} // namespace

void ApplyOutputOptions(TCustomFFmpeg& job, const TOutputOptions& o) {
    ApplyMuxOptions(job, o);
    ApplyAudioOptions(job, o);
    ApplyVideoOptions(job, o);
    ApplyRecordingOptions(job, o);
    ApplyTargetAndHooks(job, o);
}

bool BuildInput(TFFmpeg& job, const std::string& file_name, TInputOptions* options) {
    if (options != nullptr) {
        if (options->FileName.empty())
            options->FileName = file_name;
        job.InputOptions = *options;
        ApplyInputOptions(job, job.InputOptions);
    }
    return job.OpenInputFile(file_name);
}

bool BuildOutput(TFFmpeg& job, const std::string& file_name, TOutputOptions* options,
                 const std::function<void(TFFmpeg&)>& applied) {
    if (options != nullptr) {
        if (options->FileName.empty())
            options->FileName = file_name;
        job.OutputOptions = *options;
        ApplyOutputOptions(job, job.OutputOptions);
        if (applied)
            applied(job);
    }
    return job.OpenOutputFile(file_name);
}

std::vector<std::pair<int64_t, int64_t>> ParseHookRanges(const std::string& raw) {
    std::vector<std::pair<int64_t, int64_t>> ranges;
    const std::string text = Trimmed(raw);
    auto number = [](const std::string& part) -> int64_t {
        try {
            return ParseInteger64(Trimmed(part)) * 1000;
        } catch (const FFMpegException&) {
            return -1000;
        }
    };
    size_t start = 0;
    for (;;) {
        const size_t comma = text.find(',', start);
        const std::string item = Trimmed(
            text.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        const size_t dash = item.find('-');
        const int64_t begin = number(item.substr(0, dash));
        const int64_t end = dash == std::string::npos ? -1000 : number(item.substr(dash + 1));
        if (begin <= end && end >= 0)
            ranges.emplace_back(begin, end);
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    std::stable_sort(ranges.begin(), ranges.end(),
                     [](const auto& a, const auto& b) { return a.second < b.second; });
    return ranges;
}

int64_t TimestampToUnixSeconds(double days, int bias_minutes) {
    const double local_offset_days = -static_cast<double>(bias_minutes) / 1440.0;
    return static_cast<int64_t>(std::llround((days - 25569.0 - local_offset_days) * 86400.0));
}

int StandardBiasMinutes() {
    tzset();
    return static_cast<int>(timezone / 60);
}

uint32_t ResolveColor(uint32_t color) {
    if ((color >> 24) != 0x80)
        return color & 0xFFFFFF;
    // The classic default scheme, by system colour index; 0x00BBGGRR.
    static const uint32_t kSystemColors[] = {
        0xC8D0D4, 0xA56E3A, 0x6A240A, 0x808080, 0xC8D0D4, 0xFFFFFF, 0x000000, 0x000000,
        0x000000, 0xFFFFFF, 0xC8D0D4, 0xC8D0D4, 0x808080, 0x6A240A, 0xFFFFFF, 0xC8D0D4,
        0x808080, 0x808080, 0x000000, 0xC8D0D4, 0xFFFFFF, 0x404040, 0xC8D0D4, 0x000000,
        0xE1FFFF, 0xB5B5B5, 0x800000, 0xF0CAA6, 0xC0C0C0, 0xC56A31, 0xD8E9EC};
    const uint32_t index = color & 0xFF;
    return index < std::size(kSystemColors) ? kSystemColors[index] : 0;
}

} // namespace clipwright
