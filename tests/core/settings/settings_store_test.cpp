#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>
#include <vector>

#include "settings/settings_store.h"

namespace lumora {
namespace {

namespace fs = std::filesystem;

// Each test gets a fresh directory of its own (tests run in parallel).
class SettingsFile : public ::testing::Test {
protected:
    void SetUp() override {
        std::string tmpl = (fs::path(::testing::TempDir()) / "lumora_settings_XXXXXX").string();
        ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
        dir_ = tmpl;
        path_ = (dir_ / "Lumora.ini").string();
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    void Write(const std::string& text) {
        std::ofstream(path_, std::ios::binary) << text;
    }
    std::string Read() const {
        std::ifstream in(path_, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    fs::path dir_;
    std::string path_;
};

TEST_F(SettingsFile, MissingFileGivesDefaultsAndDefaultPathIsCurrentDirectory) {
    SettingsStore store(path_);
    EXPECT_EQ(store.GetInt("Net", "Port", 7008), 7008);
    EXPECT_EQ(store.GetString("DataSave", "Dir", "NULL"), "NULL");
    EXPECT_FALSE(fs::exists(path_));

    // The default store works on the file of the current directory.
    fs::path old = fs::current_path();
    fs::current_path(dir_);
    SettingsStore here;
    EXPECT_EQ(here.Path(), "./Lumora.ini");
    EXPECT_TRUE(here.SetInt("Net", "Port", 7008));
    fs::current_path(old);
    EXPECT_EQ(Read(), "[Net]\nPort=7008\n");
}

TEST_F(SettingsFile, IntegersTakeSignAndLeadingDigits) {
    Write("[View]\nLanguage=2\nRaw=7abc\nList=abc\nRT=\nOS=  -12 \nBig=99999999999\nSmall=-99999999999\n"
          "Plus=+5\n");
    SettingsStore store(path_);
    EXPECT_EQ(store.GetInt("View", "Language", 0), 2);
    EXPECT_EQ(store.GetInt("View", "Raw", 0), 7);
    EXPECT_EQ(store.GetInt("View", "List", 1), 0);  // present without digits: 0, not the default
    EXPECT_EQ(store.GetInt("View", "RT", 5), 0);
    EXPECT_EQ(store.GetInt("View", "OS", 0), -12);
    EXPECT_EQ(store.GetInt("View", "Big", 0), INT_MAX);
    EXPECT_EQ(store.GetInt("View", "Small", 0), INT_MIN);
    EXPECT_EQ(store.GetInt("View", "Plus", 0), 5);
    EXPECT_EQ(store.GetInt("View", "Missing", 42), 42);
    EXPECT_EQ(store.GetInt("Other", "Language", 42), 42);
}

TEST_F(SettingsFile, NamesMatchWithoutCaseAndFirstSectionWins) {
    Write("; comment\n[net]\n  PORT = 9000 \nip=10.0.0.5\n[NET]\nCmdPort=1\n[DataSave]\nDir=NULL\n");
    SettingsStore store(path_);
    EXPECT_EQ(store.GetInt("Net", "Port", 7008), 9000);
    EXPECT_EQ(store.GetString("Net", "IP", ""), "10.0.0.5");
    // A second section of the same name is not consulted.
    EXPECT_EQ(store.GetInt("Net", "CmdPort", 7009), 7009);
    // "NULL" is stored text; resolving it is the window's business.
    EXPECT_EQ(store.GetString("datasave", "DIR", "x"), "NULL");
}

TEST_F(SettingsFile, StringsAreCutToCapacityWithoutSplittingCharacters) {
    Write("[S]\nA=abcdef\nB=\xE4\xB8\xAD\xE6\x96\x87x\nC=\n");
    SettingsStore store(path_);
    EXPECT_EQ(store.GetString("S", "A", "", 4), "abc");
    EXPECT_EQ(store.GetString("S", "A", "", 260), "abcdef");
    EXPECT_EQ(store.GetString("S", "B", "", 3), "\xE4\xB8\xAD\xE6\x96\x87");
    EXPECT_EQ(store.GetString("S", "B", "", 2), "\xE4\xB8\xAD");
    EXPECT_EQ(store.GetString("S", "A", "", 1), "");
    EXPECT_EQ(store.GetString("S", "A", "", 0), "");
    EXPECT_EQ(store.GetString("S", "C", "dflt"), "");  // present but empty is not missing
    EXPECT_EQ(store.GetString("S", "Missing", "longdefault", 5), "long");
}

TEST_F(SettingsFile, WritesKeepEveryOtherLineCommentAndOrder) {
    const std::string original =
        "; Lumora settings\r\n[Net]\r\nPort=7008\r\n# note\r\nno equals sign here\r\n\r\n[View]\r\nRaw=0\r\n";
    Write(original);
    SettingsStore store(path_);
    EXPECT_TRUE(store.SetString("net", "port", "7010"));     // replace in place
    EXPECT_TRUE(store.SetString("Net", "CmdPort", "7009"));  // new key at the end of its section
    EXPECT_TRUE(store.SetString("HDAQ", "FileName", ".\\Data2\\test"));  // new section at the end
    EXPECT_TRUE(store.SetString("View", "List", "line1\nline2"));     // one line only
    EXPECT_EQ(Read(),
              "; Lumora settings\r\n[Net]\r\nport=7010\r\n# note\r\nno equals sign here\r\nCmdPort=7009\r\n\r\n"
              "[View]\r\nRaw=0\r\nList=line1 line2\r\n[HDAQ]\r\nFileName=.\\Data2\\test\r\n");
    EXPECT_EQ(store.GetInt("Net", "Port", 0), 7010);
    EXPECT_EQ(store.GetString("View", "List", ""), "line1 line2");
}

TEST_F(SettingsFile, GarbageAndUnreadableFilesNeverLoseKeys) {
    // Binary garbage around real keys: the keys still read, the garbage stays.
    const char raw[] = "\xEF\xBB\xBF[Net]\nPort=7100\n\x01\x02\xFF\xFE\0\0zz\n[View\nRaw=1\n=5\n";
    std::string garbage(raw, sizeof raw - 1);
    Write(garbage);
    SettingsStore store(path_);
    EXPECT_EQ(store.GetInt("Net", "Port", 0), 7100);
    EXPECT_EQ(store.GetInt("View", "Raw", 0), 1);  // header without "]" still names the section
    EXPECT_TRUE(store.SetString("Net", "IP", "1.2.3.4"));
    std::string after = Read();
    EXPECT_EQ(after.substr(0, 3), "\xEF\xBB\xBF");
    EXPECT_NE(after.find(std::string("\x01\x02\xFF\xFE\0\0zz\n", 8)), std::string::npos);
    EXPECT_EQ(store.GetInt("Net", "Port", 0), 7100);
    EXPECT_EQ(store.GetString("Net", "IP", ""), "1.2.3.4");

    // Something that cannot be read as a file is never replaced.
    fs::remove(path_);
    fs::create_directory(path_);
    fs::create_directory(fs::path(path_) / "inside");
    EXPECT_EQ(store.GetInt("Net", "Port", 3), 3);
    EXPECT_FALSE(store.SetString("Net", "Port", "1"));
    EXPECT_TRUE(fs::is_directory(fs::path(path_) / "inside"));
}

TEST_F(SettingsFile, WritesFromSeveralThreadsAreAllKept) {
    SettingsStore store(path_);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            SettingsStore own(path_);  // separate objects on the same file
            for (int i = 0; i < 25; ++i) own.SetInt("T" + std::to_string(t), "K" + std::to_string(i), t * 100 + i);
        });
    }
    for (auto& th : threads) th.join();
    for (int t = 0; t < 4; ++t) {
        for (int i = 0; i < 25; ++i) {
            EXPECT_EQ(store.GetInt("T" + std::to_string(t), "K" + std::to_string(i), -1), t * 100 + i);
        }
    }
}

TEST_F(SettingsFile, KilledWriterNeverLeavesATruncatedFile) {
    SettingsStore store(path_);
    for (int i = 0; i < 40; ++i) store.SetInt("Keep", "K" + std::to_string(i), i);
    for (int round = 0; round < 15; ++round) {
        pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            SettingsStore writer(path_);
            for (int n = 0;; ++n) writer.SetString("Busy", "Value", std::string(static_cast<size_t>(n % 4000), 'v'));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5 + round * 3));
        ::kill(pid, SIGKILL);
        int status = 0;
        ::waitpid(pid, &status, 0);
        for (int i = 0; i < 40; ++i) ASSERT_EQ(store.GetInt("Keep", "K" + std::to_string(i), -1), i) << round;
    }
    // Copies left by the kills are gone after the next write.
    EXPECT_TRUE(store.SetInt("Keep", "Last", 1));
    std::vector<std::string> names;
    for (auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"Lumora.ini"});
}

