// Creating a job's output: the muxer, its streams chosen from the format's defaults, the settings
// and the inputs (output_setup.cpp), each stream built from the settings at that moment
// (output_streams.cpp) or, for "map_all", kept from the inputs as they are (kept_streams.cpp),
// the container metadata, and the opened byte stream.
#pragma once

#include <string>
#include <utility>

#include "FFMPEG/job/file_setup_context.h"

struct AVCodec;
struct AVFormatContext;
struct AVOutputFormat;

namespace clipwright {

class OutputSetup {
public:
    explicit OutputSetup(FileSetupContext job) : job_(std::move(job)) {}

    // Creates one output with its streams and opens its byte stream. False: the job's last
    // error says why and the output list is unchanged.
    bool OpenOutputFile(const std::string& file_name);
    // Adds a stream of that type to the last output file; throws when there is none.
    void NewStream(int media_type);

private:
    // Creating a stream consumes its kind's codec name, copy flag, disable flag and language.
    void NewVideoStream(OutputFile& output);
    void NewAudioStream(OutputFile& output);
    void NewSubtitleStream(OutputFile& output);
    OutputStreamSetup& AddOutputStream(OutputFile& output, int media_type);
    void ResetEncoder(OutputStreamSetup& setup, const AVCodec* codec);

    // Which kinds of stream the inputs have; throws for a type the library does not list.
    void CheckAudioVideoSubInputs(bool& has_video, bool& has_audio, bool& has_subtitle) const;
    // The steps of opening an output: which kinds of stream it gets, their creation, the
    // metadata and the byte stream with the muxer's options.
    struct StreamKinds {
        bool video = false;
        bool audio = false;
        bool subtitle = false;
    };
    bool ChooseOutputStreams(const AVOutputFormat& format, StreamKinds& kinds);
    bool CreateOutputStreams(OutputFile& output, const StreamKinds& kinds);
    // "map_all": a copy of every input stream the container holds (a text subtitle it cannot
    // hold as it is in the container's own text form), with the files' tags and chapters;
    // what it cannot hold is left out with a log line. False when nothing is left.
    bool CreateKeptStreams(OutputFile& output);
    void SetOutputMetadata(AVFormatContext& context) const;
    bool OpenOutputByteStream(OutputFile& output, const std::string& file_name);

    FileSetupContext job_;
};

} // namespace clipwright
