// Outputs that appear only when complete: a conversion writes under a temporary name beside the
// final one and renames it when its job is Done; a stopped, failed or killed one leaves nothing
// under the final name. The window's driver and the command line both finish through here.
#pragma once

#include <string>

namespace clipwright {

// The temporary name of `final_file`: ".NAME.part" in the same folder ("/out/.clip.mp4.part").
// Hidden, so that file managers and players do not offer a half-written file; ".part", as
// incomplete downloads are named; the same folder, so that the rename stays on one file system
// and is atomic; made from the final name alone, so that a run killed midway leaves a file the
// next run of the same row writes over and then renames or removes.
std::string PartialFileName(const std::string& final_file);

// Whether a running conversion, of this process or another, writes `final_file` now (it holds
// the lock of the temporary file). A file left by a killed run is not held.
bool OutputInProgress(const std::string& final_file);

// The temporary file of one conversion, held (locked) from creation until the object goes; the
// job opens it by PartialFileName(FinalFile()). Removed at the end unless Commit moved it.
// One thread at a time.
class PartialOutput {
public:
    // `final_file` as OutputFileName chose it for `input` with `overwrite`.
    PartialOutput(const std::string& final_file, const std::string& input, bool overwrite);
    ~PartialOutput();
    PartialOutput(const PartialOutput&) = delete;
    PartialOutput& operator=(const PartialOutput&) = delete;

    // False when the file could not be made or another conversion holds it; Error() says why.
    bool Held() const { return fd_ >= 0; }
    const std::string& FinalFile() const { return final_file_; }
    const std::string& Error() const { return error_; }

    // Renames the complete file to its final name. With overwrite, a file of that name is
    // replaced. Without, a name taken meanwhile by another program is kept and the next free
    // numbered name is used instead (FinalFile() then says which), since the conversion's work
    // is worth more than the name. False, with Error(), when the rename fails.
    bool Commit();

private:
    std::string final_file_;
    std::string partial_;
    std::string input_;
    bool overwrite_;
    int fd_ = -1; // open on the temporary file, with its lock
    bool committed_ = false;
    std::string error_;
};

} // namespace clipwright
