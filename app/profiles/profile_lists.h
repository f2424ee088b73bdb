// The parameter lists a profile fills (video codec, size, bit rates, rates, audio codec,
// channels, aspect) as plain data: entries and a selection. The window adapts them to its combo
// boxes; the command line and the tests use them as they are.
#pragma once

#include <string>
#include <vector>

namespace clipwright {

struct ProfileList {
    std::vector<std::string> Items;
    int ItemIndex = -1; // -1: nothing selected

    // The selected entry's text; empty when nothing is selected.
    std::string Text() const;
    void Replace(std::vector<std::string> items, int selected);
    void Select(int index); // an index outside the list leaves nothing selected
    void Clear() { Replace({}, -1); }
};

// The index of `text` among `items`; -1 when it is none of them.
int IndexOfItem(const std::vector<std::string>& items, const std::string& text);

struct ProfileLists {
    ProfileLists();

    ProfileList ComboVideoCodec;
    ProfileList ComboVideoSize;
    ProfileList ComboVideoBitrate;
    ProfileList ComboVideoFramerate;
    ProfileList ComboAudioCodec;
    ProfileList ComboAudioBitrate;
    ProfileList ComboSamplingRate;
    ProfileList ComboAudioChannels; // "Stereo", "Mono"
    ProfileList ComboAspectRatio;   // "Original", "4:3 (Standard", "16:9 (Wide Screen)"

    // Name and list, in the order the window shows them.
    std::vector<std::pair<const char*, ProfileList*>> All();
};

} // namespace clipwright
