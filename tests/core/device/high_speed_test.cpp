#include "device/high_speed.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include <chrono>
#include <filesystem>
#include <optional>
#include <sstream>
#include <thread>

#include "core/device/temp_dir.h"
#include "platform/process.h"
#include "settings/settings_store.h"

namespace lumora {
namespace {

namespace fs = std::filesystem;

struct LauncherFixture : ::testing::Test {
    LauncherFixture() { LoadHighSpeedSettings(settings, daq, convert); }
    std::string Ini() { return test::TempDir::Read(dir.File("Lumora.ini")); }

    test::TempDir dir;
    SettingsStore settings{dir.File("Lumora.ini")};
    HighSpeedDaqSettings daq;
    HighSpeedConvertSettings convert;
};

TEST_F(LauncherFixture, DefaultsGiveTheDefaultArgumentLinesAndFillingWritesNothing) {
    HighSpeedDaqForm daqForm(settings, daq, convert);
    HighSpeedConvertForm convertForm(settings, daq, convert);
    EXPECT_EQ(daqForm.InitialTexts(), (std::array<std::string, 5>{"8190", "500000", "120", "10", "./Data2/test"}));
    daqForm.Init();
    convertForm.Init();
    EXPECT_EQ(daqForm.ArgumentLine(), "8190 500000 120 10 ./Data2/test");
    EXPECT_EQ(convertForm.ArgumentLine(), "1510000 0 ./Data2/test");
    EXPECT_EQ(Ini(), "");
}

TEST_F(LauncherFixture, NumberBoxesStoreTheTextAsTypedWhenTheNumberChanges) {
    HighSpeedDaqForm form(settings, daq, convert);
    form.Init();
    form.OnBoxChanged(HighSpeedDaqForm::kPort, "");
    EXPECT_EQ(settings.GetString("HDAQ", "Port", "?"), "");
    EXPECT_EQ(daq.port, 0);
    EXPECT_EQ(form.ArgumentLine(), "0 500000 120 10 ./Data2/test");

    form.OnBoxChanged(HighSpeedDaqForm::kPort, "0080");
    EXPECT_EQ(settings.GetString("HDAQ", "Port", "?"), "0080");
    EXPECT_EQ(form.ArgumentLine(), "80 500000 120 10 ./Data2/test");
    // The same number typed differently is not written again.
    form.OnBoxChanged(HighSpeedDaqForm::kPort, "80");
    EXPECT_EQ(settings.GetString("HDAQ", "Port", "?"), "0080");

    form.OnBoxChanged(HighSpeedDaqForm::kInterval, "5");
    HighSpeedConvertForm convertForm(settings, daq, convert);
    convertForm.Init();
    convertForm.OnBoxChanged(HighSpeedConvertForm::kChannelOffset, "-4");
    EXPECT_EQ(convertForm.ArgumentLine(), "1510000 -4 ./Data2/test");

    // What was stored is what the next start reads.
    HighSpeedDaqSettings daq2;
    HighSpeedConvertSettings convert2;
    LoadHighSpeedSettings(settings, daq2, convert2);
    EXPECT_EQ(DaqArgumentLine(daq2), "80 500000 120 5 ./Data2/test");
    EXPECT_EQ(ConvertArgumentLine(convert2), "1510000 -4 ./Data2/test");
}

TEST_F(LauncherFixture, FileNameIsSharedByBothLaunchers) {
    HighSpeedConvertForm convertForm(settings, daq, convert);
    convertForm.Init();
    convertForm.OnBoxChanged(HighSpeedConvertForm::kFileName, "./run7/data");
    EXPECT_EQ(daq.fileName, "./run7/data");
    EXPECT_EQ(settings.GetString("HDAQ", "FileName", "?"), "./run7/data");
    EXPECT_EQ(settings.GetString("HDAQ_CONVERT", "FileName", "none"), "none");

    // An acquisition form opened afterwards shows it; its change reaches the
    // conversion record, while the conversion form already open keeps its copy.
    HighSpeedDaqForm daqForm(settings, daq, convert);
    EXPECT_EQ(daqForm.InitialTexts()[4], "./run7/data");
    daqForm.Init();
    daqForm.OnBoxChanged(HighSpeedDaqForm::kFileName, "./run8/data");
    EXPECT_EQ(convert.fileName, "./run8/data");
    EXPECT_EQ(convertForm.fileName, "./run7/data");
    EXPECT_EQ(settings.GetString("HDAQ", "FileName", "?"), "./run8/data");
}

// Runs the test in a directory of its own, so that scripts are looked up there.
class InDirectory {
public:
    explicit InDirectory(const fs::path& dir) : old_(fs::current_path()) { fs::current_path(dir); }
    ~InDirectory() { fs::current_path(old_); }

private:
    fs::path old_;
};

// Waits (30 s at most) for a file a started script writes.
std::string WaitForFile(const std::string& name) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
        if (fs::exists(name)) return test::TempDir::Read(name);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return "<no file>";
}

const char kRecordArgs[] =
    "{ echo \"$0\"; echo \"$#\"; for a in \"$@\"; do printf '[%s]\\n' \"$a\"; done; } > args.tmp\n"
    "mv args.tmp args.txt\n";

TEST_F(LauncherFixture, ScriptsGetTheArgumentLineAsPlainSeparateArguments) {
    InDirectory in(dir.Path());
    HighSpeedDaqForm form(settings, daq, convert);
    form.Init();
    EXPECT_EQ(form.Ok(), StartResult::NotFound);

    test::TempDir::Write("daq.sh", kRecordArgs);
    form.OnBoxChanged(HighSpeedDaqForm::kFileName, "my  data;touch pwned;$(touch pwned2)`touch pwned3` 'q\"");
    ASSERT_EQ(form.Ok(), StartResult::Started);
    const std::string parts = "[my]\n[data;touch]\n[pwned;$(touch]\n[pwned2)`touch]\n[pwned3`]\n['q\"]\n";
    EXPECT_EQ(WaitForFile("args.txt"), "./daq.sh\n10\n[8190]\n[500000]\n[120]\n[10]\n" + parts);
    EXPECT_FALSE(fs::exists("pwned"));
    EXPECT_FALSE(fs::exists("pwned2"));
    EXPECT_FALSE(fs::exists("pwned3"));

    test::TempDir::Write("convert.sh", kRecordArgs);
    fs::remove("args.txt");
    HighSpeedConvertForm convertForm(settings, daq, convert);
    convertForm.Init();
    ASSERT_EQ(convertForm.Ok(), StartResult::Started);
    EXPECT_EQ(WaitForFile("args.txt"), "./convert.sh\n8\n[1510000]\n[0]\n" + parts);
}

// Sets an environment variable (or removes it, for nullptr) for one scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        value ? ::setenv(name, value, 1) : ::unsetenv(name);
    }
    ~ScopedEnv() { old_ ? ::setenv(name_, old_->c_str(), 1) : ::unsetenv(name_); }

