#include "tests/support/media_gen/media_gen.h"

namespace clipwright::testing {

// What each file in tests/media holds, from its README and mediainfo. Where the demuxer sees
// more than those (the Ogg skeleton stream, the order of the FLV streams), the table says what
// the library reports. Lengths the library only guesses (AMR: 34.99 s from its bit rate) or
// lacks (the tiny MPEG-1 file) are the probe's measured ones.
const std::vector<RealMediaFile>& RealMedia() {
    static const std::vector<RealMediaFile> files = {
        // name, streams, video, audio, subtitle, first video, first audio, duration, w, h, fps,
        // sample rate and channels of the last audio stream
        {"3g2_mpeg4_aac_176x144.3g2", 2, 1, 1, 0, 0, 1, "00:00:02", 176, 144, "18", 22050, 2},
        {"3gp_h263_amrnb_176x144_phone.3gp", 2, 1, 1, 0, 1, 0, "00:00:09", 176, 144, "10", 8000, 1},
        {"3gp_h263_amrnb_352x288.3gp", 2, 1, 1, 0, 0, 1, "00:00:05", 352, 288, "15", 8000, 1},
        {"ac3_44k_stereo_192k_silence.ac3", 1, 0, 1, 0, -1, 0, "00:00:03", -1, -1, "", 44100, 2},
        {"amr_nb_8k_mono_b.amr", 1, 0, 1, 0, -1, 0, "00:00:33", -1, -1, "", 8000, 1},
        {"asf_wmv2_wmav2_560x320.asf", 2, 1, 1, 0, 0, 1, "00:00:04", 560, 320, "30", 44100, 2},
        {"avi_divx5_mp3_512x384.avi", 2, 1, 1, 0, 0, 1, "00:00:24", 512, 384, "25", 44100, 2},
        {"avi_xvid_ac3_720x528.avi", 2, 1, 1, 0, 0, 1, "00:00:11", 720, 528, "23.98", 48000, 2},
        {"dv_ntsc_dvvideo_pcm_720x480_camcorder.dv", 3, 1, 2, 0, 0, 1, "00:00:00", 720, 480,
         "29.97", 32000, 2},
        {"flv_h264_aac_480x270.flv", 2, 1, 1, 0, 0, 1, "00:00:33", 480, 270, "30", 44100, 2},
        {"flv_sorenson_mp3_320x240.flv", 2, 1, 1, 0, 1, 0, "00:00:05", 320, 240, "25", 44100, 1},
        {"m4a_aac_lc_44k_stereo.m4a", 1, 0, 1, 0, -1, 0, "00:00:12", -1, -1, "", 44100, 2},
        {"mkv_h264_2xaac_9xsrt_1024x576.mkv", 11, 1, 2, 8, 0, 1, "00:00:03", 1024, 576, "24", 22050,
         1},
        {"mov_h264_aac_560x320.mov", 2, 1, 1, 0, 0, 1, "00:00:05", 560, 320, "30", 48000, 1},
        {"mov_mjpeg_pcmu8_640x480_camera.mov", 2, 1, 1, 0, 0, 1, "00:00:01", 640, 480, "10", 8000,
         1},
        {"mp3_44k_mono_128k.mp3", 1, 0, 1, 0, -1, 0, "00:00:12", -1, -1, "", 44100, 1},
        {"mp3_44k_stereo_id3v23.mp3", 1, 0, 1, 0, -1, 0, "00:00:27", -1, -1, "", 44100, 2},
        {"mp4_h264_aac_560x320.mp4", 2, 1, 1, 0, 0, 1, "00:00:05", 560, 320, "30", 48000, 1},
        {"mpg_ps_mpeg1_320x240_tiny.mpg", 1, 1, 0, 0, 0, -1, "00:00:00", 320, 240, "30", 0, 0},
        {"mts_avchd_h264_1080i_ac3.mts", 2, 1, 1, 0, 0, 1, "00:00:01", 1920, 1080, "29.97", 48000,
         2},
        {"mxf_mpeg2_720x576_noaudio.mxf", 1, 1, 0, 0, 0, -1, "00:00:10", 720, 576, "25", 0, 0},
        {"ogv_theora_vorbis_560x320.ogv", 3, 1, 1, 0, 1, 2, "00:00:05", 560, 320, "30", 48000, 1},
        {"rm_rv10_ac3_352x288.rm", 2, 1, 1, 0, 0, 1, "00:00:05", 352, 288, "30", 32000, 1},
        {"vob_mpeg2_ac3_720x480.vob", 2, 1, 1, 0, 0, 1, "00:00:04", 720, 480, "29.97", 48000, 2},
        {"wav_pcm16_48k_mono.wav", 1, 0, 1, 0, -1, 0, "00:00:01", -1, -1, "", 48000, 1},
        {"wma_lossless_44k_stereo_silence.wma", 1, 0, 1, 0, -1, 0, "00:00:03", -1, -1, "", 44100,
         2},
        {"wma_pro_44k_stereo_silence.wma", 1, 0, 1, 0, -1, 0, "00:00:03", -1, -1, "", 44100, 2},
        {"wma_v2_44k_mono.wma", 1, 0, 1, 0, -1, 0, "00:00:02", -1, -1, "", 44100, 1},
        {"wmv_msmpeg4v3_wmav2_640x360.wmv", 2, 1, 1, 0, 0, 1, "00:00:33", 640, 360, "25", 44100, 2},
    };
    return files;
}

} // namespace clipwright::testing
