// The binding against fake libraries (libcwfake*.so.N) that no system search can find, so that
// a folder without a library really lacks it.
#include <dlfcn.h>

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "FFMPEG/binding/av_binding.h"

namespace clipwright {
namespace {

namespace fs = std::filesystem;

const std::string kFakes = FAKE_LIBS_DIR;
constexpr AvLibrary kAll[] = {AvLibrary::avcodec, AvLibrary::avformat,   AvLibrary::avutil,
                              AvLibrary::swscale, AvLibrary::swresample, AvLibrary::avfilter};

// A folder of links to fake libraries, removed with the fixture.
class TAVBindingFakeTest : public ::testing::Test {
protected:
    void SetUp() override {
        UnloadAllLibraries();
        folder_ = fs::temp_directory_path() /
                  ("clipwright-fakes-" + std::to_string(getpid()) + "-" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder_);
        fs::create_directories(folder_);
    }
    void TearDown() override {
        UnloadAllLibraries();
        fs::remove_all(folder_);
    }

    // Links `library` from the fake variant into the folder under its versioned or plain name.
    void Put(AvLibrary library, const std::string& variant = "complete", bool versioned = true) {
        const std::string built = kFakes + "/" + variant + "/" + LibraryFileName(library, true);
        ASSERT_TRUE(fs::exists(built)) << built;
        fs::create_symlink(built, folder_ / LibraryFileName(library, versioned));
    }
    void PutAll(bool versioned = true) {
        for (AvLibrary library : kAll)
            Put(library, "complete", versioned);
    }
    std::string PathOf(AvLibrary library) const {
        return (folder_ / LibraryFileName(library, true)).string();
    }
    // Whether the process still has the library at `path` mapped.
    static bool Mapped(const std::string& path) {
        void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
        if (handle == nullptr)
            return false;
        dlclose(handle);
        return true;
    }