private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST_F(LauncherFixture, ScriptsLeadASessionOfTheirOwnAndOnADesktopGetATerminal) {
    InDirectory in(dir.Path());
    // The script notes its process and session, then its arguments.
    test::TempDir::Write("daq.sh", std::string("echo \"$$ $(cut -d' ' -f6 /proc/$$/stat)\" > sid.txt\n") + kRecordArgs);
    HighSpeedDaqForm form(settings, daq, convert);
    form.Init();
    form.OnBoxChanged(HighSpeedDaqForm::kFileName, "-x $(touch pwned)");
    const std::string args = "./daq.sh\n7\n[8190]\n[500000]\n[120]\n[10]\n[-x]\n[$(touch]\n[pwned)]\n";
    {
        ScopedEnv noX("DISPLAY", nullptr), noWayland("WAYLAND_DISPLAY", nullptr);
        ASSERT_EQ(form.Ok(), StartResult::Started);
        EXPECT_EQ(WaitForFile("args.txt"), args);
        std::istringstream ids(test::TempDir::Read("sid.txt"));
        pid_t pid = 0, sid = 0;
        ids >> pid >> sid;
        EXPECT_EQ(sid, pid) << "the script leads a new session";
        EXPECT_NE(sid, ::getsid(0));
    }
    // A desktop with the system's terminal: the terminal gets "-e" and then
    // the shell, the script and the arguments as separate words.
    fs::remove("args.txt");
    fs::remove("sid.txt");
    test::TempDir::Write("x-terminal-emulator",
                         "#!/bin/sh\nprintf '%s\\n' \"$@\" > terminal.txt\n[ \"$1\" = -e ] || exit 1\nshift\n"
                         "exec \"$@\" </dev/null >/dev/null\n");
    fs::permissions("x-terminal-emulator", fs::perms::owner_all);
    std::string path = dir.Path().string() + ":" + std::getenv("PATH");
    ScopedEnv display("DISPLAY", ":99"), onPath("PATH", path.c_str());
    ASSERT_EQ(form.Ok(), StartResult::Started);
    EXPECT_EQ(WaitForFile("args.txt"), args);
    std::string terminal = test::TempDir::Read("terminal.txt");
    EXPECT_EQ(terminal.rfind("-e\n/bin/sh\n-c\n", 0), 0u) << terminal;
    EXPECT_NE(terminal.find("\n/bin/sh\n./daq.sh\n8190\n500000\n120\n10\n-x\n$(touch\npwned)\n"), std::string::npos)
        << terminal;
    pid_t pid = 0, sid = 0;
    std::istringstream(WaitForFile("sid.txt")) >> pid >> sid;
    EXPECT_NE(sid, ::getsid(0));
    EXPECT_FALSE(fs::exists("pwned"));
}

TEST(ProcessStart, SplitsAtRunsOfBlanksAndReportsWhatCannotStart) {
    EXPECT_EQ(SplitAtBlanks("  a  b c "), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(SplitAtBlanks("10 \t x"), (std::vector<std::string>{"10", "\t", "x"}));
    EXPECT_TRUE(SplitAtBlanks("   ").empty());
    EXPECT_EQ(StartDetached("/nonexistent/program", {}), StartResult::NotFound);
    EXPECT_EQ(StartShellScript("/nonexistent/script.sh", {}), StartResult::NotFound);
    test::TempDir dir;
    EXPECT_EQ(StartShellScript(dir.Path().string(), {}), StartResult::NotFound);  // a directory is no script
    // A started process is no child of ours: nothing is left to wait for.
    EXPECT_EQ(StartDetached("/bin/sh", {"-c", "sleep 0.2"}), StartResult::Started);
    errno = 0;
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
}

}  // namespace
}  // namespace lumora
