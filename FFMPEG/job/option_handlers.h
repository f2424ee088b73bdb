// The option handlers that do more than store a converted value. Each either changes settings
// or throws FFMpegException with the text the user sees; settings stored before a failing
// handler stay stored.
#pragma once

#include <string>

#include "FFMPEG/job/option_context.h"

namespace clipwright {

// "f": the forced format of the next input and output.
void OptFormat(OptionContext& context, const std::string& name);
// The records' input and output formats, each on its own side.
void OptInputFormat(OptionContext& context, const std::string& name);
void OptOutputFormat(OptionContext& context, const std::string& name);
void OptMap(OptionContext& context, const std::string& value);
void OptMapMetaData(OptionContext& context, const std::string& value);
void OptInputTsScale(OptionContext& context, const std::string& value);
void OptRecordingTime(OptionContext& context, const std::string& value);
void OptStartTime(OptionContext& context, const std::string& value);
void OptInputTsOffset(OptionContext& context, const std::string& value);
void OptRecordingTimestamp(OptionContext& context, const std::string& value);
void OptVerbosity(OptionContext& context, const std::string& value);
// "b", "vb", "ab": a generic option, with a warning when the value reads as kbit/s.
void OptBitRate(OptionContext& context, const std::string& name, const std::string& value);
void OptFrameRate(OptionContext& context, const std::string& value);
void OptFrameSize(OptionContext& context, const std::string& value);
void OptFrameAspectRatio(OptionContext& context, const std::string& value);
void OptFramePixFmt(OptionContext& context, const std::string& value);
// Sides 0 to 3: top, bottom, left, right.
void OptCrop(OptionContext& context, int side, const std::string& value);
void OptPad(OptionContext& context, int side, const std::string& value);
void OptPadColor(OptionContext& context, const std::string& value);
void OptQScale(OptionContext& context, const std::string& value);
// The codec of a stream type (video, audio or subtitle); "copy" copies the stream.
void OptCodec(OptionContext& context, int media_type, const std::string& value);
void OptVideoTag(OptionContext& context, const std::string& value);
void OptAudioTag(OptionContext& context, const std::string& value);
void OptPass(OptionContext& context, const std::string& value);
void OptIntraMatrix(OptionContext& context, const std::string& value);
void OptInterMatrix(OptionContext& context, const std::string& value);
// "vstats" takes no value: the file is named after the clock.
void OptVStats(OptionContext& context, const std::string& value);
void OptVStatsFile(OptionContext& context, const std::string& value);
void OptVideoHook(OptionContext& context, const std::string& value);

} // namespace clipwright
