// lumora-cli: the engine without a window.
#include <cstdio>
#include <cstring>
#include <string>

#include "cli_commands.h"
#include "lumora_version.h"
#include "settings/settings_store.h"
#include "window/string_table.h"

namespace {

struct Command {
    const char* name;
    int (*run)(const lumora::cli::Args&);
    const char* usage;
};

const Command kCommands[] = {
    {"record", lumora::cli::RunRecord,
     "record [--port N] [--dir DIR] [--prefix P] [--lines N] [--str-format] [--local-time 0|1] [--counter 0|1] "
     "[--interval MS] [--seconds S] [--mqtt URL] [--sensors FILE]"},
    {"publish", lumora::cli::RunPublish,
     "publish [--port N] --mqtt URL [--str-format] [--seconds S] [--sensors FILE] [--alarm-log FILE]"},
    {"replay", lumora::cli::RunReplay, "replay FILE... [--to HOST] [--port N] [--speed X | --rate F]"},
    {"simulate", lumora::cli::RunSimulate, "simulate [options]   (see 'lumora-cli simulate --help')"},
    {"convert", lumora::cli::RunConvert,
     "convert DIR [--no-overwrite] [--skip-bad-lines] [--ms] [--value] [--sensors FILE]"},
    {"send", lumora::cli::RunSend, "send [--ip IP] [--port N] [--] TEXT"},
    {"discover", lumora::cli::RunDiscover, "discover [--seconds N] [--port N]"},
    {"hdaq", lumora::cli::RunHighSpeedDaq, "hdaq PORT COUNT SECONDS INTERVAL FILE"},
    {"hconvert", lumora::cli::RunHighSpeedConvert, "hconvert WAVELENGTH_OFFSET CHANNEL_OFFSET FILE"},
    {"sensors", lumora::cli::RunSensors, "sensors check FILE | sensors zero FILE --from RECORDING [--yes]"},
};

void PrintUsage(FILE* out) {
    std::fprintf(out, "usage: lumora-cli COMMAND [ARGS]\n       lumora-cli --help | --version\n\ncommands:\n");
    for (const Command& c : kCommands) std::fprintf(out, "  %s\n", c.usage);
    std::fprintf(out,
                 "\n'lumora-cli COMMAND --help' describes a command; every command and option: man lumora-cli\n"
                 "Exit status: 0 success, 1 failure while running, 2 usage error or a value that cannot be\n"
                 "used, 3 (record) a record that did not reach the disk.\n");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        PrintUsage(stderr);
        return 2;
    }
    std::string name = argv[1];
    if (name == "--help" || name == "-h" || name == "help") {
        PrintUsage(stdout);
        return 0;
    }
    if (name == "--version" || name == "-V") {
        std::printf("lumora-cli %s\n", LUMORA_PRODUCT_VERSION);
        return 0;
    }
    // Commands read ./Lumora.ini for their defaults; the file is the desktop
    // program's, so they never create or change it.
    lumora::SettingsStore::SetProcessReadOnly(true);
    lumora::SettingsStore::SetExposedSecretHandler([](const std::string& path) {
        std::fprintf(stderr, "lumora-cli: warning: %s\n",
                     lumora::StringPrintf(lumora::LoadString(232, lumora::Language::English).c_str(), path.c_str(),
                                          path.c_str())
                         .c_str());
    });
    for (const Command& c : kCommands) {
        if (name == c.name) return c.run(lumora::cli::Args(argv + 2, argv + argc));
    }
    std::fprintf(stderr, "lumora-cli: unknown command '%s'\n", name.c_str());
    PrintUsage(stderr);
    return 2;
}
