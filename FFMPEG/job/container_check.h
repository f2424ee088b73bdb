// Whether a container takes a stream copied as it is, asked of the muxer itself before the
// output is written: its codec tables say yes to some codecs its header then refuses. And which
// container a file name asks for.
#pragma once

#include <string>

struct AVCodecParameters;
struct AVOutputFormat;

namespace clipwright {

// The tag a copied stream keeps: the source's where the container reads it as the same codec
// or has no tag of its own for the codec; none otherwise (a transport stream's stream type or
// 3GP's "s263" names another codec in another container's table).
unsigned CopiedCodecTag(const AVOutputFormat& format, const AVCodecParameters& source);

// A trial header of `format` with the stream alone, written to nowhere: false when the muxer
// refuses the stream (its reason goes to the log).
bool ContainerTakes(const AVOutputFormat& format, const AVCodecParameters& source);

// The short name of the muxer the library picks for `file_name` by its extension ("ipod" for
// clip.m4a), to write that container under another name; empty when it knows none or the
// libraries are not loaded.
std::string OutputFormatName(const std::string& file_name);

} // namespace clipwright