    fs::path folder_;
};

TEST_F(TAVBindingFakeTest, FileNamesFollowTheHeaderMajors) {
    EXPECT_EQ(LibraryFileName(AvLibrary::avcodec, true), "libcwfakeavcodec.so.59");
    EXPECT_EQ(LibraryFileName(AvLibrary::avutil, true), "libcwfakeavutil.so.57");
    EXPECT_EQ(LibraryFileName(AvLibrary::swscale, false), "libcwfakeswscale.so");
    EXPECT_EQ(LibraryFileName(AvLibrary::avfilter, true), "libcwfakeavfilter.so.8");
}

TEST_F(TAVBindingFakeTest, CompleteFolderBindsEveryTable) {
    PutAll();
    ASSERT_TRUE(LoadAllLibraries(folder_.string(), true)) << LoadErrorText();
    EXPECT_TRUE(LibrariesLoaded());
    EXPECT_EQ(LoadErrorText(), "");
    for (AvLibrary library : kAll) {
        EXPECT_TRUE(LibraryBound(library));
        EXPECT_TRUE(Mapped(PathOf(library)));
    }
    EXPECT_NE(av().avcodec_open2, nullptr);
    EXPECT_NE(av().av_gcd, nullptr);
    EXPECT_NE(av().av_buffersink_get_frame, nullptr);
    EXPECT_EQ(av().avformat_version() >> 16, 59u);

    UnloadAllLibraries();
    EXPECT_FALSE(LibrariesLoaded());
    EXPECT_EQ(av().avcodec_open2, nullptr) << "no slot may outlive its library";
    for (AvLibrary library : kAll) {
        EXPECT_FALSE(LibraryBound(library));
        EXPECT_FALSE(LibraryModuleLoaded(library));
        EXPECT_FALSE(Mapped(PathOf(library)));
    }
}

TEST_F(TAVBindingFakeTest, FolderWithoutALibraryFailsAndUnloadsTheOnesBefore) {
    Put(AvLibrary::avcodec);
    EXPECT_FALSE(LoadAllLibraries(folder_.string(), true));
    EXPECT_EQ(LoadErrorText(), "Load libraray libcwfakeavformat.so.59 error: "
                               "libcwfakeavformat.so.59: cannot open shared object file: "
                               "No such file or directory");
    EXPECT_EQ(LibraryErrorText(AvLibrary::avformat), LoadErrorText());
    EXPECT_FALSE(LibrariesLoaded());
    EXPECT_FALSE(LibraryModuleLoaded(AvLibrary::avcodec));
    EXPECT_FALSE(LibraryBound(AvLibrary::avcodec));
    EXPECT_FALSE(Mapped(PathOf(AvLibrary::avcodec))) << "avcodec was loaded first and must go";
}

TEST_F(TAVBindingFakeTest, LibraryLackingAnEntryPointNamesIt) {
    PutAll();
    fs::remove(folder_ / LibraryFileName(AvLibrary::avutil, true));
    Put(AvLibrary::avutil, "no_gcd");
    EXPECT_FALSE(LoadAllLibraries(folder_.string(), true));
    const std::string prefix = "Load function av_gcd@libcwfakeavutil.so.57 error: ";
    ASSERT_EQ(LoadErrorText().substr(0, prefix.size()), prefix) << LoadErrorText();
    EXPECT_NE(LoadErrorText().find("undefined symbol: av_gcd"), std::string::npos)
        << LoadErrorText();
    for (AvLibrary library : kAll) {
        EXPECT_FALSE(LibraryModuleLoaded(library));
        EXPECT_FALSE(Mapped(PathOf(library)));
    }
}

TEST_F(TAVBindingFakeTest, LibraryOfAnotherGenerationIsRefused) {
    PutAll();
    fs::remove(folder_ / LibraryFileName(AvLibrary::avformat, true));
    Put(AvLibrary::avformat, "old_avformat");
    EXPECT_FALSE(LoadAllLibraries(folder_.string(), true));
    EXPECT_EQ(LoadErrorText(), "Load libraray libcwfakeavformat.so.59 error: "
                               "major version 58 found, 59 required");
    EXPECT_FALSE(LibraryModuleLoaded(AvLibrary::avcodec));
}

TEST_F(TAVBindingFakeTest, SecondLoadAfterSuccessReturnsAtOnce) {
    PutAll();
    ASSERT_TRUE(LoadAllLibraries(folder_.string(), true));
    // Nothing is looked up again: even an emptied folder still answers true.
    fs::remove_all(folder_);
    EXPECT_TRUE(LoadAllLibraries(folder_.string(), true));
    EXPECT_TRUE(LoadAllLibraries("", false));
    EXPECT_TRUE(LibraryBound(AvLibrary::avfilter));

    UnloadAllLibraries();
    EXPECT_FALSE(LoadAllLibraries(folder_.string(), true));
}

TEST_F(TAVBindingFakeTest, LoadAfterAFailureStartsFromScratch) {
    Put(AvLibrary::avcodec);
    ASSERT_FALSE(LoadAllLibraries(folder_.string(), true));
    const std::string first_error = LoadErrorText();

    for (AvLibrary library : kAll) {
        if (library != AvLibrary::avcodec)
            Put(library);
    }
    EXPECT_TRUE(LoadAllLibraries(folder_.string(), true)) << LoadErrorText();
    EXPECT_EQ(LoadErrorText(), "");
    // The failing library's own text outlives the failure.
    EXPECT_EQ(LibraryErrorText(AvLibrary::avformat), first_error);
}

TEST_F(TAVBindingFakeTest, PlainNamesAreTriedOnlyWhenAskedFor) {
    PutAll(/*versioned=*/false);
    EXPECT_FALSE(LoadAllLibraries(folder_.string(), true));
    EXPECT_NE(LoadErrorText().find("libcwfakeavcodec.so.59"), std::string::npos);

    EXPECT_TRUE(LoadAllLibraries(folder_.string(), false)) << LoadErrorText();
    EXPECT_TRUE(Mapped((folder_ / LibraryFileName(AvLibrary::swresample, false)).string()));
}

TEST_F(TAVBindingFakeTest, NoFolderMeansTheSystemSearchOnly) {
    PutAll();
    EXPECT_FALSE(LoadAllLibraries("", true));
    EXPECT_EQ(LoadErrorText(), "Load libraray libcwfakeavcodec.so.59 error: "
                               "libcwfakeavcodec.so.59: cannot open shared object file: "
                               "No such file or directory");
}

} // namespace
} // namespace clipwright