// Runs check as an ordinary user (folder permissions do not bind root) in a
// child process; true when it returned true.
bool AsOrdinaryUser(const std::function<bool()>& check) {
    if (::getuid() != 0) return check();
    pid_t pid = ::fork();
    if (pid == 0) {
        const bool ok = ::setgid(65534) == 0 && ::setuid(65534) == 0 && check();
        ::_exit(ok ? 0 : 1);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST_F(SettingsFile, LinksReadOnlyFilesAndFoldersAreRespected) {
    // A link is written through to its target, which stays where it is.
    fs::create_directory(dir_ / "real");
    std::ofstream(dir_ / "real" / "Lumora.ini") << "[Net]\nPort=7100\n";
    fs::create_symlink("real/Lumora.ini", path_);
    SettingsStore store(path_);
    EXPECT_TRUE(store.SetInt("Net", "CmdPort", 7101));
    EXPECT_TRUE(fs::is_symlink(path_));
    EXPECT_EQ(Read(), "[Net]\nPort=7100\nCmdPort=7101\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_ / "real"), fs::directory_iterator()), 1);

    // A file the user made read-only is not rewritten; it is said once.
    int told = 0;
    SettingsStore::SetNotSavedHandler([&](const std::string&) { ++told; });
    fs::permissions(dir_ / "real" / "Lumora.ini", fs::perms::owner_read | fs::perms::group_read);
    EXPECT_FALSE(store.SetInt("Net", "Port", 1));
    EXPECT_FALSE(store.SetInt("Net", "Port", 2));
    EXPECT_EQ(told, 1);
    EXPECT_EQ(store.GetInt("Net", "Port", 0), 7100);
    SettingsStore::SetNotSavedHandler(nullptr);

    // A folder where nothing can be created: the writable file is rewritten
    // in place.
    fs::remove(path_);
    Write("[Net]\nPort=7100\nLonger=line to be cut away\n");
    fs::permissions(path_, fs::perms::all);
    fs::permissions(dir_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec);
    EXPECT_TRUE(AsOrdinaryUser([&] {
        SettingsStore user(path_);
        return user.SetString("Net", "Longer", "x") && Read() == "[Net]\nPort=7100\nLonger=x\n";
    }));
    fs::permissions(dir_, fs::perms::owner_all);

    // The command line's store only reads.
    fs::remove(path_);
    SettingsStore::SetProcessReadOnly(true);
    EXPECT_FALSE(store.SetInt("Net", "Port", 1));
    SettingsStore::SetProcessReadOnly(false);
    EXPECT_FALSE(fs::exists(path_));
}

mode_t Mode(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

uid_t Owner(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_uid : static_cast<uid_t>(-1);
}

TEST_F(SettingsFile, ModeOwnerAndSecretsOfTheFileAreKept) {
    // A new file follows the umask; one created while it holds the MQTT
    // password is its owner's alone.
    const mode_t umask = ::umask(022);
    SettingsStore store(path_);
    ASSERT_TRUE(store.SetInt("Net", "Port", 7008));
    EXPECT_EQ(Mode(path_), 0644u);
    ::umask(umask);
    fs::remove(path_);
    ASSERT_TRUE(store.SetString("MQTT", "Password", "s3cret"));
    EXPECT_EQ(Mode(path_), 0600u);
    EXPECT_TRUE(store.HoldsSecrets());

    // A rewritten file keeps its mode. One holding a password that others
    // may read is told once, at a read or a write; an empty password is none.
    int exposed = 0;
    SettingsStore::SetExposedSecretHandler([&](const std::string& path) {
        EXPECT_EQ(path, path_);
        ++exposed;
    });
    EXPECT_EQ(store.GetString("MQTT", "Password", ""), "s3cret");
    EXPECT_EQ(exposed, 0);
    ::chmod(path_.c_str(), 0640);
    EXPECT_TRUE(store.SetInt("Net", "CmdPort", 7009));
    EXPECT_EQ(Mode(path_), 0640u);
    EXPECT_EQ(store.GetInt("Net", "CmdPort", 0), 7009);
    EXPECT_EQ(exposed, 1);
    Write("[mqtt]\nPassword=\n");
    EXPECT_FALSE(store.HoldsSecrets());
    SettingsStore::SetExposedSecretHandler(nullptr);

    // Another user's file that this one may not write is left alone, however
    // writable its folder and whatever its write bits say; one it may write
    // is rewritten in place, so that it keeps its owner.
    if (::getuid() != 0) GTEST_SKIP() << "changing owners takes root";
    fs::permissions(dir_, fs::perms::all);
    Write("[Net]\nPort=7100\n");
    ::chmod(path_.c_str(), 0644);
    EXPECT_TRUE(AsOrdinaryUser([&] { return !SettingsStore(path_).SetInt("Net", "Port", 1); }));
    EXPECT_EQ(Read(), "[Net]\nPort=7100\n");
    ::chmod(path_.c_str(), 0666);
    EXPECT_TRUE(AsOrdinaryUser([&] { return SettingsStore(path_).SetInt("Net", "Port", 2); }));
    EXPECT_EQ(Read(), "[Net]\nPort=2\n");
    EXPECT_EQ(Owner(path_), 0u);
    // Root gives the copy to the file's owner before it takes the file's place.
    ASSERT_EQ(::chown(path_.c_str(), 65534, 65534), 0);
    EXPECT_TRUE(store.SetInt("Net", "Port", 3));
    EXPECT_EQ(Owner(path_), 65534u);
    EXPECT_EQ(Mode(path_), 0666u);
}

}  // namespace
}  // namespace lumora
