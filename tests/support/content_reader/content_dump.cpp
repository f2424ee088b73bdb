// Prints what the content reader finds in each file named, for looking at a source or an output
// by hand (not a test): `content_dump [--generated] [--pictures] FILE... [--limit SECONDS]`;
// --generated adds the fidelity suite's generated sources (writing them when the cache is
// stale), --pictures lists every picture's time, duration and mean luma.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/content_reader/content_reader.h"
#include "tests/support/media_gen/fidelity_media.h"

using namespace clipwright::testing;

int main(int argc, char** argv) {
    ContentOptions options;
    std::vector<std::string> files;
    bool pictures = false;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--limit" && i + 1 < argc)
            options.limit = std::atof(argv[++i]);
        else if (std::string(argv[i]) == "--pictures")
            pictures = true;
        else if (std::string(argv[i]) == "--generated")
            for (const GeneratedSource& source : FidelitySources())
                files.push_back(source.path);
        else
            files.emplace_back(argv[i]);
    }
    for (const std::string& file : files) {
        const Content c = ReadContent(file, options);
        std::printf("%s: %s origin %.4f\n", file.c_str(), c.opened ? c.format.c_str() : "-",
                    c.origin);
        for (const VideoContent& v : c.video)
            std::printf("  video #%d %s %dx%d rate %.4f: %d pictures %.4f..%.4f (%.4f) period "
                        "%.4f last %.4f%s errors %d\n",
                        v.index, v.codec.c_str(), v.width, v.height, v.frame_rate, v.Count(),
                        v.Start(), v.End(), v.Length(), v.Period(),
                        v.pictures.empty() ? 0 : v.pictures.back().duration,
                        v.last_duration_known ? "" : " (from rate)", v.decode_errors);
        for (const VideoContent& v : c.video) {
            for (size_t i = 0; pictures && i < v.pictures.size(); ++i)
                std::printf("    %zu: %.5f +%.5f luma %.1f\n", i, v.pictures[i].time,
                            v.pictures[i].duration, v.pictures[i].luma);
        }
        for (const AudioContent& a : c.audio) {
            std::printf("  audio #%d %s %d Hz %s: %lld samples %.4f..%.4f (%.4f) last sound "
                        "%.4f errors %d sounding %.3f silent %.3f onsets",
                        a.index, a.codec.c_str(), a.sample_rate, a.layout.c_str(),
                        static_cast<long long>(a.samples), a.start, a.End(), a.Length(),
                        a.last_sound, a.decode_errors, a.sounding, a.silent);
            for (size_t i = 0; i < a.onsets.size() && i < 12; ++i)
                std::printf(" %.4f", a.onsets[i]);
            std::printf("%s\n", a.onsets.size() > 12 ? " ..." : "");
        }
        for (const SubtitleContent& s : c.subtitles) {
            std::printf("  subtitle #%d %s: %zu events", s.index, s.codec.c_str(), s.events.size());
            for (size_t i = 0; i < s.events.size() && i < 4; ++i)
                std::printf(" %.3f+%.3f", s.events[i].start, s.events[i].duration);
            std::printf("\n");
        }
        const StatedLengths stated = MediaInfoLengths(file);
        std::printf("  mediainfo: general %.3f video", stated.general);
        for (double v : stated.video)
            std::printf(" %.3f", v);
        std::printf(" audio");
        for (double a : stated.audio)
            std::printf(" %.3f", a);
        std::printf("\n");
    }
    return 0;
}
