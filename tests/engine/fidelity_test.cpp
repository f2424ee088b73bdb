// Fidelity: every real file and every generated source through the profiles and a few raw
// option sets, each output held against its source as one content reader decodes both: the
// length of each stream, the start of the video against the audio (by timestamps and by the
// sync markers' content), every picture and sample, the last sound, subtitles, the mixing of
// channel layouts, a clean decode, and the track lengths mediainfo states.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "FFMPEG/component/engine.h"
#include "app/profiles/builders.h"
#include "app/profiles/catalogue.h"
#include "app/profiles/conversion_plan.h"
#include "app/profiles/list_texts.h"
#include "tests/engine/job_runner.h"
#include "tests/engine/profile_promises.h"
#include "tests/support/content_reader/content_reader.h"
#include "tests/support/media_gen/fidelity_media.h"
#include "tests/support/media_gen/media_gen.h"

namespace clipwright {
namespace {

namespace fs = std::filesystem;
using testing::AudioContent;
using testing::Content;
using testing::VideoContent;

// Sources longer than this go through for their first kLimit seconds only (the engine's "t"),
// and are compared with their own first kLimit seconds: the suite stays quick.
constexpr double kLongSource = 6.0;
constexpr double kLimit = 4.0;
constexpr double kShortLimit = 2.0;
// Timestamps stored in milliseconds (FLV, ASF, Matroska) round each time by up to 1 ms.
constexpr double kRounding = 0.0015;

// An output kind: a profile (with the list selections that differ from its defaults) or raw
// engine options with the output's extension.
struct Target {
    const char* name;
    const char* profile = "";
    const char* video_codec = ""; // profile's video-codec list entry; empty: its default
    const char* audio_codec = "";
    const char* options = ""; // raw engine options
    const char* extension = "";
    bool subtitles = false; // the output carries the source's subtitles (mapped explicitly)
};

const Target kTargets[] = {
    {.name = "mp4_h264", .profile = "iPhone (*.mp4)", .video_codec = "H264"},
    {.name = "avi_mp3", .profile = "AVI - Audio Video Interleave (*.avi)", .audio_codec = "mp3"},
    {.name = "avi_divx", .profile = "AVI - DivX Video (*.avi)"},
    {.name = "3gp_amr", .profile = "3GP - Mobile Video Format (*.3gp)"},
    {.name = "wmv", .profile = "WMV - Windows Media Video (*.wmv)"},
    {.name = "mov", .profile = "MOV - QuickTime Video (*.mov)"},
    {.name = "mpeg1", .profile = "MPEG-1 Movie (*.mpg)"},
    {.name = "mpeg2", .profile = "MPEG-2 Movie (*.mpg)"},
    {.name = "mp3", .profile = "MP3 - Mpeg Layer3 Audio (*.mp3)"},
    {.name = "wma", .profile = "WMA - Windows Media Audio (*.wma)"},
    {.name = "m4a", .profile = "M4A - Mpeg4 Audio File (*.m4a)"},
    {.name = "wav", .profile = "WAV - Waveform Audio (*.wav)"},
    {.name = "copy_mkv", .options = "vcodec=copy\nacodec=copy", .extension = "mkv"},
    {.name = "copy_mp4", .options = "vcodec=copy\nacodec=copy", .extension = "mp4"},
    {.name = "copy_video_avi", .options = "vcodec=copy\nacodec=libmp3lame", .extension = "avi"},
    {.name = "encode_mkv", .options = "vcodec=mpeg4\nacodec=libmp3lame", .extension = "mkv"},
    {.name = "encode_mpeg1",
     .options = "vcodec=mpeg1video\nacodec=mp2\nb=1000000",
     .extension = "mpg"},
    {.name = "ac3_mka", .options = "acodec=ac3", .extension = "mka"},
    {.name = "sub_copy_mkv",
     .options = "vcodec=copy\nacodec=copy\nscodec=copy",
     .extension = "mkv",
     .subtitles = true},
    {.name = "sub_ass_mkv",
     .options = "vcodec=mpeg4\nacodec=libmp3lame\nscodec=ass",
     .extension = "mkv",
     .subtitles = true},
    {.name = "bb_avi", .profile = "BlackBerry AVI Video (*.avi)"},
    {.name = "bb_3gp", .profile = "BlackBerry 3GP Video (*.3gp)"},
    // Today's profiles, each also held to what it promises (profile_promises).
    {.name = "t_h264", .profile = "MP4 - H.264 + AAC, plays everywhere (*.mp4)"},
    {.name = "t_hevc", .profile = "MP4 - H.265/HEVC + AAC (*.mp4)"},
    {.name = "t_vp9", .profile = "WebM - VP9 + Opus (*.webm)"},
    {.name = "t_av1", .profile = "WebM - AV1 + Opus (*.webm)"},
    {.name = "t_mkv", .profile = "MKV - Keep every stream, no re-encoding (*.mkv)"},
    {.name = "t_mp4", .profile = "MP4 - Keep streams, no re-encoding (*.mp4)"},
    {.name = "t_flac", .profile = "FLAC - Lossless Audio (*.flac)"},
    {.name = "t_opus", .profile = "Opus Audio (*.opus)"},
    {.name = "t_vorbis", .profile = "OGG Vorbis Audio (*.ogg)"},
};

const Target& FindTarget(const std::string& name) {
    for (const Target& target : kTargets) {
        if (name == target.name)
            return target;
    }
    throw std::invalid_argument("no target " + name);
}

// Every source with the targets that apply to it: video sources through the video profiles,
// the audio profiles and the raw sets their codecs allow; audio sources through the audio
// profiles and one video profile (the output must stay audio only).
struct Row {
    const char* source; // a file in tests/media, or a generated source's name
    std::vector<const char*> targets;
};

#define VIDEO_PROFILES "mp4_h264", "avi_mp3", "3gp_amr", "wmv", "mov", "mpeg1"
#define AUDIO_PROFILES "mp3", "wma", "m4a", "wav"
#define TODAY_VIDEO "t_h264", "t_hevc", "t_vp9", "t_av1"
#define TODAY_AUDIO "t_flac", "t_opus", "t_vorbis"

const Row kRows[] = {
    // The real files.
    {"3g2_mpeg4_aac_176x144.3g2", {VIDEO_PROFILES, "mp3", "copy_mkv", "copy_mp4"}},
    {"3gp_h263_amrnb_176x144_phone.3gp", {VIDEO_PROFILES, AUDIO_PROFILES, "encode_mkv"}},
    {"3gp_h263_amrnb_352x288.3gp", {"mp4_h264", "avi_divx", "3gp_amr", "wma", "copy_mkv"}},
    {"ac3_44k_stereo_192k_silence.ac3", {AUDIO_PROFILES, "mp4_h264"}},
    {"amr_nb_8k_mono_b.amr", {AUDIO_PROFILES, "3gp_amr"}},
    {"asf_wmv2_wmav2_560x320.asf", {"mp4_h264", "avi_mp3", "wmv", "mpeg1", "wma", "copy_mkv"}},
    {"avi_divx5_mp3_512x384.avi", {VIDEO_PROFILES, "mp3", "copy_mkv"}},
    {"avi_xvid_ac3_720x528.avi", {"mp4_h264", "avi_divx", "wmv", "mpeg2", "m4a", "copy_mkv"}},
    {"dv_ntsc_dvvideo_pcm_720x480_camcorder.dv", {VIDEO_PROFILES, "wav", "copy_mkv"}},
    {"flv_h264_aac_480x270.flv",
     {VIDEO_PROFILES, "mpeg2", AUDIO_PROFILES, "copy_mkv", "copy_mp4", "encode_mkv"}},
    {"flv_sorenson_mp3_320x240.flv", {"mp4_h264", "avi_mp3", "3gp_amr", "wmv", "mp3", "copy_mkv"}},
    {"m4a_aac_lc_44k_stereo.m4a", {AUDIO_PROFILES, "mp4_h264"}},
    {"mkv_h264_2xaac_9xsrt_1024x576.mkv",
     {VIDEO_PROFILES, "m4a", "copy_mkv", "copy_mp4", "encode_mkv", "sub_copy_mkv", "sub_ass_mkv"}},
    {"mov_h264_aac_560x320.mov", {VIDEO_PROFILES, "m4a", "copy_mkv", "copy_mp4"}},
    {"mov_mjpeg_pcmu8_640x480_camera.mov", {"mp4_h264", "avi_mp3", "3gp_amr", "wav", "copy_mkv"}},
    {"mp3_44k_mono_128k.mp3", {AUDIO_PROFILES, "mp4_h264"}},
    {"mp3_44k_stereo_id3v23.mp3", {AUDIO_PROFILES, "avi_divx"}},
    {"mp4_h264_aac_560x320.mp4",
     {VIDEO_PROFILES, "mpeg2", AUDIO_PROFILES, "copy_mkv", "copy_mp4", "encode_mkv"}},
    {"mpg_ps_mpeg1_320x240_tiny.mpg", {"mp4_h264", "avi_mp3", "mpeg1", "copy_mkv"}},
    {"mts_avchd_h264_1080i_ac3.mts", {"mp4_h264", "avi_mp3", "wmv", "mpeg2", "wma", "copy_mkv"}},
    {"mxf_mpeg2_720x576_noaudio.mxf", {"mp4_h264", "avi_mp3", "mpeg2", "copy_mkv"}},
    {"ogv_theora_vorbis_560x320.ogv", {"mp4_h264", "avi_mp3", "wmv", "mov", "mp3", "copy_mkv"}},
    // RealVideo 1.0 has no Matroska mapping in the library: no stream copy into MKV.
    {"rm_rv10_ac3_352x288.rm", {"mp4_h264", "avi_mp3", "3gp_amr", "wma", "encode_mkv"}},
    {"vob_mpeg2_ac3_720x480.vob", {"mp4_h264", "avi_mp3", "mpeg2", "m4a", "copy_mkv"}},
    {"wav_pcm16_48k_mono.wav", {AUDIO_PROFILES, "mpeg1"}},
    {"wma_lossless_44k_stereo_silence.wma", {"mp3", "wav"}},
    {"wma_pro_44k_stereo_silence.wma", {"m4a", "wma"}},
    {"wma_v2_44k_mono.wma", {AUDIO_PROFILES}},
    {"wmv_msmpeg4v3_wmav2_640x360.wmv", {"mp4_h264", "avi_mp3", "wmv", "mpeg1", "wma", "copy_mkv"}},
    // The generated sources.
    {"sync_mp4", {VIDEO_PROFILES, "mpeg2", "copy_mkv", "encode_mkv"}},
    {"late_mp4", {"mp4_h264", "avi_mp3", "avi_divx", "mov", "mpeg1", "copy_mkv", "copy_mp4"}},
    {"late_flv", {"mp4_h264", "avi_divx", "wmv", "copy_mkv", "encode_mkv"}},
    {"late_mkv", {"mp4_h264", "avi_mp3", "3gp_amr", "mpeg2", "copy_mkv"}},
    {"late_ts", {"mp4_h264", "avi_divx", "wmv", "mpeg1", "copy_mkv", "encode_mkv"}},
    {"bframes_mp4", {"mp4_h264", "avi_mp3", "mov", "copy_mkv", "copy_mp4", "copy_video_avi"}},
    {"rate12_mkv", {VIDEO_PROFILES, "encode_mkv", "encode_mpeg1"}},
    {"rate15_mp4", {VIDEO_PROFILES, "copy_mkv", "encode_mpeg1"}},
    {"rate5_avi", {"mp4_h264", "avi_mp3", "mpeg1", "mpeg2", "copy_mkv"}},
    {"odd_rate_avi", {VIDEO_PROFILES, "avi_divx", "copy_mkv"}},
    {"odder_rate_avi", {"mp4_h264", "avi_mp3", "avi_divx", "mov"}},
    // Matroska keeps no picture's own duration in this library: the copy goes to MP4.
    {"held_last_mp4", {"mp4_h264", "avi_mp3", "mov", "mpeg1", "copy_mp4", "encode_mkv"}},
    {"elementary_m1v", {"mp4_h264", "avi_mp3", "copy_mkv"}},
    {"short_vob", {"mp4_h264", "avi_mp3", "mpeg1", "copy_mkv", "copy_mp4"}},
    {"msvideo1_mkv", {"bb_avi", "avi_mp3", "mp4_h264"}},
    {"late_audio_vob", {"bb_avi", "avi_mp3", "bb_3gp", "mp4_h264", "copy_mkv"}},
    {"subrip_mkv", {"mp4_h264", "sub_copy_mkv", "sub_ass_mkv"}},
    {"cover_mp3", {"mp4_h264", "avi_divx", "wmv", AUDIO_PROFILES}},
    {"end_burst_wav", {AUDIO_PROFILES, "mpeg1"}},
    {"quad_wav", {AUDIO_PROFILES, "mp4_h264", "ac3_mka"}},
    {"l21_wav", {AUDIO_PROFILES, "mp4_h264", "ac3_mka"}},
    {"l51side_wav", {AUDIO_PROFILES, "mp4_h264", "ac3_mka"}},
    {"one_picture_dv", {"mp4_h264", "3gp_amr", "avi_mp3", "mpeg1", "copy_mkv", "wmv"}},
    {"samples236_wav", {AUDIO_PROFILES, "mpeg1", "mpeg2"}},
    // Today's profiles on every real file they apply to (MP4 holds none of the streams of the
    // others, H.263 and AMR among them: a remux of those is refused, as the command line's
    // tests show).
    {"3g2_mpeg4_aac_176x144.3g2", {TODAY_VIDEO, TODAY_AUDIO, "t_mkv", "t_mp4"}},
    // Its tables state 28 ms less sound than its packets of several AMR frames decode to, and
    // a copy keeps them: no remux here.
    {"3gp_h263_amrnb_176x144_phone.3gp", {TODAY_VIDEO, TODAY_AUDIO}},
    {"3gp_h263_amrnb_352x288.3gp", {TODAY_VIDEO, TODAY_AUDIO, "t_mkv"}},
    {"ac3_44k_stereo_192k_silence.ac3", {TODAY_AUDIO, "t_mkv", "t_mp4"}},
    {"amr_nb_8k_mono_b.amr", {TODAY_AUDIO, "t_mkv"}},
    {"asf_wmv2_wmav2_560x320.asf", {TODAY_VIDEO, TODAY_AUDIO, "t_mkv"}},
    {"avi_divx5_mp3_512x384.avi", {TODAY_VIDEO, TODAY_AUDIO, "t_mkv", "t_mp4"}},
    {"avi_xvid_ac3_720x528.avi", {TODAY_VIDEO, TODAY_AUDIO, "t_mkv", "t_mp4"}},
    {"dv_ntsc_dvvideo_pcm_720x480_camcorder.dv", {TODAY_VIDEO, TODAY_AUDIO, "t_mkv"}},
    {"flv_h264_aac_480x270.flv", {TODAY_VIDEO, TODAY_AUDIO, "t_mkv", "t_mp4"}},
    {"flv_sorenson_mp3_320x240.flv", {TODAY_VIDEO, TODAY_AUDIO, "t_mkv", "t_mp4"}},
    {"m4a_aac_lc_44k_stereo.m4a", {TODAY_AUDIO, "t_mkv", "t_mp4"}},
    {"mkv_h264_2xaac_9xsrt_1024x576.mkv", {TODAY_VIDEO, TODAY_AUDIO, "t_mkv", "t_mp4"}},
    {"mov_h264_aac_560x320.mov", {TODAY_VIDEO, TODAY_AUDIO, "t_mkv", "t_mp4"}},
    {"mov_mjpeg_pcmu8_640x480_camera.mov", {TODAY_VIDEO, TODAY_AUDIO, "t_mkv", "t_mp4"}},
    {"mp3_44k_mono_128k.mp3", {TODAY_AUDIO, "t_mkv", "t_mp4"}},
    {"mp3_44k_stereo_id3v23.mp3", {TODAY_AUDIO, "t_mkv", "t_mp4"}},
    {"mp4_h264_aac_560x320.mp4", {TODAY_VIDEO, TODAY_AUDIO, "t_mkv", "t_mp4"}},
    {"mpg_ps_mpeg1_320x240_tiny.mpg", {TODAY_VIDEO, "t_mkv", "t_mp4"}},
    {"mts_avchd_h264_1080i_ac3.mts", {TODAY_VIDEO, TODAY_AUDIO, "t_mkv", "t_mp4"}},
    {"mxf_mpeg2_720x576_noaudio.mxf", {TODAY_VIDEO, "t_mkv", "t_mp4"}},
    {"ogv_theora_vorbis_560x320.ogv", {TODAY_VIDEO, TODAY_AUDIO, "t_mkv", "t_mp4"}},
    {"rm_rv10_ac3_352x288.rm", {TODAY_VIDEO, TODAY_AUDIO, "t_mkv", "t_mp4"}},
    {"vob_mpeg2_ac3_720x480.vob", {TODAY_VIDEO, TODAY_AUDIO, "t_mkv", "t_mp4"}},
    {"wav_pcm16_48k_mono.wav", {TODAY_AUDIO, "t_mkv"}},
    // ASF times a WMA Pro or Lossless packet of several frames by its first: a copy keeps
    // those times, and Matroska states half the length. These are re-encoded, not copied.
    {"wma_lossless_44k_stereo_silence.wma", {TODAY_AUDIO}},
    {"wma_pro_44k_stereo_silence.wma", {TODAY_AUDIO}},
    {"wma_v2_44k_mono.wma", {TODAY_AUDIO, "t_mkv"}},
    {"wmv_msmpeg4v3_wmav2_640x360.wmv", {TODAY_VIDEO, TODAY_AUDIO, "t_mkv"}},
    // A portrait video keeps its turn where the container states one, and is turned where
    // it cannot (WebM); a copy keeps it as it is.
    {"rotated_mp4", {"t_h264", "t_hevc", "t_vp9", "t_mkv", "t_mp4"}},
    // Surround kept under "Original" channels (Opus takes 5.1 with its pair at the back).
    {"quad_wav", {TODAY_AUDIO}},
    {"l51side_wav", {TODAY_AUDIO}},
};

#undef VIDEO_PROFILES
#undef AUDIO_PROFILES
#undef TODAY_VIDEO
#undef TODAY_AUDIO

struct Case {
    std::string source; // as named in kRows
    std::string target;
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.source << " through " << c.target;
}

std::vector<Case> Cases() {
    std::vector<Case> cases;
    for (const Row& row : kRows) {
        for (const char* target : row.targets)
            cases.push_back({row.source, target});
    }
    return cases;
}

std::string SourcePath(const std::string& source) {
    if (source.find('.') != std::string::npos)
        return testing::RealMediaPath(source.c_str());
    return testing::FidelitySource(source).path;
}

std::string OutputName(const Case& c, const std::string& extension) {
    return testing::OutputPath("fidelity", c.source + "." + c.target + "." + extension);
}

struct Conversion {
    std::string output;
    bool completed = false;
    std::string message; // why it failed
    bool video_copied = false;
    bool audio_copied = false;
};

// Converts as the command line's convert does: the probe's facts, the plan, AddInputFile and
// SetOutputFile, one job started.
Conversion WithProfile(const std::string& source, const Case& c, const Target& target,
                       double limit) {
    Conversion run;
    ConversionChoices choices;
    choices.profile = target.profile;
    choices.volume_level = VolumeLevel(5);
    if (!FillProfileCombos(choices.lists, choices.profile, choices.output_type)) {
        run.message = std::string("no profile ") + target.profile;
        return run;
    }
    auto select = [](ProfileList& list, const char* text) {
        for (size_t i = 0; text[0] != '\0' && i < list.Items.size(); ++i) {
            if (list.Items[i] == text)
                list.Select(static_cast<int>(i));
        }
    };
    select(choices.lists.ComboVideoCodec, target.video_codec);
    select(choices.lists.ComboAudioCodec, target.audio_codec);

    TFFmpegEngine engine;
    engine.SetLogLevel(llError);
    std::mutex lock;
    std::condition_variable ended_signal;
    bool ended = false;
    engine.OnTerminate = [&](int32_t index, bool finished, bool exception,
                             const std::string& text) {
        std::lock_guard guard(lock);
        if (index < 0) {
            ended = true;
            ended_signal.notify_all();
            return;
        }
        run.completed = finished && !exception;
        run.message = exception ? text : finished ? "" : "stopped";
    };
    SourceFacts facts;
    if (engine.AVProbe().LoadFile(source, ""))
        facts = DescribeSource(engine.AVProbe());
    engine.AVProbe().CloseFile();
    // A folder of the target's own: the plan names the output after the source.
    const fs::path folder = fs::path(OutputName(c, "")).parent_path() / c.target;
    fs::create_directories(folder);
    const ConversionPlan plan =
        PlanConversion(PlanSourceOf(source, facts), choices, folder.string(), true);
    run.output = plan.output_file;
    fs::remove(run.output);
    if (!plan.Planned()) {
        run.message = plan.reason;
        return run;
    }
    TInputOptions in = plan.input;
    const int32_t job = engine.AddInputFile(source, &in);
    if (job < 0) {
        run.message = engine.LastErrMsg();
        return run;
    }
    TOutputOptions out = plan.output;
    if (limit > 0)
        out.Duration = static_cast<int32_t>(limit * 1000);
    const bool remux = out.ExtraOptions.find("map_all=1") != std::string::npos;
    run.video_copied = remux || out.VideoCodec == "copy";
    run.audio_copied = remux || out.AudioCodec == "copy";
    if (!engine.SetOutputFile(job, run.output, &out)) {
        run.message = engine.LastErrMsg();
        return run;
    }
    engine.StartConvert(1);
    std::unique_lock guard(lock);
    ended_signal.wait(guard, [&] { return ended; });
    return run;
}

// The first video, first audio and (when the target carries them) the first subtitle stream
// with events, named by map lines: the output's streams are then known to come from these.
std::string Maps(const Content& source) {
    std::string maps;
    auto add = [&](int index) { maps += "map=0:" + std::to_string(index) + "\n"; };
    if (!source.video.empty())
        add(source.video.front().index);
    if (!source.audio.empty())
        add(source.audio.front().index);
    for (const testing::SubtitleContent& s : source.subtitles) {
        if (!s.events.empty()) {
            add(s.index);
            break;
        }
    }
    return maps;
}

Conversion WithOptions(const std::string& source, const Case& c, const Target& target,
                       const Content& content, double limit) {
    Conversion run;
    run.output = OutputName(c, target.extension);
    fs::remove(run.output);
    std::string options = target.options;
    if (target.subtitles)
        options = Maps(content) + options;
    if (limit > 0)
        options += "\nt=" + std::to_string(limit);
    const testing::JobResult job = testing::RunJob({source}, "", run.output, options);
    run.completed = job.built && job.completed && !job.exception;
    run.message = !job.built ? job.build_error : job.message;
    return run;
}

// One encoder frame of the output's audio codec in seconds: what a frame-based encoder may add
// as padding or hold back.
double AudioFrame(const AudioContent& audio) {
    return audio.sample_rate > 0 ? std::max(audio.frame_size, 1) / double(audio.sample_rate) : 0;
}

// Where the sync markers show: the first picture of each run of bright ones. None unless every
// picture is either dark or bright (two levels far apart): ordinary pictures hold no markers.
std::vector<double> Flashes(const VideoContent& video) {
    double low = 256, high = -1;
    for (const testing::Picture& p : video.pictures) {
        if (p.luma >= 0) {
            low = std::min(low, p.luma);
            high = std::max(high, p.luma);
        }
    }
    std::vector<double> flashes;
    if (high - low < 100)
        return flashes;
    for (const testing::Picture& p : video.pictures) {
        if (p.luma < 0 || (p.luma > low + 0.2 * (high - low) && p.luma < high - 0.2 * (high - low)))
            return flashes;
    }
    const double middle = (low + high) / 2;
    bool previous = false;
    for (const testing::Picture& p : video.pictures) {
        const bool bright = p.luma > middle;
        if (bright && !previous)
            flashes.push_back(p.time);
        previous = bright;
    }
    return flashes;
}

// Pictures all of one duration (the last counted only when the file states its own). The first
// may also last longer by `delay` in whole frames: where the sound's delay moved the file's
// time zero before it, a file that counts frames (AVI) shows it from there.
bool ConstantRate(const VideoContent& video, double delay) {
    const double period = video.Period();
    const double tolerance = std::max(0.01 * period, kRounding);
    const size_t counted = video.pictures.size() - (video.last_duration_known ? 0 : 1);
    for (size_t i = 0; i < counted && i < video.pictures.size(); ++i) {
        const double extra = video.pictures[i].duration - period;
        const bool moved = i == 0 && delay > 0 && extra > 0 &&
                           extra <= std::ceil(delay / period - 1e-6) * period + tolerance;
        if (std::fabs(extra) > tolerance && !moved)
            return false;
    }
    return true;
}

// A container whose track lengths mediainfo reads from the file's own tables rather than
// estimating them from timestamps or the bit rate (MPEG-PS/TS, raw MP3).
bool StatesTrackLengths(const std::string& format) {
    // ASF states one play duration for the whole file, not one per track.
    for (const char* stated : {"mov,mp4,m4a,3gp,3g2,mj2", "avi", "matroska,webm", "wav"}) {
        if (format == stated)
            return true;
    }
    return false;
}

std::string Describe(const std::vector<double>& times, double origin) {
    std::ostringstream text;
    text.precision(4);
    text << std::fixed;
    for (double t : times)
        text << " " << t - origin;
    return text.str();
}

// Times on the output's own frame grid: at most half a frame early (the nearest slot), at most
// a frame late (the next one).
bool OnGrid(double shift, double period) {
    return shift >= -period / 2 - kRounding && shift <= period + kRounding;
}

// With a recording time, what the source holds before it must all be there; what lies past it
// is the recording time's check.
bool OnGridOrLonger(double shift, double period) {
    return shift >= -period / 2 - kRounding;
}

// How much later the output's sound comes against its time zero than the source's, by the
// burst nearest `source_time` (a time in the source): an audio encoder's priming that the
// container cannot mark plays before the sound, and the muxer moves every stream with it, by
// whole frames where a stream counts frames (AVI). 0 where no burst tells.
double SoundShift(const Content& src, const Content& out, double source_time) {
    if (src.audio.empty() || out.audio.empty())
        return 0;
    const AudioContent& sa = src.audio.front();
    const AudioContent& oa = out.audio.front();
    if (sa.onsets.empty() || oa.onsets.size() != sa.onsets.size() || sa.silent <= sa.Length() / 2)
        return 0;
    size_t nearest = 0;
    for (size_t i = 1; i < sa.onsets.size(); ++i) {
        if (std::fabs(sa.onsets[i] - source_time) < std::fabs(sa.onsets[nearest] - source_time))
            nearest = i;
    }
    return (oa.onsets[nearest] - out.origin) - (sa.onsets[nearest] - src.origin);
}

// A clean decode: an encoder writes no damage, a copy none but the source's own (it carries
// each packet as it is, a damaged one too).
int AllowedDecodeErrors(bool copied, int source_errors) {
    return copied ? source_errors : 0;
}

// `priming`: the output's audio encoder frame, where its delay may move the file's time zero
// before the first picture.
void CheckVideo(const Content& src, const Content& out, const VideoContent& sv,
                const VideoContent& ov, bool limited, double priming, bool copied) {
    ASSERT_GT(ov.Count(), 0) << "a video stream without a picture";
    const double period = ov.Period();
    EXPECT_LE(ov.decode_errors, AllowedDecodeErrors(copied, sv.decode_errors))
        << "video decode errors (the source has " << sv.decode_errors << ")";
    // The sound's delay moves the first picture's start back to the time zero it moved.
    const double length_shift = ov.Length() - sv.Length();
    const double delay = SoundShift(src, out, sv.Start());
    EXPECT_TRUE(limited ? OnGridOrLonger(length_shift, period)
                        : OnGrid(length_shift, period) || OnGrid(length_shift - delay, period))
        << "video length: output " << ov.Start() - out.origin << ".." << ov.End() - out.origin
        << " (" << ov.Count() << " pictures), source " << sv.Start() - src.origin << ".."
        << sv.End() - src.origin << " (" << sv.Count() << "), output frame " << period
        << " s, the sound's delay " << delay << " s";
    const double start_shift = (ov.Start() - out.origin) - (sv.Start() - src.origin);
    EXPECT_TRUE(OnGrid(start_shift, period) || OnGrid(start_shift - priming, period))
        << "video start against the file's time zero: output " << ov.Start() - out.origin
        << ", source " << sv.Start() - src.origin << " (output frame " << period << " s)";
    // The first picture may also have moved by the priming where no burst measures the delay.
    const bool constant = ConstantRate(ov, std::max(delay, priming));
    const double expected = constant ? sv.Length() / period : sv.Count();
    EXPECT_TRUE(ov.Count() >= expected - 1 - 1e-6 && (limited || ov.Count() <= expected + 1 + 1e-6))
        << ov.Count() << " pictures, "
        << (constant ? "at a constant " + std::to_string(1 / period) + " fps over the source's " +
                           std::to_string(sv.Length()) + " s"
                     : "a variable-rate output, the source has " + std::to_string(sv.Count()));

    const std::vector<double> src_flashes = Flashes(sv);
    if (!src_flashes.empty()) {
        const std::vector<double> out_flashes = Flashes(ov);
        ASSERT_EQ(out_flashes.size(), src_flashes.size())
            << "markers: output" << Describe(out_flashes, out.origin) << ", source"
            << Describe(src_flashes, src.origin);
        // Against the sound where its bursts tell (the audio check holds those against the
        // time zero), else against the time zero.
        for (size_t i = 0; i < src_flashes.size(); ++i) {
            const double sound = SoundShift(src, out, src_flashes[i]);
            const double shift =
                (out_flashes[i] - out.origin) - (src_flashes[i] - src.origin) - sound;
            EXPECT_PRED2(OnGrid, shift, period)
                << "marker picture " << i << " shows " << shift * 1000 << " ms off the sound, "
                << "which moved " << sound * 1000 << " ms (output frame " << period * 1000
                << " ms): output" << Describe(out_flashes, out.origin) << ", source"
                << Describe(src_flashes, src.origin);
        }
    }
}

// Where the output's sound starts at its time zero though the source's starts later (AVI
// plays its sound from the zero), the seconds of the late start it must hold as silence; the
// bursts show that it is silence.
double SilentLead(const Content& src, const Content& out, const AudioContent& sa,
                  const AudioContent& oa) {
    return oa.start - out.origin <= kRounding ? std::max(0.0, sa.start - src.origin) : 0.0;
}

void CheckAudio(const Content& src, const Content& out, const AudioContent& sa,
                const AudioContent& oa, double cut, bool limited, bool copied) {
    const double frame = AudioFrame(oa);
    EXPECT_LE(oa.decode_errors, AllowedDecodeErrors(copied, sa.decode_errors))
        << "audio decode errors (the source has " << sa.decode_errors << ")";
    // Every sample, within one encoder frame (a decoder may hold back the first, as WMA's
    // does); at most two frames more (the encoder's delay and the last frame's padding where
    // the container cannot mark them); where the source's timestamps leave gaps, up to its
    // whole span (a gap may be filled with silence).
    const double samples = double(sa.samples) / sa.sample_rate;
    const double span = sa.span_end - sa.start;
    const double got = double(oa.samples) / oa.sample_rate;
    const double lead = SilentLead(src, out, sa, oa);
    EXPECT_TRUE(got >= samples - frame - kRounding &&
                (limited || got <= std::max(samples, span) + lead + 2 * frame + kRounding))
        << "audio length: output " << got << " s (" << oa.samples << " at " << oa.sample_rate
        << " Hz), source " << samples << " s, encoder frame " << frame << " s";
    // The timeline: where the source's timestamps leave a gap, the output keeps it (as a gap
    // or as silence), or all that follows it would play early.
    const double got_span = oa.span_end - oa.start;
    EXPECT_TRUE(got_span >= span - 2 * frame - kRounding &&
                (limited || got_span <= span + lead + 2 * frame + kRounding))
        << "audio timeline: the output's timestamps span " << got_span << " s, the source's "
        << span << " s (" << samples << " s of samples), encoder frame " << frame << " s";

    // Bursts in digital silence only (silent over half the time, as no recording is): the
    // onsets of speech or music move with every lossy codec.
    if (!sa.onsets.empty() && sa.silent > sa.Length() / 2) {
        ASSERT_EQ(oa.onsets.size(), sa.onsets.size())
            << "sound bursts: output" << Describe(oa.onsets, out.origin) << ", source"
            << Describe(sa.onsets, src.origin);
        for (size_t i = 0; i < sa.onsets.size(); ++i) {
            // Never early; late by at most the encoder's delay, under one frame.
            const double shift = (oa.onsets[i] - out.origin) - (sa.onsets[i] - src.origin);
            EXPECT_TRUE(shift >= -kRounding && shift <= frame + kRounding)
                << "burst " << i << " sounds " << shift * 1000 << " ms off (encoder frame "
                << frame * 1000 << " ms): output" << Describe(oa.onsets, out.origin) << ", source"
                << Describe(sa.onsets, src.origin);
        }
    }
    // The last 20 ms of sound, where the source sounds there and was not cut by the limit.
    if (sa.last_sound >= 0 && sa.last_sound >= sa.End() - 0.02 && sa.End() < cut - kRounding) {
        const double src_end = sa.End() - src.origin;
        EXPECT_GE(oa.last_sound - out.origin, src_end - 0.02)
            << "the last 20 ms of sound: output's last sound at " << oa.last_sound - out.origin
            << " s, source sounds to " << sa.last_sound - src.origin << " s of " << src_end;
    }
}

// The other name of a surround channel: back for side, side for back; empty for the rest.
std::string SurroundCounterpart(const std::string& name) {
    const std::pair<const char*, const char*> pairs[] = {{"BL", "SL"}, {"BR", "SR"}};
    for (const auto& [back, side] : pairs) {
        if (name == back)
            return side;
        if (name == side)
            return back;
    }
    return "";
}

// Channel layouts by content: each source channel sounds its own tone; after a mix to stereo
// left-side channels must land left, right-side ones right, centres in both, and the LFE must
// not be mixed in as a centre would be.
void CheckLayout(const AudioContent& sa, const AudioContent& oa) {
    if (sa.channels < 3 || sa.kept.empty() || oa.kept.empty())
        return;
    for (int ch = 0; ch < sa.channels; ++ch) {
        if (sa.ToneLevel(ch, testing::ChannelToneHz(ch)) < 0.1)
            return; // not a tone-per-channel source
    }
    // Kept channels: each in the channel of its name, with its tone. A codec that codes one
    // surround pair without saying where it stands (AC-3's Ls/Rs) decodes it as the side pair:
    // where the output's layout holds only the other of back and side, the source's back pair
    // is that pair (quad comes out as quad(side)), as no such codec can tell them apart.
    if (oa.channels == sa.channels) {
        auto has = [](const std::vector<std::string>& names, const std::string& name) {
            return std::find(names.begin(), names.end(), name) != names.end();
        };
        for (int ch = 0; ch < sa.channels; ++ch) {
            const std::string& name = sa.channel_names[static_cast<size_t>(ch)];
            std::string kept = name;
            if (!has(oa.channel_names, name)) {
                const std::string other = SurroundCounterpart(name);
                if (!other.empty() && !has(sa.channel_names, other))
                    kept = other;
            }
            const auto at = std::find(oa.channel_names.begin(), oa.channel_names.end(), kept);
            ASSERT_TRUE(at != oa.channel_names.end())
                << "source channel " << name << " (" << sa.layout << ") in the output's "
                << oa.layout;
            if (name == "LFE")
                continue; // codecs band-limit it (AC-3 to 120 Hz): no tone of ours passes
            const double hz = testing::ChannelToneHz(ch);
            EXPECT_GT(oa.ToneLevel(static_cast<int>(at - oa.channel_names.begin()), hz),
                      0.5 * sa.ToneLevel(ch, hz))
                << "source channel " << name << " (" << hz << " Hz) in the output's " << kept
                << " (" << oa.layout << ")";
        }
        return;
    }
    if (oa.channels != 2)
        return;
    double front_left = 0;
    for (int ch = 0; ch < sa.channels; ++ch) {
        if (sa.channel_names[static_cast<size_t>(ch)] == "FL")
            front_left = oa.ToneLevel(0, testing::ChannelToneHz(ch));
    }
    for (int ch = 0; ch < sa.channels; ++ch) {
        const std::string& name = sa.channel_names[static_cast<size_t>(ch)];
        const double hz = testing::ChannelToneHz(ch);
        const double left = oa.ToneLevel(0, hz);
        const double right = oa.ToneLevel(1, hz);
        const std::string where = "source channel " + name + " (" + sa.layout + ", " +
                                  std::to_string(int(hz)) + " Hz): left " + std::to_string(left) +
                                  ", right " + std::to_string(right);
        if (name == "LFE") {
            EXPECT_LE(std::max(left, right), 0.5 * front_left) << where << "; FL " << front_left;
        } else if (name.back() == 'L') {
            EXPECT_GT(left, 3 * right) << where;
            EXPECT_GT(left, 0.02) << where;
        } else if (name.back() == 'R') {
            EXPECT_GT(right, 3 * left) << where;
            EXPECT_GT(right, 0.02) << where;
        } else {
            EXPECT_GT(std::min(left, right), 0.5 * std::max(left, right)) << where;
            EXPECT_GT(left, 0.02) << where;
        }
    }
}

// Subtitles are drawn over the pictures: their times count from the first picture (or the
// file's time zero without video).
void CheckSubtitles(const Content& src, const Content& out) {
    const double src_zero = src.video.empty() ? src.origin : src.video.front().Start();
    const double out_zero = out.video.empty() ? out.origin : out.video.front().Start();
    const testing::SubtitleContent* source = nullptr;
    for (const testing::SubtitleContent& s : src.subtitles) {
        if (!s.events.empty() && source == nullptr)
            source = &s;
    }
    ASSERT_NE(source, nullptr);
    ASSERT_FALSE(out.subtitles.empty()) << "no subtitle stream";
    const testing::SubtitleContent& got = out.subtitles.front();
    EXPECT_EQ(got.decode_errors, 0);
    ASSERT_EQ(got.events.size(), source->events.size()) << got.codec << " events";
    // ASS times are in hundredths of a second.
    for (size_t i = 0; i < got.events.size(); ++i) {
        EXPECT_NEAR(got.events[i].start - out_zero, source->events[i].start - src_zero, 0.011)
            << "subtitle " << i << " start, from the first picture";
        EXPECT_NEAR(got.events[i].duration, source->events[i].duration, 0.011)
            << "subtitle " << i << " display duration (" << got.codec << ")";
    }
}

void CheckStatedLengths(const std::string& file, const Content& out) {
    if (!StatesTrackLengths(out.format))
        return;
    const testing::StatedLengths stated = testing::MediaInfoLengths(file);
    // A track's stated duration is its length, or its end where the container counts a
    // leading delay in (an edit list's empty entry), from the file's first sample or from 0.
    auto agrees = [&](double stated_length, double length, double end, double tolerance) {
        return std::fabs(stated_length - length) <= tolerance ||
               std::fabs(stated_length - (end - out.origin)) <= tolerance ||
               std::fabs(stated_length - end) <= tolerance;
    };
    // Video: the pictures with the last one's duration, to under half a frame (a lost last
    // picture is a whole frame) and mediainfo's millisecond rounding.
    if (!out.video.empty() && !stated.video.empty()) {
        const VideoContent& v = out.video.front();
        const double tolerance = v.Period() / 2 + kRounding;
        // AVI writes its first chunk as frame 0 whatever its timestamp: where the muxer moved
        // the timestamps for the sound's priming (whole frames, up to one audio frame), the
        // first picture shows from 0 to the moved second one, and the reader sees that span;
        // a lone picture has no second, and only the stated length counts the move.
        const double priming = out.audio.empty() ? 0.0 : AudioFrame(out.audio.front());
        const double moved = v.Period() * std::ceil(priming / v.Period() - 1e-6);
        const bool lone_moved = out.format == "avi" && v.Count() == 1 &&
                                stated.video.front() - v.Length() > tolerance &&
                                stated.video.front() - v.Length() <= moved + tolerance;
        EXPECT_TRUE(agrees(stated.video.front(), v.Length(), v.End(), tolerance) || lone_moved)
            << "mediainfo's video duration " << stated.video.front() << " against the pictures' "
            << v.Start() - out.origin << ".." << v.End() - out.origin;
    }
    // Audio: tables count whole encoder frames, the decoder may trim the padding of one. AVI
    // states a byte or block count that mediainfo turns into time by an average bit rate.
    if (!out.audio.empty() && !stated.audio.empty() && out.format != "avi") {
        const AudioContent& a = out.audio.front();
        EXPECT_TRUE(agrees(stated.audio.front(), a.Length(), a.span_end, AudioFrame(a) + kRounding))
            << "mediainfo's audio duration " << stated.audio.front() << " against the samples' "
            << a.start - out.origin << ".." << a.End() - out.origin;
    }
}

// A late video start may come out as copies of the source's first picture from the output's
// time zero (the frame-rate sync fills the gap before it): those pictures lead in, and the
// content starts after them. Their count, when every one of them shows the first picture (by
// mean luma, which encoding moves by a step or two); 0 otherwise.
size_t LeadIn(const Content& src, const Content& out, const VideoContent& sv,
              const VideoContent& ov) {
    constexpr double kSameLuma = 3.0;
    const double source_start = sv.Start() - src.origin;
    const double first = sv.pictures.front().luma;
    size_t count = 0;
    for (const testing::Picture& picture : ov.pictures) {
        if (picture.time - out.origin >= source_start - ov.Period() / 2 - kRounding)
            break;
        if (first < 0 || picture.luma < 0 || std::fabs(picture.luma - first) > kSameLuma)
            return 0;
        ++count;
    }
    return count < ov.pictures.size() ? count : 0;
}

class FidelityTest : public ::testing::TestWithParam<Case> {};

TEST_P(FidelityTest, OutputKeepsTheSource) {
    const Case& c = GetParam();
    const Target& target = FindTarget(c.target);
    const std::string source = SourcePath(c.source);
    const testing::ProfilePromise* promise =
        target.profile[0] != '\0' ? testing::FindPromise(target.profile) : nullptr;
    const bool remux = promise != nullptr && promise->remux; // copies, quick at any length
    // Today's encoders are slow at their settings: two seconds of a long source tell what
    // four would.
    const double limit = remux || testing::MediaInfoLengths(source).general <= kLongSource ? 0
                         : promise != nullptr ? kShortLimit
                                              : kLimit;
    const Content src = testing::ReadContent(source, {.limit = limit, .keep_samples = true});
    ASSERT_TRUE(src.opened) << src.error;

    const Conversion run = target.profile[0] != '\0' ? WithProfile(source, c, target, limit)
                                                     : WithOptions(source, c, target, src, limit);
    SCOPED_TRACE(
        c.source + " through " + c.target + " (" +
        (target.profile[0] != '\0' ? std::string(target.profile) : std::string(target.options)) +
        (limit > 0 ? ", first " + std::to_string(limit) + " s" : "") + ") -> " + run.output);
    if (!run.completed) {
        ADD_FAILURE() << "the job failed: " << run.message;
        EXPECT_FALSE(run.message.empty()) << "a failed job says why";
        EXPECT_FALSE(fs::exists(run.output)) << "a failed job leaves no output behind";
        return;
    }
    ASSERT_TRUE(fs::exists(run.output)) << "done without an output";
    const Content out = testing::ReadContent(run.output, {.keep_samples = true});
    ASSERT_TRUE(out.opened) << out.error;

    const bool audio_only_target =
        target.profile[0] != '\0' && FindProfile(target.profile) != nullptr && [&] {
            ProfileLists lists;
            std::string type;
            FillProfileCombos(lists, target.profile, type);
            return lists.ComboVideoCodec.Items.empty();
        }();
    const bool wants_video = !src.video.empty() && !audio_only_target;
    // The source's time zero as the output can have it: without the video, the audio's start.
    Content src_kept = src;
    if (!wants_video && !src.audio.empty())
        src_kept.origin = src.audio.front().start;
    if (!remux) { // a remux keeps every stream: its promise counts them
        EXPECT_EQ(out.video.size(), wants_video ? 1u : 0u) << "video streams";
        EXPECT_EQ(out.audio.size(), src.audio.empty() ? 0u : 1u) << "audio streams";
    }
    EXPECT_EQ(out.attached_pictures, 0) << "attached pictures";

    const bool limited = limit > 0;
    const std::string options = target.options;
    const bool video_copied = run.video_copied || options.find("vcodec=copy") != std::string::npos;
    const bool audio_copied = run.audio_copied || options.find("acodec=copy") != std::string::npos;
    // AVI counts copied pictures from the first one decoded, which a decoder that reorders
    // shows late: the whole file moves by that delay, the sound with it.
    if (video_copied && out.format == "avi" && wants_video)
        src_kept.origin -= src.video.front().reorder_delay;
    // The output's video from where the source's content starts (after any lead-in).
    VideoContent shown;
    if (wants_video && !out.video.empty()) {
        shown = out.video.front();
        shown.pictures.erase(shown.pictures.begin(),
                             shown.pictures.begin() + static_cast<ptrdiff_t>(LeadIn(
                                                          src, out, src.video.front(), shown)));
        CheckVideo(src_kept, out, src.video.front(), shown, limited,
                   out.audio.empty() ? 0.0 : AudioFrame(out.audio.front()), video_copied);
    }
    if (!src.audio.empty() && !out.audio.empty()) {
        CheckAudio(src_kept, out, src.audio.front(), out.audio.front(), src.cut, limited,
                   audio_copied);
        CheckLayout(src.audio.front(), out.audio.front());
    }
    if (wants_video && !src.audio.empty() && !out.video.empty() && !out.audio.empty()) {
        // By timestamps, of the first packet or of the first decoded sound: a decoder may
        // hold back its first frames (WMA's does), and which of the two times the content
        // follows is the codec's matter. Each side's encoder may have moved its audio by up to
        // a frame of priming.
        const VideoContent& ov = shown;
        const VideoContent& sv = src.video.front();
        const AudioContent& oa = out.audio.front();
        const AudioContent& sa = src.audio.front();
        const double period = ov.Period();
        const double tolerance = period + AudioFrame(oa) + AudioFrame(sa) + kRounding;
        bool agrees = false;
        const double lead = SilentLead(src, out, sa, oa);
        for (double out_audio : {oa.packet_start, oa.start, oa.start + lead}) {
            for (double src_audio : {sa.packet_start, sa.start})
                agrees = agrees || std::fabs((ov.Start() - out_audio) - (sv.Start() - src_audio)) <=
                                       tolerance;
        }
        EXPECT_TRUE(agrees) << "video start against the audio start: output " << ov.Start()
                            << " against " << oa.packet_start << " (packets) / " << oa.start
                            << " (sound), source " << sv.Start() << " against " << sa.packet_start
                            << " / " << sa.start << ", tolerance " << tolerance << " s";
    }
    if (target.subtitles)
        CheckSubtitles(src, out);
    if (limited) {
        // The recording time: nothing past it but the frame that crosses it (two for audio:
        // the encoder's delay and its padding). A copy is cut by decode time: pictures shown
        // later than they are decoded keep that offset, so a copy is held to its span. Encoded
        // pictures that start later than the source's, against the file's zero, had the zero
        // moved before them by the audio encoder's delay (MP3's priming in Matroska), as the
        // start's check allows: they count from where they start.
        if (!shown.pictures.empty()) {
            const double source_start = src.video.front().Start() - (src.cut - limit);
            const double moved = std::max(0.0, shown.Start() - out.origin - source_start);
            EXPECT_LE(video_copied ? shown.End() - shown.Start() : shown.End() - out.origin - moved,
                      limit + shown.Period() + kRounding)
                << "video longer than the recording time: " << shown.Start() - out.origin << ".."
                << shown.End() - out.origin << ", the source's starts at " << source_start;
        }
        // Audio stops after whole source packets: one may cross the limit.
        const double packet = src.audio.empty() ? 0.0 : src.audio.front().max_packet;
        for (const AudioContent& a : out.audio)
            EXPECT_LE(a.End() - out.origin, limit + packet + 2 * AudioFrame(a) + kRounding)
                << "audio longer than the recording time (" << a.samples << " samples at "
                << a.sample_rate << " Hz from " << a.start - out.origin << " s)";
    }
    CheckStatedLengths(run.output, out);
    if (promise != nullptr)
        CheckPromise(*promise, source, src, run.output, out);
}

INSTANTIATE_TEST_SUITE_P(Sources, FidelityTest, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             std::string name =
                                 info.param.source.substr(0, info.param.source.find('.')) + "__" +
                                 info.param.target;
                             for (char& ch : name) {
                                 if (!std::isalnum(static_cast<unsigned char>(ch)))
                                     ch = '_';
                             }
                             return name;
                         });

} // namespace
} // namespace clipwright
