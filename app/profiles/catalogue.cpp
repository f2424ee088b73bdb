#include "app/profiles/catalogue.h"

#include <utility>

#include "app/profiles/builders.h"
#include "app/profiles/today_profiles.h"

namespace clipwright {

namespace {

using Items = std::vector<std::string>;

// The named lists.
const Items kSzFull = {"Original Video Size", "128 x 96 (SQCIF)", "160 x 120 (QVGA)", "176 x 120",
                       "176 x 144 (QCIF)",    "192 x 144",        "208 x 176",        "220 x 176",
                       "240 x 180",           "320 x 200",        "320 x 240 (VGA)",  "352 x 240",
                       "352 x 288 (CIF)",     "480 x 272",        "480 x 360",        "480 x 480",
                       "480 x 576",           "624 x 352",        "640 x 352",        "640 x 480",
                       "704 x 576 (4CIF)",    "720 x 480",        "720 x 576"};
const Items kSzMobile = {"128 x 96 (SQCIF)", "160 x 120 (QVGA)", "176 x 144 (QCIF)", "208 x 176",
                         "220 x 176",        "320 x 240 (VGA)",  "352 x 288 (CIF)"};
const Items kSzPmp = {"Auto", "160 x 120", "320 x 240", "480 x 272", "720 x 480", "640 x 480"};
const Items kZSize = {"320 x 240 ", "640 x 480"};
const Items kVb13 = {"192 Kbps",  "200 Kbps",  "216 Kbps",  "384 Kbps",  "512 Kbps",
                     "640 Kbps",  "768 Kbps",  "1000 Kbps", "1200 Kbps", "1500 Kbps",
                     "1600 Kbps", "2000 Kbps", "2500 Kbps"};
const Items kVbAvi = {"192 Kbps", "200 Kbps",  "216 Kbps",  "384 Kbps",  "512 Kbps", "640 Kbps",
                      "768 Kbps", "1000 Kbps", "1200 Kbps", "1500 Kbps", "2500 Kbps"};
const Items kVbApple = {"512 Kbps", "800 Kbps", "1200 Kbps", "1500 Kbps", "2500 Kbps"};
const Items kVbZune = {"256 Kbps", "512 Kbps", "768 Kbps", "1200 Kbps", "1500 Kbps", "2000 Kbps"};
const Items kVbHigh = {"1000 Kbps", "1200 Kbps", "1500 Kbps", "2000 Kbps", "2500 Kbps"};
const Items kVbMobile = {"48 Kbps", "64 Kbps", "96 Kbps", "128 Kbps", "256 Kbps", "512 Kbps"};
const Items kVbBb = {"80 Kbps", "120 Kbps", "200 Kbps", "256 Kbps", "300 Kbps", "512 Kbps"};
const Items kVbBb3gp = {"48 Kbps",  "64 Kbps",  "96 Kbps", "120 Kbps",
                        "128 Kbps", "256 Kbps", "512 Kbps"};
const Items kFr7 = {"Auto",     "14.985 fps", "15.0 fps", "23.975 fps",
                    "25.0 fps", "29.97 fps",  "30.0 fps"};
const Items kFrMobile = {"Auto", "11 fps", "14.985 fps", "15 fps"};
const Items kFrBb = {"11 fps", "15 fps", "20 fps", "24 fps", "25 fps"};
const Items kFrBb3gp = {"Auto", "11 fps", "15 fps", "20 fps", "24 fps", "25 fps"};
const Items kAb13 = {"32 Kbps",  "40 Kbps",  "48 Kbps",  "64 Kbps",  "80 Kbps",
                     "96 Kbps",  "112 Kbps", "128 Kbps", "160 Kbps", "192 Kbps",
                     "224 Kbps", "256 Kbps", "320 Kbps"};
const Items kAbBb = {"40 Kbps", "48 Kbps", "64 Kbps", "80 Kbps", "96 Kbps", "112 Kbps"};
const Items kAbAmr = {"4750 bps", "5150 bps", "5900 bps",  "6700 bps",
                      "7400 bps", "7950 bps", "10200 bps", "12200 bps"};
const Items kSr8 = {"8000 Hz",  "16000 Hz", "22050 Hz", "32000 Hz",
                    "44100 Hz", "48000 Hz", "54000 Hz", "96000 Hz"};
const Items kSr8W = {"8000  Hz", "16000 Hz", "22050 Hz", "32000 Hz",
                     "44100 Hz", "48000 Hz", "54000 Hz", "96000 Hz"};
const Items kSrAmr = {"8000  bps", "16000 bps"};

void StereoOriginal(ProfileLists& l) {
    l.ComboAudioChannels.Select(0);
    l.ComboAspectRatio.Select(0);
}

void ClearVideo(ProfileLists& l) {
    l.ComboVideoCodec.Clear();
    l.ComboVideoSize.Clear();
    l.ComboVideoBitrate.Clear();
    l.ComboVideoFramerate.Clear();
}

void FillZuneMpeg4(ProfileLists& l) {
    l.ComboVideoCodec.Replace({"MPEG4", "H264"}, 0);
    l.ComboAudioCodec.Replace({"mpeg4aac"}, 0);
    l.ComboVideoSize.Replace(kZSize, 0);
    l.ComboVideoBitrate.Replace(kVbZune, 3);
    l.ComboVideoFramerate.Replace({"29.97 fps"}, 0);
    l.ComboAudioBitrate.Replace(kAb13, 7);
    l.ComboSamplingRate.Replace(kSr8W, 4);
    l.ComboVideoBitrate.Select(4);
    StereoOriginal(l);
}

void FillZuneWmv(ProfileLists& l) {
    l.ComboVideoCodec.Replace({"WMV2"}, 0);
    l.ComboAudioCodec.Replace({"wmav2"}, 0);
    l.ComboVideoSize.Replace(kZSize, 0);
    l.ComboVideoBitrate.Replace(kVbZune, 3);
    l.ComboVideoFramerate.Replace(kFr7, 0);
    l.ComboAudioBitrate.Replace(kAb13, 7);
    l.ComboSamplingRate.Replace(kSr8W, 5);
    StereoOriginal(l);
}

void FillAudioOnly(ProfileLists& l, const char* codec, const Items& rates, int bit_rate, int rate) {
    ClearVideo(l);
    l.ComboAudioCodec.Replace({codec}, 0);
    l.ComboAudioBitrate.Replace(kAb13, bit_rate);
    l.ComboSamplingRate.Replace(rates, rate);
    StereoOriginal(l);
}

void FillM4a(ProfileLists& l) {
    FillAudioOnly(l, "mpeg4aac", kSr8, 7, 5);
}
void FillMp3(ProfileLists& l) {
    FillAudioOnly(l, "mp3", kSr8, 9, 5);
}
void FillWav(ProfileLists& l) {
    FillAudioOnly(l, "pcm_s16le", kSr8W, 7, 4);
}
void FillWma(ProfileLists& l) {
    FillAudioOnly(l, "wmav2", kSr8W, 7, 5);
}

void FillIPhone(ProfileLists& l, const std::string& size) {
    const bool extra = size == "640 x 480";
    l.ComboVideoCodec.Replace({"MPEG4", "H264"}, 0);
    l.ComboVideoSize.Replace({size}, 0);
    l.ComboVideoBitrate.Replace(kVbApple, IndexOfItem(kVbApple, extra ? "1500 Kbps" : "1200 Kbps"));
    l.ComboVideoFramerate.Replace(kFr7, 0);
    l.ComboAudioCodec.Replace({"mpeg4aac"}, 0);
    l.ComboAudioBitrate.Replace(kAb13, IndexOfItem(kAb13, extra ? "128 Kbps" : "80 Kbps"));
    l.ComboSamplingRate.Replace(kSr8, 4);
    StereoOriginal(l);
}
void FillIPhoneNormal(ProfileLists& l) {
    FillIPhone(l, "480 x 320");
}
void FillIPhoneExtra(ProfileLists& l) {
    FillIPhone(l, "640 x 480");
}

void FillIPod(ProfileLists& l, bool extra) {
    l.ComboVideoCodec.Replace({"MPEG4", "H264"}, 0);
    l.ComboVideoSize.Replace({extra ? "640 x 480" : "320 x 240"}, 0);
    l.ComboVideoBitrate.Replace(kVbApple, IndexOfItem(kVbApple, extra ? "1500 Kbps" : "512 Kbps"));
    l.ComboVideoFramerate.Replace(kFr7, 0);
    l.ComboAudioCodec.Replace({"mpeg4aac"}, 0);
    l.ComboAudioBitrate.Replace(kAb13, IndexOfItem(kAb13, "64 Kbps"));
    l.ComboSamplingRate.Replace(kSr8, 4);
}
void FillIPodNormal(ProfileLists& l) {
    FillIPod(l, false);
}
void FillIPodExtra(ProfileLists& l) {
    FillIPod(l, true);
}

void FillIPodTouch(ProfileLists& l, bool extra) {
    l.ComboVideoCodec.Replace({"MPEG4", "H264"}, 0);
    l.ComboVideoSize.Replace({extra ? "640 x 480" : "480 x 320"}, 0);
    l.ComboVideoBitrate.Replace(kVbApple, IndexOfItem(kVbApple, extra ? "1500 Kbps" : "1200 Kbps"));
    l.ComboVideoFramerate.Replace(kFr7, 0);
    l.ComboAudioCodec.Replace({"mpeg4aac"}, 0);
    l.ComboAudioBitrate.Replace(kAb13, IndexOfItem(kAb13, "80 Kbps"));
    l.ComboSamplingRate.Replace(kSr8, 4);
}
void FillIPodTouchNormal(ProfileLists& l) {
    FillIPodTouch(l, false);
}
void FillIPodTouchExtra(ProfileLists& l) {
    FillIPodTouch(l, true);
}

void FillMobile(ProfileLists& l) {
    l.ComboVideoCodec.Replace({"MPEG4", "H263", "H264"}, 0);
    l.ComboVideoSize.Replace(kSzMobile, IndexOfItem(kSzMobile, "176 x 144 (QCIF)"));
    l.ComboVideoBitrate.Replace(kVbMobile, IndexOfItem(kVbMobile, "128 Kbps"));
    l.ComboVideoFramerate.Replace(kFrMobile, 0);
    l.ComboAudioCodec.Replace({"amr_nb", "mpeg4aac"}, 0);
    l.ComboAudioBitrate.Replace(kAbAmr, IndexOfItem(kAbAmr, "7400 bps"));
    l.ComboSamplingRate.Replace(kSrAmr, 0);
    l.ComboAudioChannels.Select(1);
}

void FillAvi(ProfileLists& l, bool divx) {
    if (divx)
        l.ComboVideoCodec.Replace({"MPEG4"}, 0);
    else
        l.ComboVideoCodec.Replace({"MPEG4", "H264"}, 0);
    l.ComboVideoSize.Replace(kSzFull, 0);
    l.ComboVideoBitrate.Replace(kVbAvi, IndexOfItem(kVbAvi, "1200 Kbps"));
    l.ComboVideoFramerate.Replace(kFr7, 0);
    if (divx)
        l.ComboAudioCodec.Replace({"mp3"}, 0);
    else
        l.ComboAudioCodec.Replace({"pcm_s16le", "mp3", "mp2", "ac3"}, 0);
    l.ComboAudioBitrate.Replace(kAb13, IndexOfItem(kAb13, "128 Kbps"));
    l.ComboSamplingRate.Replace(kSr8, 5);
    StereoOriginal(l);
}
void FillAviNormal(ProfileLists& l) {
    FillAvi(l, false);
}
void FillAviDivx(ProfileLists& l) {
    FillAvi(l, true);
}

void FillContainer(ProfileLists& l, Items codecs, int size, const Items& bit_rates,
                   const std::string& bit_rate, int frame_rate, Items audio, int audio_bit_rate,
                   int sampling_rate) {
    l.ComboVideoCodec.Replace(std::move(codecs), 0);
    l.ComboVideoSize.Replace(kSzFull, size);
    l.ComboVideoBitrate.Replace(bit_rates, IndexOfItem(bit_rates, bit_rate));
    l.ComboVideoFramerate.Replace(kFr7, frame_rate);
    l.ComboAudioCodec.Replace(std::move(audio), 0);
    l.ComboAudioBitrate.Replace(kAb13, audio_bit_rate);
    l.ComboSamplingRate.Replace(kSr8, sampling_rate);
    StereoOriginal(l);
}

void FillMov(ProfileLists& l) {
    FillContainer(l, {"MPEG4"}, 0, kVb13, "1200 Kbps", 0, {"mpeg4aac"}, 7, 4);
}
void FillMp4(ProfileLists& l) {
    FillContainer(l, {"MPEG4", "H264", "XVid"}, 0, kVb13, "1200 Kbps", 0, {"mpeg4aac"}, 7, 4);
}
void FillMpeg1(ProfileLists& l) {
    FillContainer(l, {"MPEG1VIDEO"}, IndexOfItem(kSzFull, "320 x 240 (VGA)"), kVb13, "1600 Kbps",
                  IndexOfItem(kFr7, "25.0 fps"), {"mp2"}, 9, 4);
}
void FillMpeg2(ProfileLists& l) {
    FillContainer(l, {"MPEG2VIDEO"}, IndexOfItem(kSzFull, "320 x 240 (VGA)"), kVb13, "2000 Kbps",
                  IndexOfItem(kFr7, "25.0 fps"), {"mp2", "ac3"}, 9, 4);
}
void FillWmv(ProfileLists& l) {
    FillContainer(l, {"WMV2"}, IndexOfItem(kSzFull, "320 x 240 (VGA)"), kVb13, "1200 Kbps", 0,
                  {"wmav2"}, 7, 5);
}

void FillPortable(ProfileLists& l, const std::string& size, const Items& bit_rates,
                  const std::string& bit_rate) {
    l.ComboVideoCodec.Replace({"MPEG4"}, 0);
    l.ComboVideoSize.Replace(kSzPmp, IndexOfItem(kSzPmp, size));
    l.ComboVideoBitrate.Replace(bit_rates, IndexOfItem(bit_rates, bit_rate));
    l.ComboVideoFramerate.Replace(kFr7, 0);
    l.ComboAudioCodec.Replace({"mp3", "mp2"}, 0);
    l.ComboAudioBitrate.Replace(kAb13, 7);
    l.ComboSamplingRate.Replace(kSr8, 5);
}
void FillArchos500(ProfileLists& l) {
    FillPortable(l, "480 x 272", kVb13, "1200 Kbps");
}
void FillArchos700(ProfileLists& l) {
    FillPortable(l, "720 x 480", kVbHigh, "2000 Kbps");
}
void FillZen(ProfileLists& l) {
    FillPortable(l, "640 x 480", kVb13, "1200 Kbps");
}

void FillBlackBerryMpeg4(ProfileLists& l) {
    l.ComboVideoCodec.Replace({"MPEG4"}, 0);
    l.ComboVideoSize.Replace({"176 x 144", "240 x 180", "320 x 240"}, 2);
    l.ComboVideoBitrate.Replace(kVbBb, IndexOfItem(kVbBb, "300 Kbps"));
    l.ComboVideoFramerate.Replace(kFrBb, IndexOfItem(kFrBb, "24 fps"));
    l.ComboAudioCodec.Replace({"mpeg4aac"}, 0);
    l.ComboAudioBitrate.Replace(kAbBb, IndexOfItem(kAbBb, "80 Kbps"));
    l.ComboSamplingRate.Replace(kSr8, 4);
}
void FillBlackBerryAvi(ProfileLists& l) {
    l.ComboVideoCodec.Replace({"H263"}, 0);
    l.ComboVideoSize.Replace({"176 x 144"}, 0);
    l.ComboVideoBitrate.Replace(kVbBb, IndexOfItem(kVbBb, "300 Kbps"));
    l.ComboVideoFramerate.Replace(kFrBb, IndexOfItem(kFrBb, "24 fps"));
    l.ComboAudioCodec.Replace({"mp3", "pcm_s16le"}, 0);
    l.ComboAudioBitrate.Replace(kAbBb, IndexOfItem(kAbBb, "80 Kbps"));
    l.ComboSamplingRate.Replace(kSr8, 4);
}
void FillBlackBerry3gp(ProfileLists& l) {
    l.ComboVideoCodec.Replace({"MPEG4", "H263"}, 0);
    l.ComboVideoSize.Replace({"176 x 144", "240 x 180", "320 x 240"}, 0);
    l.ComboVideoBitrate.Replace(kVbBb3gp, IndexOfItem(kVbBb3gp, "120 Kbps"));
    l.ComboVideoFramerate.Replace(kFrBb3gp, IndexOfItem(kFrBb3gp, "15 fps"));
    l.ComboAudioCodec.Replace({"amr_nb", "mpeg4aac"}, 0);
    l.ComboAudioBitrate.Replace(kAbAmr, 0);
    l.ComboSamplingRate.Replace({"8000  Hz", "16000 Hz"}, 0);
}

// The classic audio profiles make sound only: a source without any is refused in plain words
// rather than by the engine's finding that the output holds no stream.
std::string AdaptClassicAudio(const ProfileLists&, const SourceFacts& source, TOutputOptions&,
                              std::vector<std::string>&) {
    return MissingStream(source, false);
}

const std::vector<ProfileEntry>& Catalogue() {
    static const std::vector<ProfileEntry> catalogue = {
        {"Zune Mpeg4 Video (*.mp4)", "MP4", FillZuneMpeg4, BuildDeviceOptions},
        {"Zune WMV Windows Media Video (*.wmv)", "WMV", FillZuneWmv, GetAudioVideoCodec},
        {"M4A - Mpeg4 Audio File (*.m4a)", "M4A", FillM4a, GetAudioVideoCodec, AdaptClassicAudio},
        {"MP3 - Mpeg Layer3 Audio (*.mp3)", "MP3", FillMp3, GetAudioVideoCodec, AdaptClassicAudio},
        {"WAV - Waveform Audio (*.wav)", "WAV", FillWav, GetAudioVideoCodec, AdaptClassicAudio},
        {"WMA - Windows Media Audio (*.wma)", "WMA", FillWma, GetAudioVideoCodec,
         AdaptClassicAudio},
        {"iPhone (*.mp4)", "MP4", FillIPhoneNormal, BuildDeviceOptions},
        {"iPhone Extra (640 x 480) (*.mp4)", "MP4", FillIPhoneExtra, BuildDeviceOptions},
        {"iPod (*.mp4)", "MP4", FillIPodNormal, BuildIPodOptions},
        {"iPod Extra (640 x 480) (*.mp4)", "MP4", FillIPodExtra, BuildIPodOptions},
        {"iPod Touch (*.mp4)", "MP4", FillIPodTouchNormal, BuildIPodTouchOptions},
        {"iPod Touch Extra (640 x 480) (*.mp4)", "MP4", FillIPodTouchExtra, BuildIPodTouchOptions},
        {"iPod Video For TV (*.mp4)", "MP4", FillIPodExtra, BuildIPodOptions},
        {"3GP - Mobile Video Format (*.3gp)", "3GP", FillMobile, BuildMobileOptions},
        {"3G2 - Mobile Video Format (*.3g2)", "3G2", FillMobile, BuildMobileOptions},
        {"AVI - Audio Video Interleave (*.avi)", "AVI", FillAviNormal, BuildAviOptions},
        {"AVI - DivX Video (*.avi)", "AVI", FillAviDivx, BuildDivxOptions},
        {"MOV - QuickTime Video (*.mov)", "MOV", FillMov, GetAudioVideoCodec},
        {"MP4 - MPEG4 Video (*.mp4)", "MP4", FillMp4, GetAudioVideoCodec},
        {"MPEG-1 Movie (*.mpg)", "MPG", FillMpeg1, GetAudioVideoCodec},
        {"MPEG-2 Movie (*.mpg)", "MPG", FillMpeg2, GetAudioVideoCodec},
        {"WMV - Windows Media Video (*.wmv)", "WMV", FillWmv, GetAudioVideoCodec},
        {"Archos AV500/GMini402 (*.avi)", "AVI", FillArchos500, BuildAviOptions},
        {"Archos AV700 (*.avi)", "AVI", FillArchos700, BuildAviOptions},
        {"BlackBerry MPEG-4 Video (*.mp4)", "MP4", FillBlackBerryMpeg4, GetAudioVideoCodec},
        {"BlackBerry AVI Video (*.avi)", "AVI", FillBlackBerryAvi, BuildAviOptions},
        {"BlackBerry 3GP Video (*.3gp)", "3GP", FillBlackBerry3gp, GetAudioVideoCodec},
        {"Creative Zen Vision (*.avi)", "AVI", FillZen, BuildAviOptions},
        {"iRiver PMP100 (*.avi)", "AVI", FillZen, BuildAviOptions},
    };
    return catalogue;
}

// The classic profiles after the group: its channel list has "Original" first, theirs only
// "Stereo" and "Mono", and the classic fillers select or keep by index.
void ClassicChannels(ProfileLists& l) {
    const Items classic = {"Stereo", "Mono"};
    if (l.ComboAudioChannels.Items != classic)
        l.ComboAudioChannels.Replace(classic, l.ComboAudioChannels.Text() == "Mono" ? 1 : 0);
}

// Every profile, the classic ones first.
const std::vector<ProfileEntry>& AllProfiles() {
    static const std::vector<ProfileEntry> all = [] {
        std::vector<ProfileEntry> list = Catalogue();
        list.insert(list.end(), TodayProfiles().begin(), TodayProfiles().end());
        return list;
    }();
    return all;
}

} // namespace

const char* const kProfileSeparator = "              -----------------------------------------";

bool IsProfileSeparator(const std::string& text) {
    return text.find("              ----") != std::string::npos;
}

const std::vector<std::string>& ProfileListEntries() {
    static const std::vector<std::string> entries = [] {
        std::vector<std::string> list;
        const std::vector<ProfileEntry>& catalogue = Catalogue();
        for (size_t i = 0; i < catalogue.size(); ++i) {
            // A separator before the audio formats, the Apple devices, the containers and the
            // portable players.
            if (i == 2 || i == 6 || i == 13 || i == 22)
                list.push_back(kProfileSeparator);
            list.push_back(catalogue[i].Caption);
        }
        list.push_back(kProfileSeparator);
        for (const ProfileEntry& entry : TodayProfiles())
            list.push_back(entry.Caption);
        return list;
    }();
    return entries;
}

const ProfileEntry* FindProfile(const std::string& caption) {
    for (const ProfileEntry& entry : AllProfiles()) {
        if (caption == entry.Caption)
            return &entry;
    }
    return nullptr;
}

bool FillProfileCombos(ProfileLists& lists, const std::string& caption, std::string& output_type) {
    const ProfileEntry* entry = FindProfile(caption);
    if (entry == nullptr)
        return false;
    ClassicChannels(lists);
    entry->Fill(lists);
    output_type = entry->OutputType;
    return true;
}

} // namespace clipwright
