// A job's option state: one setting per option name, at the values the reset gives them.
// Settings are named after the option that writes them ("ar" is what option "ar" writes).
#pragma once

#include <array>
#include <climits>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct AVInputFormat;
struct AVOutputFormat;

namespace clipwright {

inline constexpr int kMaxStreamMaps = 20;
inline constexpr int kMaxStreams = 20; // "itsscale" streams per input
inline constexpr int kMaxFiles = 20;

struct TStreamMap {
    int32_t File = 0;
    int32_t Stream = 0;
    int32_t SyncFile = 0;
    int32_t SyncStream = 0;
};

struct TMetaDataMap {
    int32_t OutFile = 0;
    int32_t InFile = 0;
};

struct TRational {
    int32_t num = 0;
    int32_t den = 0;
};

using QuantMatrix = std::array<uint16_t, 64>;

struct OptionState {
    const AVInputFormat* forced_input_format = nullptr;   // "f"
    const AVOutputFormat* forced_output_format = nullptr; // "f"
    int32_t pgmyuv_compat = 0;
    std::vector<TStreamMap> stream_maps;      // "map"
    int32_t map_all = 0;                      // "map_all": every input stream, copied
    std::vector<TMetaDataMap> meta_data_maps; // "map_meta_data"
    int32_t frame_width = 0;                  // "s"
    int32_t frame_height = 0;                 // "s"
    float frame_aspect_ratio = 0.0f;          // "aspect"
    int32_t frame_pix_fmt = -1;               // "pix_fmt"
    int32_t frame_padtop = 0, frame_padbottom = 0, frame_padleft = 0, frame_padright = 0;
    std::array<int32_t, 3> padcolor = {16, 128, 128}; // Y, Cb, Cr
    int32_t frame_topband = 0, frame_bottomband = 0, frame_leftband = 0, frame_rightband = 0;
    int32_t max_frames_video = INT32_MAX;                // "vframes"
    int32_t max_frames_audio = INT32_MAX;                // "aframes"
    int32_t max_frames_data = INT32_MAX;                 // "dframes"
    int32_t max_frames_subtitle = INT32_MAX;             // no option
    TRational frame_rate;                                // "r"
    float video_qscale = 0.0f;                           // "qscale"
    std::optional<QuantMatrix> intra_matrix;             // "intra_matrix"
    std::optional<QuantMatrix> inter_matrix;             // "inter_matrix"
    std::optional<std::string> video_rc_override_string; // "rc_override"
    int32_t video_disable = 0;                           // "vn"
    int32_t video_discard = 0;                           // "vdt"
    int32_t same_quality = 0;                            // "sameq"
    int32_t do_deinterlace = 0;                          // "deinterlace"
    int32_t intra_only = 0;                              // "intra"
    int32_t qp_hist = 0;                                 // "qphist"
    int32_t do_psnr = 0;                                 // "psnr"
    std::optional<std::string> video_codec_name;         // "vcodec"
    std::optional<std::string> audio_codec_name;         // "acodec"
    std::optional<std::string> subtitle_codec_name;      // "scodec"
    int32_t video_stream_copy = 0;
    int32_t audio_stream_copy = 0;
    int32_t subtitle_stream_copy = 0;
    uint32_t video_codec_tag = 0;       // "vtag"
    uint32_t audio_codec_tag = 0;       // "atag"
    int32_t top_field_first = -1;       // "top"
    int32_t me_threshold = 0;           // "me_threshold"
    int32_t intra_dc_precision = 8;     // "dc"
    int32_t loop_input = 0;             // "loop_input"
    int32_t loop_output = -1;           // "loop_output"
    int32_t audio_sample_rate = 44100;  // "ar"
    float audio_qscale = -99999.0f;     // "aq"
    int32_t audio_disable = 0;          // "an"
    int32_t subtitle_disable = 0;       // "sn"
    int32_t audio_channels = 2;         // "ac"
    std::string audio_language;         // "alang"
    std::string subtitle_language;      // "slang"
    float mux_preload = 0.5f;           // "muxpreload", seconds
    float mux_max_delay = 0.7f;         // "muxdelay", seconds
    int64_t recording_time = INT64_MAX; // "t", microseconds
    int64_t start_time = 0;             // "ss", microseconds
    int64_t input_ts_offset = 0;        // "itsoffset", microseconds
    std::array<std::array<double, kMaxStreams>, kMaxFiles> input_ts_scale{}; // "itsscale"
    int64_t recording_timestamp = 0;                                         // "timestamp", seconds
    std::string str_title, str_author, str_copyright, str_comment, str_genre, str_album;
    int32_t year = 0;
    int32_t track = 0;
    int32_t do_pkt_dump = 0;                    // "dump"
    int32_t do_hex_dump = 0;                    // "hex"
    int32_t do_pass = 0;                        // "pass"
    std::string pass_logfilename_prefix;        // "passlogfile"
    int32_t video_sync_method = -1;             // "vsync"
    int32_t audio_sync_method = 0;              // "async"
    float audio_drift_threshold = 0.1f;         // "adrift_threshold"
    int32_t copy_ts = 0;                        // "copyts"
    int32_t opt_shortest = 0;                   // "shortest"
    int32_t rate_emu = 0;                       // "re"
    int32_t input_sync = 0;                     // "isync"
    int32_t video_global_header = 0;            // "vglobal"
    int32_t opt_programid = 0;                  // "programid"
    int32_t video_channel = 0;                  // "vc"
    std::optional<std::string> video_standard;  // "tvstd"
    std::optional<std::string> vstats_filename; // "vstats", "vstats_file"
    int32_t audio_volume = 256;                 // "vol"
    int64_t limit_filesize = 0;                 // "fs", bytes
    float dts_delta_threshold = 10.0f;          // "dts_delta_threshold", seconds
    int32_t sws_flags = 4;                      // bicubic
};

} // namespace clipwright
