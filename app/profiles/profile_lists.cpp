#include "app/profiles/profile_lists.h"

#include <utility>

namespace clipwright {

std::string ProfileList::Text() const {
    return ItemIndex >= 0 && ItemIndex < static_cast<int>(Items.size()) ? Items[ItemIndex] : "";
}

void ProfileList::Replace(std::vector<std::string> items, int selected) {
    Items = std::move(items);
    Select(selected);
}

void ProfileList::Select(int index) {
    ItemIndex = index >= 0 && index < static_cast<int>(Items.size()) ? index : -1;
}

int IndexOfItem(const std::vector<std::string>& items, const std::string& text) {
    for (size_t i = 0; i < items.size(); ++i) {
        if (items[i] == text)
            return static_cast<int>(i);
    }
    return -1;
}

ProfileLists::ProfileLists() {
    ComboAudioChannels.Replace({"Stereo", "Mono"}, 0);
    ComboAspectRatio.Replace({"Original", "4:3 (Standard", "16:9 (Wide Screen)"}, 0);
}

std::vector<std::pair<const char*, ProfileList*>> ProfileLists::All() {
    return {
        {"ComboVideoCodec", &ComboVideoCodec},     {"ComboVideoSize", &ComboVideoSize},
        {"ComboVideoBitrate", &ComboVideoBitrate}, {"ComboVideoFramerate", &ComboVideoFramerate},
        {"ComboAudioCodec", &ComboAudioCodec},     {"ComboAudioBitrate", &ComboAudioBitrate},
        {"ComboSamplingRate", &ComboSamplingRate}, {"ComboAudioChannels", &ComboAudioChannels},
        {"ComboAspectRatio", &ComboAspectRatio}};
}

} // namespace clipwright
