// The installed scripts: a working folder's own copy wins, the installed one
// fills in, and the menu's work folder gets the scripts it lacks.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/install_paths.h"

namespace {

namespace fs = std::filesystem;

class InstallPathsTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "lumora-install-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        root_ = pattern;
        previous_ = fs::current_path();
        fs::create_directories(root_ / "installed");
        for (const std::string& name : lumora::ProgramScriptNames()) Write(root_ / "installed" / name, "installed " + name);
    }
    void TearDown() override {
        fs::current_path(previous_);
        fs::remove_all(root_);
    }
    static void Write(const fs::path& file, const std::string& text) { std::ofstream(file) << text; }
    static std::string Read(const fs::path& file) {
        std::stringstream ss;
        ss << std::ifstream(file).rdbuf();
        return ss.str();
    }

    fs::path root_, previous_;
};

TEST_F(InstallPathsTest, WorkingFolderCopyFirstThenInstalledCopy) {
    fs::create_directories(root_ / "work");
    fs::current_path(root_ / "work");
    const std::string installed = (root_ / "installed").string();
    EXPECT_EQ(lumora::LocateScript("daq.sh", installed), installed + "/daq.sh");
    Write("daq.sh", "mine");
    EXPECT_EQ(lumora::LocateScript("daq.sh", installed), "./daq.sh");
    EXPECT_EQ(lumora::LocateScript("other.sh", installed), "./other.sh");  // reported missing as before
    EXPECT_EQ(lumora::LocateScript("sub/daq.sh", installed), "sub/daq.sh");
}

TEST_F(InstallPathsTest, WorkFolderIsCreatedFilledAndEnteredKeepingEditedScripts) {
    const fs::path folder = root_ / "home" / "Lumora";
    fs::create_directories(folder);
    Write(folder / "daq.sh", "edited by the user");
    std::string error;
    ASSERT_TRUE(lumora::EnterWorkFolder(folder.string(), (root_ / "installed").string(), &error)) << error;
    EXPECT_EQ(fs::current_path(), folder);
    EXPECT_EQ(Read(folder / "daq.sh"), "edited by the user");
    EXPECT_EQ(Read(folder / "convert.sh"), "installed convert.sh");
    EXPECT_EQ(Read(folder / "7z.sh"), "installed 7z.sh");

    Write(root_ / "file", "");
    EXPECT_FALSE(lumora::EnterWorkFolder((root_ / "file" / "Lumora").string(), "", &error));
    EXPECT_FALSE(error.empty());
}

}  // namespace
