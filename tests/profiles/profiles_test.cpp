// The profile list, the fillers' lists and selections, and what the builders make of them.
#include <filesystem>
#include <fstream>
#include <unistd.h>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/profiles/builders.h"
#include "app/profiles/catalogue.h"
#include "app/profiles/conversion_plan.h"
#include "app/profiles/finished_output.h"
#include "app/profiles/list_texts.h"
#include "app/profiles/output_naming.h"
#include "app/profiles/today_profiles.h"
#include "tests/support/comma_locale.h"

namespace clipwright {
namespace {

using Items = std::vector<std::string>;

ProfileLists Filled(const std::string& caption, std::string* type = nullptr) {
    ProfileLists lists;
    std::string output_type;
    EXPECT_TRUE(FillProfileCombos(lists, caption, output_type)) << caption;
    if (type != nullptr)
        *type = output_type;
    return lists;
}

TOutputOptions Built(const ProfileLists& lists, const std::string& caption) {
    const ProfileEntry* entry = FindProfile(caption);
    TOutputOptions options;
    InitOutputOptions(options);
    entry->Build(lists, entry->OutputType, options);
    return options;
}

TEST(ProfileListTest, ThirtyThreeEntriesWithFourSeparatorsThenTodaysGroup) {
    const Items& entries = ProfileListEntries();
    ASSERT_EQ(entries.size(), 43u);
    EXPECT_EQ(entries[0], "Zune Mpeg4 Video (*.mp4)");
    EXPECT_EQ(entries[14], "iPod Video For TV (*.mp4)");
    EXPECT_EQ(entries[32], "iRiver PMP100 (*.avi)");
    EXPECT_EQ(entries[34], "MP4 - H.264 + AAC, plays everywhere (*.mp4)");
    for (size_t i : {2u, 7u, 15u, 25u, 33u}) {
        EXPECT_EQ(entries[i], kProfileSeparator);
        EXPECT_TRUE(IsProfileSeparator(entries[i]));
        EXPECT_EQ(FindProfile(entries[i]), nullptr);
    }
    EXPECT_EQ(std::string(kProfileSeparator).size(), 55u);
    EXPECT_TRUE(IsProfileSeparator("x              ----y"));
    EXPECT_FALSE(IsProfileSeparator("             ----"));
    int profiles = 0;
    for (const std::string& entry : entries)
        profiles += FindProfile(entry) != nullptr ? 1 : 0;
    EXPECT_EQ(profiles, 38);
    EXPECT_EQ(FindProfile("iPod (*.MP4)"), nullptr) << "captions match exactly";
}

TEST(ProfileFillerTest, ZuneListsAndTheTrailingSpace) {
    std::string type;
    const ProfileLists l = Filled("Zune Mpeg4 Video (*.mp4)", &type);
    EXPECT_EQ(type, "MP4");
    EXPECT_EQ(l.ComboVideoSize.Items, (Items{"320 x 240 ", "640 x 480"}));
    EXPECT_EQ(l.ComboVideoSize.Text(), "320 x 240 ");
    EXPECT_EQ(l.ComboVideoBitrate.Text(), "1500 Kbps");
    EXPECT_EQ(l.ComboVideoFramerate.Items, (Items{"29.97 fps"}));
    EXPECT_EQ(l.ComboAudioBitrate.Text(), "128 Kbps");
    EXPECT_EQ(l.ComboSamplingRate.Items[0], "8000  Hz");
    EXPECT_EQ(l.ComboSamplingRate.Text(), "44100 Hz");
}

TEST(ProfileFillerTest, AudioProfilesClearTheVideoLists) {
    const ProfileLists l = Filled("M4A - Mpeg4 Audio File (*.m4a)");
    for (const ProfileList* list :
         {&l.ComboVideoCodec, &l.ComboVideoSize, &l.ComboVideoBitrate, &l.ComboVideoFramerate}) {
        EXPECT_TRUE(list->Items.empty());
        EXPECT_EQ(list->ItemIndex, -1);
    }
    EXPECT_EQ(l.ComboSamplingRate.Text(), "48000 Hz");
    EXPECT_EQ(Filled("MP3 - Mpeg Layer3 Audio (*.mp3)").ComboAudioBitrate.Text(), "192 Kbps");
}

TEST(ProfileFillerTest, MonoKeptUntilAProfileSetsTheChannels) {
    ProfileLists lists;
    std::string type;
    FillProfileCombos(lists, "3GP - Mobile Video Format (*.3gp)", type);
    EXPECT_EQ(lists.ComboAudioChannels.Text(), "Mono");
    FillProfileCombos(lists, "BlackBerry MPEG-4 Video (*.mp4)", type);
    EXPECT_EQ(lists.ComboAudioChannels.Text(), "Mono");
    FillProfileCombos(lists, "MOV - QuickTime Video (*.mov)", type);
    EXPECT_EQ(lists.ComboAudioChannels.Text(), "Stereo");
}

TEST(ProfileFillerTest, IPhoneAndIPhoneExtra) {
    ProfileLists l = Filled("iPhone (*.mp4)");
    EXPECT_EQ(l.ComboVideoSize.Items, (Items{"480 x 320"}));
    EXPECT_EQ(l.ComboVideoBitrate.Text(), "1200 Kbps");
    EXPECT_EQ(l.ComboAudioBitrate.Text(), "80 Kbps");
    l = Filled("iPhone Extra (640 x 480) (*.mp4)");
    EXPECT_EQ(l.ComboVideoSize.Items, (Items{"640 x 480"}));
    EXPECT_EQ(l.ComboVideoBitrate.Text(), "1500 Kbps");
    EXPECT_EQ(l.ComboAudioBitrate.Text(), "128 Kbps");
}

TEST(ProfileFillerTest, MpegAudioListsAndOtherSelections) {
    EXPECT_EQ(Filled("MPEG-1 Movie (*.mpg)").ComboAudioCodec.Items, (Items{"mp2"}));
    const ProfileLists mpeg2 = Filled("MPEG-2 Movie (*.mpg)");
    EXPECT_EQ(mpeg2.ComboAudioCodec.Items, (Items{"mp2", "ac3"}));
    EXPECT_EQ(mpeg2.ComboVideoBitrate.Text(), "2000 Kbps");
    EXPECT_EQ(mpeg2.ComboVideoSize.Text(), "320 x 240 (VGA)");
    EXPECT_EQ(mpeg2.ComboVideoFramerate.Text(), "25.0 fps");
    const ProfileLists avi = Filled("AVI - Audio Video Interleave (*.avi)");
    EXPECT_EQ(avi.ComboVideoBitrate.Items.size(), 11u);
    EXPECT_EQ(avi.ComboAudioCodec.Text(), "pcm_s16le");
    EXPECT_EQ(Filled("Archos AV700 (*.avi)").ComboVideoBitrate.Text(), "2000 Kbps");
    EXPECT_EQ(Filled("Archos AV500/GMini402 (*.avi)").ComboVideoSize.Text(), "480 x 272");
    const ProfileLists bb = Filled("BlackBerry 3GP Video (*.3gp)");
    EXPECT_EQ(bb.ComboSamplingRate.Items, (Items{"8000  Hz", "16000 Hz"}));
    EXPECT_EQ(bb.ComboVideoFramerate.Text(), "15 fps");
    EXPECT_EQ(Filled("iPod Video For TV (*.mp4)").ComboVideoSize.Items, (Items{"640 x 480"}));
}

TEST(ProfileBuilderTest, DivxAviDefaults) {
    const TOutputOptions o = Built(Filled("AVI - DivX Video (*.avi)"), "AVI - DivX Video (*.avi)");
    EXPECT_EQ(o.VideoCodec, "mpeg4");
    EXPECT_EQ(o.AudioCodec, "libmp3lame");
    EXPECT_EQ(o.VideoBitrate, 1200000);
    EXPECT_EQ(o.AudioBitrate, 128000);
    EXPECT_EQ(o.AudioSampleRate, 48000);
    EXPECT_EQ(o.AudioChannels, 2);
    EXPECT_EQ(o.FrameSize, "");
    EXPECT_NE(o.ExtraOptions.find("vtag=DX50"), std::string::npos);
}

TEST(ProfileBuilderTest, Mp4CodecChoices) {
    const std::string caption = "MP4 - MPEG4 Video (*.mp4)";
    ProfileLists l = Filled(caption);
    l.ComboVideoCodec.Select(2);
    EXPECT_EQ(Built(l, caption).VideoCodec, "libxvid");
    l.ComboVideoCodec.Select(1);
    EXPECT_EQ(Built(l, caption).VideoCodec, "libx264");
    EXPECT_EQ(Built(l, caption).AudioCodec, "libfaac");
}

TEST(ProfileBuilderTest, MobileAndBlackBerry3gp) {
    const std::string caption = "3GP - Mobile Video Format (*.3gp)";
    ProfileLists l = Filled(caption);
    TOutputOptions o = Built(l, caption);
    EXPECT_EQ(o.AudioCodec, "libamr_nb");
    EXPECT_EQ(o.AudioBitrate, 7400);
    EXPECT_EQ(o.AudioSampleRate, 8000);
    EXPECT_EQ(o.AudioChannels, 1);
    EXPECT_EQ(o.FrameSize, "176x144");
    EXPECT_EQ(o.VideoBitrate, 128000);
    l.ComboAudioCodec.Select(1);
    EXPECT_EQ(Built(l, caption).AudioCodec, "libamr_nb") << "mpeg4aac changes nothing";

    const std::string bb = "BlackBerry 3GP Video (*.3gp)";
    ProfileLists b = Filled(bb);
    b.ComboAudioChannels.Select(0);
    o = Built(b, bb);
    EXPECT_EQ(o.AudioCodec, "libamr_nb");
    EXPECT_EQ(o.AudioBitrate, 4750);
    EXPECT_EQ(o.AudioChannels, 1) << "3GP is mono whatever the list says";
    EXPECT_EQ(o.FrameRate, "15");
}

TEST(ProfileBuilderTest, AudioOnlyProfiles) {
    TOutputOptions o =
        Built(Filled("MP3 - Mpeg Layer3 Audio (*.mp3)"), "MP3 - Mpeg Layer3 Audio (*.mp3)");
    EXPECT_TRUE(o.DisableVideo);
    EXPECT_EQ(o.VideoCodec, "");
    EXPECT_EQ(o.VideoBitrate, 0);
    EXPECT_EQ(o.AudioCodec, "libmp3lame");
    EXPECT_EQ(o.AudioBitrate, 192000);
    o = Built(Filled("WAV - Waveform Audio (*.wav)"), "WAV - Waveform Audio (*.wav)");
    EXPECT_EQ(o.AudioCodec, "pcm_s16le");
    EXPECT_TRUE(o.DisableVideo);
}

TEST(ProfileBuilderTest, MendedAutoSizeAndFrameRates) {
    // "Auto" keeps the source size instead of failing the job.
    const TOutputOptions o =
        Built(Filled("Creative Zen Vision (*.avi)"), "Creative Zen Vision (*.avi)");
    ProfileLists l = Filled("Archos AV500/GMini402 (*.avi)");
    l.ComboVideoSize.Select(0);
    EXPECT_EQ(l.ComboVideoSize.Text(), "Auto");
    EXPECT_EQ(Built(l, "Archos AV500/GMini402 (*.avi)").FrameSize, "");
    EXPECT_EQ(o.FrameSize, "640x480");
    EXPECT_NE(o.ExtraOptions.find("vtag=XVID"), std::string::npos);

    EXPECT_EQ(FrameRateOfText("Auto"), "");
    EXPECT_EQ(FrameRateOfText("14.985 fps"), "15000/1001");
    EXPECT_EQ(FrameRateOfText("23.975 fps"), "24000/1001");
    EXPECT_EQ(FrameRateOfText("29.97 fps"), "30000/1001");
    EXPECT_EQ(FrameRateOfText("25.0 fps"), "25.0");
    EXPECT_EQ(FrameRateOfText("11 fps"), "11");
    EXPECT_EQ(Built(Filled("Zune Mpeg4 Video (*.mp4)"), "Zune Mpeg4 Video (*.mp4)").FrameRate,
              "30000/1001");
}

TEST(ProfileBuilderTest, PlayersGetBaselineH264) {
    ProfileLists l = Filled("iPod (*.mp4)");
    l.ComboVideoCodec.Select(1);
    TOutputOptions o = Built(l, "iPod (*.mp4)");
    EXPECT_EQ(o.VideoCodec, "libx264");
    EXPECT_EQ(o.AudioCodec, "libfaac");
    EXPECT_NE(o.ExtraOptions.find("profile=baseline"), std::string::npos);
    EXPECT_NE(o.ExtraOptions.find("level=13"), std::string::npos);
    EXPECT_EQ(o.AudioChannels, -1) << "channels follow the source";
    l.ComboVideoCodec.Select(0);
    EXPECT_EQ(Built(l, "iPod (*.mp4)").ExtraOptions, "") << "nothing for MPEG-4";
}

TEST(ProfileBuilderTest, FrameSizesVolumeAndAspect) {
    EXPECT_EQ(GetFrameSize("176 x 144 (QCIF)"), "176x144");
    EXPECT_EQ(GetFrameSize("320 x 240 "), "320x240");
    EXPECT_EQ(GetFrameSize("Original Video Size"), "original");
    EXPECT_EQ(GetFrameSize("Auto"), "Auto");

    EXPECT_EQ(VolumeLevel(10), 600);
    EXPECT_EQ(VolumeLevel(0), 1);
    EXPECT_EQ(VolumeLevel(5), 255);
    EXPECT_EQ(VolumeLevel(11), 255);
    EXPECT_EQ(VolumeLabel(6), "120%");

    EXPECT_EQ(DisplayAspectValue(0, "720x480"), "1.5");
    EXPECT_EQ(DisplayAspectValue(0, "1280x720"), "1.7778");
    EXPECT_EQ(DisplayAspectValue(0, "640x480"), "1.3333");
    EXPECT_EQ(DisplayAspectValue(0, " "), "1.3333");
    EXPECT_EQ(DisplayAspectValue(0, "big"), "1.3333");
    EXPECT_EQ(DisplayAspectValue(0, "200x100"), "2");
    EXPECT_EQ(DisplayAspectValue(1, "720x480"), "4:3");
    EXPECT_EQ(DisplayAspectValue(2, ""), "16:9");
}

// What the front ends build for a row, as under the "C" locale when the user's decimal
// separator is a comma.
TEST(ProfileBuilderTest, SameRecordsUnderACommaLocale) {
    const char* const sizes[] = {"1280x720", "720x480", "560x320", "176x144", "big", "0x0"};
    auto build_all = [&sizes] {
        std::vector<TOutputOptions> records;
        for (const std::string& caption : ProfileListEntries()) {
            if (FindProfile(caption) == nullptr)
                continue;
            const ProfileLists lists = Filled(caption);
            for (const char* size : sizes) {
                TOutputOptions o = Built(lists, caption);
                o.AspectRatio = DisplayAspectValue(0, size);
                records.push_back(o);
            }
        }
        return records;
    };
    const std::vector<TOutputOptions> in_c = build_all();
    const testing::CommaLocale locale;
    ASSERT_TRUE(locale.Set()) << testing::kCommaLocaleMissing;
    const std::vector<TOutputOptions> in_comma = build_all();
    ASSERT_EQ(in_comma.size(), in_c.size());
    for (size_t i = 0; i < in_c.size(); ++i) {
        EXPECT_TRUE(in_comma[i] == in_c[i])
            << i << ": " << in_comma[i].AspectRatio << " " << in_comma[i].FrameRate;
    }
    EXPECT_EQ(DisplayAspectValue(0, "1280x720"), "1.7778");
    EXPECT_EQ(FrameRateText(30000, 1001), "29.97");
}

TEST(OutputNamingTest, NumberedUnlessOverwriting) {
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("clipwright-naming-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    const std::string input = "/somewhere/clip.avi";
    EXPECT_EQ(OutputFileName(input, folder.string(), "MP4", false), (folder / "clip.mp4").string());
    std::ofstream(folder / "clip.mp4") << "x";
    EXPECT_EQ(OutputFileName(input, folder.string(), "MP4", false),
              (folder / "clip-1.mp4").string());
    std::ofstream(folder / "clip-1.mp4") << "x";
    EXPECT_EQ(OutputFileName(input, folder.string(), "MP4", false),
              (folder / "clip-2.mp4").string());
    EXPECT_EQ(OutputFileName(input, folder.string(), "MP4", true), (folder / "clip.mp4").string());
    // A name a running conversion writes is taken; a name another program takes meanwhile moves
    // the finished output on; an unfinished one leaves nothing.
    {
        PartialOutput first((folder / "clip-2.mp4").string(), input, false);
        ASSERT_TRUE(first.Held()) << first.Error();
        EXPECT_FALSE(PartialOutput((folder / "clip-2.mp4").string(), input, true).Held());
        EXPECT_EQ(OutputFileName(input, folder.string(), "MP4", false),
                  (folder / "clip-3.mp4").string());
        std::ofstream(folder / "clip-2.mp4") << "x";
        ASSERT_TRUE(first.Commit()) << first.Error();
        EXPECT_EQ(first.FinalFile(), (folder / "clip-3.mp4").string());
        const PartialOutput stopped((folder / "clip-4.mp4").string(), input, false);
    }
    EXPECT_EQ(std::filesystem::file_size(folder / "clip-2.mp4"), 1u) << "the other's file stays";
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 4);
    std::filesystem::remove_all(folder);
}

// The one road from a listed file to its job: the window and the command line both take it.
TEST(ConversionPlanTest, RecordsPathAndRefusals) {
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("clipwright-plan-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    const std::string source = (folder / "clip.mp4").string();
    std::ofstream(source) << "x";
    ConversionChoices choices;
    choices.profile = "AVI - DivX Video (*.avi)";
    FillProfileCombos(choices.lists, choices.profile, choices.output_type);
    choices.volume_level = VolumeLevel(7);

    const ConversionPlan plan = PlanConversion({source, "720x576"}, choices, "/out", false);
    ASSERT_TRUE(plan.Planned()) << plan.reason;
    EXPECT_EQ(plan.output_file, "/out/clip.avi");
    EXPECT_EQ(plan.input.FileName, source);
    const TOutputOptions built = Built(choices.lists, choices.profile);
    EXPECT_EQ(plan.output.VideoCodec, built.VideoCodec);
    EXPECT_EQ(plan.output.AudioVolume, VolumeLevel(7));
    EXPECT_EQ(plan.output.AspectRatio, "1.25") << "\"Original\" from the row's size text";

    // Overwriting a source with the same type in its own folder would destroy it.
    ConversionChoices same = choices;
    same.output_type = "MP4";
    const ConversionPlan onto = PlanConversion({source}, same, folder.string(), true);
    EXPECT_EQ(onto.refusal, ConversionPlan::Refusal::ReplacesInput);
    EXPECT_FALSE(onto.reason.empty());
    EXPECT_EQ(PlanConversion({source}, same, folder.string(), false).output_file,
              (folder / "clip-1.mp4").string());

    same.profile = "no such profile";
    EXPECT_EQ(PlanConversion({source}, same, "/out", false).reason, "Fail to add file to list!");
    std::filesystem::remove_all(folder);
}

// A box: inside it, turned to a portrait source, the display aspect kept, never enlarged.
TEST(TodayProfilesTest, SizeBoxes) {
    const struct {
        const char* box;
        int width, height;
        double aspect;
        const char* size; // empty: the source's own
    } cases[] = {
        {"1920 x 1080 (Full HD)", 2880, 2160, 4.0 / 3, "1440x1080"},
        {"1920 x 1080 (Full HD)", 1280, 720, 16.0 / 9, ""},
        {"1280 x 720 (HD)", 3840, 2160, 16.0 / 9, "1280x720"},
        {"1280 x 720 (HD)", 1080, 1920, 9.0 / 16, "720x1280"},
        {"854 x 480", 1920, 1080, 0, "854x480"},
        {"640 x 360", 720, 576, 16.0 / 9, "640x360"},     // anamorphic: square pixels
        {"1920 x 1080 (Full HD)", 720, 480, 4.0 / 3, ""}, // fits: the stream keeps its shape
        {"Original", 853, 481, 0, "852x480"},             // 4:2:0 needs even sides
    };
    for (const auto& c : cases)
        EXPECT_EQ(FitInBox(c.box, c.width, c.height, c.aspect), c.size) << c.box << " " << c.width;
}

// What the plan makes of a source: kept where it fits, re-encoded where not, refused without
// what the profile makes.
TEST(TodayProfilesTest, PlanFromTheSourcesFacts) {
    ConversionChoices choices;
    choices.profile = "MP4 - H.264 + AAC, plays everywhere (*.mp4)";
    FillProfileCombos(choices.lists, choices.profile, choices.output_type);
    EXPECT_EQ(choices.lists.ComboVideoCodec.Text(), kKeepVideoWhenFits);
    choices.volume_level = VolumeLevel(5);
    SourceFacts phone{.probed = true,
                      .has_video = true,
                      .width = 1920,
                      .height = 1080,
                      .display_aspect = 16.0 / 9,
                      .pixel_format = "yuv420p",
                      .video_codec = "h264",
                      .video_profile = 100,
                      .video_level = 40,
                      .frame_rate_num = 30,
                      .frame_rate_den = 1,
                      .has_audio = true,
                      .audio_codec = "aac",
                      .audio_profile = 1,
                      .audio_channels = 2,
                      .audio_sample_rate = 48000,
                      .audio_bit_rate = 128000};
    ConversionPlan plan =
        PlanConversion(PlanSourceOf("/in/phone.mp4", phone), choices, "/out", true);
    EXPECT_EQ(plan.output.VideoCodec, "copy");
    EXPECT_EQ(plan.output.AudioCodec, "copy");
    EXPECT_EQ(plan.output.AudioVolume, 256) << "a copied sound takes no volume";
    EXPECT_EQ(plan.notes.size(), 2u);

    SourceFacts big = phone;
    big.width = 3840;
    big.height = 2160;
    big.video_level = 51;
    big.audio_bit_rate = 320000;
    plan = PlanConversion(PlanSourceOf("/in/big.mkv", big), choices, "/out", true);
    EXPECT_EQ(plan.output.VideoCodec, "libx264");
    EXPECT_EQ(plan.output.FrameSize, "1920x1080");
    EXPECT_EQ(plan.output.AudioCodec, "aac") << "320 kbps is over the chosen rate";
    EXPECT_NE(plan.output.ExtraOptions.find("pix_fmt=yuv420p\n"), std::string::npos);
    EXPECT_EQ(plan.output.ExtraOptions.find("deinterlace"), std::string::npos);
    big.interlaced = true;
    plan = PlanConversion(PlanSourceOf("/in/big.mts", big), choices, "/out", true);
    EXPECT_NE(plan.output.ExtraOptions.find("deinterlace=1\n"), std::string::npos);

    SourceFacts sound = phone;
    sound.has_video = false;
    plan = PlanConversion(PlanSourceOf("/in/song.m4a", sound), choices, "/out", true);
    EXPECT_EQ(plan.reason, "The source has no video; a video profile needs video.");
    choices.profile = "Opus Audio (*.opus)";
    FillProfileCombos(choices.lists, choices.profile, choices.output_type);
    EXPECT_EQ(choices.lists.ComboAudioChannels.Text(), "Original");
    plan = PlanConversion(PlanSourceOf("/in/song.m4a", sound), choices, "/out", true);
    EXPECT_TRUE(plan.Planned()) << plan.reason;
    EXPECT_EQ(plan.output.AudioSampleRate, 48000);
    EXPECT_EQ(plan.output.AudioChannels, 2) << "the first audio stream's channels";
    SourceFacts silent = phone;
    silent.has_audio = false;
    EXPECT_EQ(PlanConversion(PlanSourceOf("/in/clip.mp4", silent), choices, "/out", true).reason,
              "The source has no sound; an audio profile needs sound.");

    // The classic lists come back after the group: their fillers select by index.
    FillProfileCombos(choices.lists, "MOV - QuickTime Video (*.mov)", choices.output_type);
    EXPECT_EQ(choices.lists.ComboAudioChannels.Items, (Items{"Stereo", "Mono"}));
    EXPECT_EQ(choices.lists.ComboAudioChannels.Text(), "Stereo");
    for (const char* classic :
         {"M4A - Mpeg4 Audio File (*.m4a)", "MP3 - Mpeg Layer3 Audio (*.mp3)",
          "WAV - Waveform Audio (*.wav)", "WMA - Windows Media Audio (*.wma)"}) {
        choices.profile = classic;
        FillProfileCombos(choices.lists, choices.profile, choices.output_type);
        EXPECT_EQ(
            PlanConversion(PlanSourceOf("/in/clip.mp4", silent), choices, "/out", true).reason,
            "The source has no sound; an audio profile needs sound.")
            << classic;
    }
}

TEST(ConversionPlanTest, OutcomeOfAJobsEnd) {
    EXPECT_STREQ(OutcomeText(OutcomeOf(true, false, false)), "Done");
    EXPECT_STREQ(OutcomeText(OutcomeOf(false, true, false)), "Fail");
    EXPECT_STREQ(OutcomeText(OutcomeOf(false, true, true)), "Fail") << "a failure stays one";
    EXPECT_STREQ(OutcomeText(OutcomeOf(false, false, false)), "Abort");
    EXPECT_STREQ(OutcomeText(OutcomeOf(true, false, true)), "Abort") << "stopped by the user";
}

} // namespace
} // namespace clipwright
