// The option builders: the selected list texts of a profile turned into output options.
#pragma once

#include <string>

#include "FFMPEG/job/options.h"
#include "app/profiles/profile_lists.h"

namespace clipwright {

// The generic builder and the mobile and iPod ones.
void GetAudioVideoCodec(const ProfileLists& lists, const std::string& output_type,
                        TOutputOptions& options);
void BuildMobileOptions(const ProfileLists& lists, const std::string& output_type,
                        TOutputOptions& options);
void BuildIPodOptions(const ProfileLists& lists, const std::string& output_type,
                      TOutputOptions& options);
// The iPod Touch profiles: the iPod builder's fields (channels follow the source).
void BuildIPodTouchOptions(const ProfileLists& lists, const std::string& output_type,
                           TOutputOptions& options);
// The generic builder plus what the players need of this library generation: H.264 in the
// Baseline profile at a level they play (Zune MPEG-4, iPhone).
void BuildDeviceOptions(const ProfileLists& lists, const std::string& output_type,
                        TOutputOptions& options);
// The generic builder plus the XVID four-character code of the AVI players.
void BuildAviOptions(const ProfileLists& lists, const std::string& output_type,
                     TOutputOptions& options);
// The generic builder plus the DX50 code of the DivX profile.
void BuildDivxOptions(const ProfileLists& lists, const std::string& output_type,
                      TOutputOptions& options);

// "176 x 144 (QCIF)" → "176x144"; "Original Video Size" → "original".
std::string GetFrameSize(const std::string& size_text);

// The engine frame rate of a frame-rate list text: empty for "Auto".
std::string FrameRateOfText(const std::string& rate_text);

// The volume track bar: position 0…10 → label and engine volume.
std::string VolumeLabel(int position);
int VolumeLevel(int position);

// A display aspect as the engine's "aspect" value: four decimals at most ("1.7778", "1.5").
std::string AspectRatioText(double ratio);

// The display aspect the driver sets: "4:3", "16:9", or computed from the source size text
// ("720x480" → "1.5"), with "1.3333" when that fails.
std::string DisplayAspectValue(int aspect_index, const std::string& video_size_text);

} // namespace clipwright
