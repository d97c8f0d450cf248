// lumora-cli as a user meets it: what every command answers to --help and to
// what it does not know, that its help, the manual page and the README name
// the same options, and what `record` refuses before it listens.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "support/run_program.h"

namespace lumora {
namespace {

namespace fs = std::filesystem;
using test::ProgramResult;

const char* const kCommands[] = {"record", "publish", "replay",   "simulate", "convert",
                                 "send",   "discover", "hdaq",    "hconvert"};

// Commands that do not answer --help yet: they print their usage on standard
// error with status 2. A command leaves this list when it answers --help.
const std::set<std::string> kHelpToCome = {};

ProgramResult Cli(std::vector<std::string> args, const std::string& cwd = "") {
    args.insert(args.begin(), LUMORA_CLI_PATH);
    return test::RunProgram(std::move(args), cwd);
}

std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The long options a text names ("\-" of the manual page read as "-").
std::set<std::string> OptionsIn(const std::string& text) {
    const std::string plain = std::regex_replace(text, std::regex(R"(\\-)"), "-");
    std::set<std::string> options;
    const std::regex option(R"(--[a-z][a-z-]*[a-z])");
    for (auto it = std::sregex_iterator(plain.begin(), plain.end(), option); it != std::sregex_iterator(); ++it)
        options.insert(it->str());
    options.erase("--help");
    return options;
}

// The manual page's text of one command: from its .SS line to the next
// section or command.
std::string ManualSection(const std::string& manual, const std::string& command) {
    const size_t start = manual.find(".SS \"" + command);
    if (start == std::string::npos) return {};
    const size_t end = manual.find("\n.S", start + 1);
    return manual.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

// Each line of text that names "lumora-cli COMMAND", from there to the line's
// end or the end of its code span.
std::vector<std::string> Mentions(const std::string& text, const std::string& command) {
    std::vector<std::string> found;
    const std::string name = "lumora-cli " + command;
    for (size_t at = text.find(name); at != std::string::npos; at = text.find(name, at + 1)) {
        if (at + name.size() < text.size() && std::isalpha(static_cast<unsigned char>(text[at + name.size()])))
            continue;  // another command that starts the same
        found.push_back(text.substr(at, text.find_first_of("`\n", at) - at));
    }
    return found;
}

TEST(CliProgram, EveryCommandAnswersHelpAndRefusesWhatItDoesNotKnow) {
    const ProgramResult top = Cli({"--help"});
    EXPECT_EQ(top.exitCode, 0);
    EXPECT_EQ(top.out.rfind("usage: lumora-cli", 0), 0u) << top.out;
    EXPECT_EQ(Cli({}).exitCode, 2);
    EXPECT_EQ(Cli({"bogus"}).exitCode, 2);
    for (const char* command : kCommands) {
        const ProgramResult help = Cli({command, "--help"});
        const bool toCome = kHelpToCome.count(command) != 0;
        EXPECT_EQ(help.exitCode, toCome ? 2 : 0) << command << ": " << help.err;
        EXPECT_NE((toCome ? help.err : help.out).find(std::string("usage: lumora-cli ") + command), std::string::npos)
            << command << ": " << help.out;
        const ProgramResult bogus = Cli({command, "--bogus-option"});
        EXPECT_EQ(bogus.exitCode, 2) << command;
        EXPECT_FALSE(bogus.err.empty()) << command;
    }
}

TEST(CliProgram, HelpManualPageAndReadmeNameTheSameOptionsAndExitStatuses) {
    const std::string manual = ReadText(fs::path(LUMORA_SOURCE_DIR) / "packaging" / "lumora-cli.1.in");
    const std::string readme = ReadText(fs::path(LUMORA_SOURCE_DIR) / "README.md");
    ASSERT_FALSE(manual.empty());
    ASSERT_FALSE(readme.empty());
    const std::string top = Cli({"--help"}).out;
    for (const std::string command : kCommands) {
        const ProgramResult help = Cli({command, "--help"});
        const std::set<std::string> options = OptionsIn(kHelpToCome.count(command) ? help.err : help.out);
        EXPECT_EQ(OptionsIn(ManualSection(manual, command)), options) << command << " in the manual page";
        // simulate has too many options for one line: the overview sends to its --help.
        const size_t line = top.find("\n  " + command + " ");
        ASSERT_NE(line, std::string::npos) << command;
        const std::string overview = top.substr(line + 1, top.find('\n', line + 1) - line - 1);
        if (command != "simulate") {
            EXPECT_EQ(OptionsIn(overview), options) << command << " in lumora-cli --help";
        }
        for (const std::string& mention : Mentions(readme, command)) {
            for (const std::string& option : OptionsIn(mention)) {
                EXPECT_TRUE(options.count(option)) << "README: " << mention;
            }
        }
    }
    // Every exit status the overview names is in the manual page.
    const std::string exits = manual.substr(manual.find(".SH EXIT STATUS"));
    const std::string statusLine = top.substr(top.find("Exit status:"));
    const std::regex status(R"((\d+) )");
    for (auto it = std::sregex_iterator(statusLine.begin(), statusLine.end(), status); it != std::sregex_iterator();
         ++it)
        EXPECT_NE(exits.find(".B " + (*it)[1].str() + "\n"), std::string::npos) << "exit status " << (*it)[1];
}

class RecordRefusal : public ::testing::Test {
protected:
    void SetUp() override {
        std::string tmpl = (fs::temp_directory_path() / "lumora_cli_XXXXXX").string();
        ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    ProgramResult Record(const std::string& ini, std::vector<std::string> args) {
        std::ofstream(dir_ / "Lumora.ini") << ini;
        args.insert(args.begin(), "record");
        return Cli(std::move(args), dir_.string());
    }
    fs::path dir_;
};

TEST_F(RecordRefusal, ValuesItCannotUseEndItBeforeItListensAndNameTheirKey) {
    const std::string here = dir_.string();
    std::ofstream(dir_ / "plain") << "x";
    struct Case {
        std::string ini;
        std::vector<std::string> args;
        std::string named;
    };
    const Case cases[] = {
        {"[Net]\nPort=abc\n", {"--dir", here}, "[Net] Port of ./Lumora.ini must be a port from 1 to 65535, not 'abc'"},
        {"[Net]\nPort=\n", {"--dir", here}, "[Net] Port"},
        {"[Net]\nPort=0\n", {"--dir", here}, "[Net] Port"},
        {"[Net]\nPort=70000\n", {"--dir", here}, "[Net] Port"},
        {"[DataSave]\nFileName=../escaped\n", {"--port", "0", "--dir", here}, "[DataSave] FileName"},
        {"", {"--port", "0", "--dir", here, "--prefix", "a\\b"}, "--prefix may not contain"},
        {"", {"--port", "0", "--dir", here + "/missing"}, "--dir: folder " + here + "/missing does not exist"},
        {"[DataSave]\nDir=" + here + "/missing\n", {"--port", "0"}, "[DataSave] Dir of ./Lumora.ini: folder"},
        {"", {"--port", "0", "--dir", here + "/plain"}, "is not a folder"},
        {"", {"--port", "0", "--dir", here, "--interval", "60001"}, "--interval must be a whole number from 0 to 60000"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"--seconds", "5"});
        const ProgramResult r = Record(c.ini, args);
        EXPECT_EQ(r.exitCode, 2) << c.named << "\n" << r.err;
        EXPECT_NE(r.err.find(c.named), std::string::npos) << r.err;
        EXPECT_EQ(r.out.find("listening"), std::string::npos) << c.named;
    }
    EXPECT_FALSE(fs::exists(dir_.parent_path() / "escaped"));
}

TEST_F(RecordRefusal, RecordCountAndPauseOutOfRangeAreReplacedWithAWarning) {
    const ProgramResult r = Record("[DataSave]\nLineNumber=0\n[DataRec]\nInterval=2147483647\n",
                                   {"--port", "0", "--dir", dir_.string(), "--seconds", "0.3"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("[DataSave] LineNumber of ./Lumora.ini is '0', below 1: 100000 records per file"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("[DataRec] Interval of ./Lumora.ini is 2147483647, outside 0 to 60000: 60000 ms"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("(prefix sa, 100000 records per file)"), std::string::npos) << r.err;
    // Given as options, the file's values are not looked at.
    const ProgramResult given = Record("[DataSave]\nLineNumber=0\n[Net]\nPort=abc\n",
                                       {"--port", "0", "--dir", dir_.string(), "--lines", "5", "--seconds", "0.3"});
    EXPECT_EQ(given.exitCode, 0) << given.err;
    EXPECT_EQ(given.err.find("warning"), std::string::npos) << given.err;
}

TEST(CliProgram, MissingFilesAreNamedAsMissing) {
    const std::string missing = (fs::temp_directory_path() / "lumora_cli_no_such_capture").string();
    const ProgramResult r = Cli({"hconvert", "0", "0", missing});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find(missing + ".dat"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("does not exist"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace lumora
