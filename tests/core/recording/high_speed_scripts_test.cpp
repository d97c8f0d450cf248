// The scripts the launchers start: daq.sh and convert.sh over lumora-cli with
// the simulator sending on loopback, and 7z.sh archiving a data folder.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "acquisition/frame_encoder.h"
#include "formats/lmra_records.h"
#include "platform/udp_socket.h"
#include "recording/high_speed_convert.h"

namespace {

namespace fs = std::filesystem;

const fs::path kScripts = fs::path(LUMORA_TEST_DATA).parent_path().parent_path() / "scripts";

class ScriptTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("lumora_scripts_" + std::to_string(::getpid()) + "_" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        for (const char* s : {"daq.sh", "convert.sh", "7z.sh"}) fs::copy_file(kScripts / s, dir_ / s);
        // The program's folder: lumora-cli beside the scripts.
        fs::create_symlink(LUMORA_CLI_PATH, dir_ / "lumora-cli");
        ::unsetenv("LUMORA_CLI");
    }
    void TearDown() override { fs::remove_all(dir_); }

    static std::string Quote(const std::string& s) {
        std::string q = "'";
        for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
        return q + "'";
    }
    // Runs a command in the test folder; its output and exit code.
    int Run(const std::string& command, std::string* output = nullptr) {
        std::string full = "cd " + Quote(dir_.string()) + " && " + command + " 2>&1";
        FILE* p = ::popen(full.c_str(), "r");
        if (!p) return -1;
        std::string out;
        char buf[512];
        while (std::fgets(buf, sizeof buf, p)) out += buf;
        int status = ::pclose(p);
        if (output) *output = out;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    static std::vector<std::string> Lines(const fs::path& p) {
        std::ifstream in(p);
        std::vector<std::string> v;
        for (std::string l; std::getline(in, l);) v.push_back(l);
        return v;
    }

    fs::path dir_;
};

TEST_F(ScriptTest, DaqCapturesTheSimulatorAndConvertTabulatesIt) {
    // daq.sh picks its port: 0 lets the system choose, and hdaq says which.
    std::string cmd = "cd " + Quote(dir_.string()) + " && sh daq.sh 0 300 20 1 '.\\Data2\\run 1' 2>&1";
    FILE* daq = ::popen(cmd.c_str(), "r");
    ASSERT_NE(daq, nullptr);
    std::string out;
    int port = 0;
    char line[512];
    while (port == 0 && std::fgets(line, sizeof line, daq)) {
        out += line;
        if (const char* at = std::strstr(line, "listening on UDP port ")) port = std::atoi(at + 22);
    }
    ASSERT_GT(port, 0) << out;
    std::string sim;
    EXPECT_EQ(Run(Quote(LUMORA_CLI_PATH) + " simulate --port " + std::to_string(port) +
                      " --rate 0 --count 300 --channels 4 --peaks 3 --cmd-port 0 --quiet",
                  &sim),
              0)
        << sim;
    while (std::fgets(line, sizeof line, daq)) out += line;
    int status = ::pclose(daq);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << out;
    EXPECT_NE(out.find("frames captured: 300"), std::string::npos) << out;
    EXPECT_NE(out.find("frames dropped by the system: 0"), std::string::npos) << out;
    // The file name's backslashes are folders, its blank survives the split.
    ASSERT_TRUE(fs::exists(dir_ / "Data2/run 1.dat")) << out;
    EXPECT_NE(Lines(dir_ / "Data2/run 1.log").size(), 0u);

    ASSERT_EQ(Run("sh convert.sh 1510000 100 '.\\Data2\\run' 1", &out), 0) << out;
    std::vector<std::string> rows = Lines(dir_ / "Data2/run 1.csv");
    ASSERT_EQ(rows.size(), 301u) << out;
    // 4 channels with 3 peaks: 12 readings, channel numbers moved by 100.
    std::string row = rows[1];
    EXPECT_EQ(std::count(row.begin(), row.end(), ','), 1 + 2 * 12) << row;
    EXPECT_NE(row.find(",101,15"), std::string::npos) << row;
    EXPECT_NE(rows.back().find(",104,15"), std::string::npos) << rows.back();

    EXPECT_EQ(Run("sh convert.sh 0 0 no-such-file", &out), 1) << out;
    EXPECT_EQ(Run("sh daq.sh 1 2 3", &out), 2) << out;
}

// One archive per folder, brought up to date by each run: with 7z, and with
// tar where 7z is missing (a PATH that has the shell's other tools but no 7z).
TEST_F(ScriptTest, ArchiveIsOnePerFolderAndTakesOnlyWhatIsNewOrChanged) {
    fs::create_directories(dir_ / "bin");
    for (const char* tool : {"tr", "tar", "mv", "rm"})
        fs::create_symlink(fs::path("/usr/bin") / tool, dir_ / "bin" / tool);
    const std::string no7z = "PATH=" + Quote((dir_ / "bin").string()) + " /bin/sh 7z.sh ";

    for (const std::string& archive : {std::string("dat.7z"), std::string("dat.tar")}) {
        const bool tar = archive == "dat.tar";
        if (!tar && ::system("command -v 7z >/dev/null 2>&1") != 0) continue;
        const std::string run = tar ? no7z : "sh 7z.sh ";
        const std::string lister = tar ? "tar -tvf " : "7z l -slt ";
        fs::path data = dir_ / ("my data " + archive);
        fs::create_directories(data / "sub");
        std::ofstream(data / "a.dat") << "first";
        std::ofstream(data / "b.dat") << "second";
        std::ofstream(data / "a.csv") << "table";
        std::ofstream(data / "sub" / "c.dat") << "deeper";
        std::string out, list;
        // The folder's blank splits it into two words, as the window passes it.
        ASSERT_EQ(Run(run + Quote(data.parent_path().string()) + "/my data " + archive, &out), 0) << out;
        ASSERT_EQ(Run(lister + Quote((data / archive).string()), &list), 0) << list;
        EXPECT_NE(list.find("a.dat"), std::string::npos) << list;
        EXPECT_NE(list.find("b.dat"), std::string::npos) << list;
        EXPECT_EQ(list.find("a.csv"), std::string::npos) << list;
        EXPECT_EQ(list.find("c.dat"), std::string::npos) << list;

        ASSERT_EQ(Run(run + Quote(data.string()), &out), 0) << out;  // nothing new
        // A new recording and a grown one are added; b.dat is not packed again.
        std::ofstream(data / "d.dat") << "fourth";
        std::ofstream(data / "a.dat", std::ios::app) << " and more";
        ASSERT_EQ(Run(run + Quote(data.string()), &out), 0) << out;
        ASSERT_EQ(Run(lister + Quote((data / archive).string()), &list), 0) << list;
        EXPECT_NE(list.find("d.dat"), std::string::npos) << list;
        ASSERT_EQ(Run((tar ? "tar -xOf " : "7z e -so ") + Quote((data / archive).string()) +
                          (tar ? " ./a.dat" : " a.dat") + " >grown",
                      &out),
                  0)
            << out;
        const std::vector<std::string> grown = Lines(dir_ / "grown");
        ASSERT_FALSE(grown.empty());
        EXPECT_TRUE(grown.back().size() >= 14 && grown.back().substr(grown.back().size() - 14) == "first and more")
            << grown.back();
        size_t archives = 0;
        for (const auto& e : fs::directory_iterator(data)) {
            const std::string name = e.path().filename().string();
            archives += name.rfind("dat.", 0) == 0;
            EXPECT_EQ(name.find(".part"), std::string::npos) << name;
        }
        EXPECT_EQ(archives, 1u) << "one archive per folder";
        auto count = [&](const std::string& name) {
            size_t n = 0;
            for (size_t at = list.find(name); at != std::string::npos; at = list.find(name, at + 1)) ++n;
            return n;
        };
        // tar keeps each version it added: b.dat was never added again.
        EXPECT_EQ(count("b.dat"), 1u) << list;
        EXPECT_EQ(count("a.dat"), tar ? 2u : 1u) << list;
        EXPECT_EQ(Lines(data / "b.dat"), std::vector<std::string>{"second"}) << "a source is never altered";
        EXPECT_EQ(Lines(data / "a.dat"), std::vector<std::string>{"first and more"});
        EXPECT_TRUE(fs::exists(data / "sub" / "c.dat"));
    }

    fs::create_directories(dir_ / "empty");
    std::string out;
    EXPECT_EQ(Run("sh 7z.sh empty", &out), 0) << out;
    EXPECT_TRUE(fs::is_empty(dir_ / "empty"));
    EXPECT_NE(Run("sh 7z.sh no-such-folder", &out), 0) << out;
}

TEST_F(ScriptTest, HostileFileNamesAreFilesNotOptionsOrCommands) {
    // The name as the window passes it: split at its blanks, one word each.
    const std::string name = "-run $(touch pwned) 'q\" ü";
    std::string words;
    for (size_t start = 0, end; start <= name.size(); start = end + 1) {
        end = std::min(name.find(' ', start), name.size());
        words += " " + Quote(name.substr(start, end - start));
    }
    std::string out;
    ASSERT_EQ(Run("sh daq.sh 0 0 1 1" + words, &out), 0) << out;
    EXPECT_TRUE(fs::exists(dir_ / (name + ".dat"))) << out;
    EXPECT_NE(Lines(dir_ / (name + ".log")).size(), 0u) << out;
    ASSERT_EQ(Run("sh convert.sh 0 0" + words, &out), 0) << out;
    EXPECT_TRUE(fs::exists(dir_ / (name + ".csv"))) << out;
    EXPECT_GE(Lines(dir_ / (name + ".log")).size(), 2u) << "both reports in the log: " << out;
    EXPECT_FALSE(fs::exists(dir_ / "pwned"));

    // A folder named like an option, recordings with upper-case extensions.
    fs::path data = dir_ / "-d";
    fs::create_directories(data);
    for (const char* f : {"-x.DAT", "@list.dat", "b $(touch pwned).Dat", "c.csv"}) std::ofstream(data / f) << f;
    ASSERT_EQ(Run("sh 7z.sh -d", &out), 0) << out;
    std::string list;
    for (const auto& e : fs::directory_iterator(data)) {
        if (e.path().filename().string().rfind("dat.", 0) != 0) continue;
        ASSERT_EQ(Run((e.path().extension() == ".7z" ? "7z l " : "tar -tf ") + Quote(e.path().string()), &list), 0);
    }
    for (const char* f : {"-x.DAT", "@list.dat", "b $(touch pwned).Dat"}) {
        EXPECT_NE(list.find(f), std::string::npos) << f << " missing from " << list;
        EXPECT_EQ(Lines(data / f), std::vector<std::string>{f}) << "a source is never altered";
    }
    EXPECT_EQ(list.find("c.csv"), std::string::npos) << list;
    EXPECT_FALSE(fs::exists(dir_ / "pwned") || fs::exists(data / "pwned"));
}

TEST_F(ScriptTest, HdaqOnAFullDiskCountsOnlyWhatReachedTheFileAndFails) {
    // A file size limit plays the full disk: writes past it fail (with
    // SIGXFSZ ignored) as they do when the disk is full.
    const std::string cmd = "cd " + Quote(dir_.string()) + " && trap '' XFSZ && ulimit -f 40 && exec " +
                            Quote(LUMORA_CLI_PATH) + " hdaq 0 3000 20 0 cap 2>&1";
    FILE* daq = ::popen(cmd.c_str(), "r");
    ASSERT_NE(daq, nullptr);
    std::string out;
    int port = 0;
    char line[512];
    while (port == 0 && std::fgets(line, sizeof line, daq)) {
        out += line;
        if (const char* at = std::strstr(line, "listening on UDP port ")) port = std::atoi(at + 22);
    }
    ASSERT_GT(port, 0) << out;
    lumora::UdpSocket tx;
    ASSERT_TRUE(tx.Create());
    lumora::TrailerFields t;
    const std::vector<uint8_t> frame = lumora::EncodeWavelengthFrame({4, 4}, std::vector<uint16_t>(8, 700), &t);
    for (int i = 0; i < 3000; ++i) tx.SendTo(frame.data(), frame.size(), "127.0.0.1", static_cast<uint16_t>(port));
    while (std::fgets(line, sizeof line, daq)) out += line;
    const int status = ::pclose(daq);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << out;
    EXPECT_NE(out.find("cannot write cap.dat"), std::string::npos) << out;
    EXPECT_NE(out.find("frames lost (not written): "), std::string::npos) << out;
    EXPECT_NE(out.find("file written: cap.dat"), std::string::npos) << out;
    const char* captured = std::strstr(out.c_str(), "frames captured: ");
    ASSERT_NE(captured, nullptr) << out;

    // The file holds exactly the records counted, each whole.
    std::ifstream in(dir_ / "cap.dat", std::ios::binary);
    std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), {});
    ASSERT_GT(file.size(), 5u);
    size_t records = 0;
    const uint64_t unclaimed =
        lumora::ForEachLmraRecord(file.data() + 5, file.size() - 5, [&](const lumora::LmraRecordView& r) {
            EXPECT_EQ(r.length, frame.size());
            ++records;
        });
    EXPECT_EQ(unclaimed, 0u);
    EXPECT_GT(records, 0u);
    EXPECT_EQ(records, std::strtoull(captured + 17, nullptr, 10)) << out;
}

TEST_F(ScriptTest, CliRefusesNumbersItCannotUse) {
    const std::string cli = Quote(LUMORA_CLI_PATH);
    const std::vector<std::pair<std::string, std::string>> refused = {
        {"record --lines 4294967296", "--lines must be a whole number from 1 to 4294967295, not '4294967296'"},
        {"record --port 7008x", "--port must be a whole number"},
        {"record --seconds soon", "--seconds must be a number"},
        {"simulate --count -1", "--count must be a whole number"},
        {"simulate --rate 1e999", "--rate must be a number"},
        {"discover --seconds 5s", "--seconds must be a whole number"},
        {"send --port 65536 '*IDN?'", "--port must be a whole number from 1 to 65535"},
        {"hdaq 8190 ' 5' 10 1 x", "COUNT must be a whole number"},
        {"hconvert 1510000 2147483648 x", "CHANNEL_OFFSET must be a whole number"},
    };
    for (const auto& [args, message] : refused) {
        std::string out;
        EXPECT_EQ(Run(cli + " " + args, &out), 2) << args << ": " << out;
        EXPECT_NE(out.find(message), std::string::npos) << args << ": " << out;
    }
    EXPECT_FALSE(fs::exists(dir_ / "x.dat"));
}

}  // namespace
