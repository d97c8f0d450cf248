// lumora-cli hconvert WAVELENGTH_OFFSET CHANNEL_OFFSET FILE
// FILE.dat (a high-speed capture) to FILE.csv: per frame its time and counter,
// then per reading the channel plus CHANNEL_OFFSET and the value plus
// WAVELENGTH_OFFSET. The table is written as FILE.csv.part and takes its name
// when it is complete; a FILE.dat that shrinks or grows meanwhile ends the
// conversion early with an error.
#include <cstdint>
#include <cstdio>
#include <string>

#include "cli_commands.h"
#include "cli_util.h"
#include "recording/high_speed_capture.h"
#include "recording/high_speed_convert.h"

namespace lumora::cli {

int RunHighSpeedConvert(const Args& args) {
    const char* usage = "usage: lumora-cli hconvert WAVELENGTH_OFFSET CHANNEL_OFFSET FILE\n";
    if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
        std::printf("%s"
                    "Converts the capture FILE.dat into FILE.csv: per frame its time and counter, then per\n"
                    "reading the channel plus CHANNEL_OFFSET and the value plus WAVELENGTH_OFFSET.\n"
                    "A FILE of several words is joined with blanks.\n"
                    "Exit status 1 when FILE.dat cannot be read or FILE.csv written, 2 for a usage error.\n",
                    usage);
        return 0;
    }
    if (args.size() < 3) {
        std::fputs(usage, stderr);
        return 2;
    }
    long long wavelengthOffset = 0, channelOffset = 0;
    if (!ReadWholeNumber("hconvert", "WAVELENGTH_OFFSET", args[0], INT32_MIN, INT32_MAX, &wavelengthOffset) ||
        !ReadWholeNumber("hconvert", "CHANNEL_OFFSET", args[1], INT32_MIN, INT32_MAX, &channelOffset)) {
        std::fputs(usage, stderr);
        return 2;
    }
    std::string stem = JoinRest(args, 2);
    HighSpeedConvertOptions o;
    o.wavelengthOffset = static_cast<int32_t>(wavelengthOffset);
    o.channelOffset = static_cast<int32_t>(channelOffset);
    o.input = HighSpeedDataPath(stem, ".dat");
    o.output = o.input.substr(0, o.input.size() - 4) + ".csv";
    HighSpeedConvertStats st = ConvertHighSpeedFile(o);
    if (!st.error.empty()) {
        std::fprintf(stderr, "lumora-cli hconvert: %s\n", st.error.c_str());
        return 1;
    }
    std::printf("hconvert: %s -> %s\n", o.input.c_str(), o.output.c_str());
    std::printf("frames converted: %llu, readings: %llu, spectrum records skipped: %llu, malformed records: %llu\n",
                static_cast<unsigned long long>(st.frames), static_cast<unsigned long long>(st.readings),
                static_cast<unsigned long long>(st.spectrumRecords),
                static_cast<unsigned long long>(st.invalidRecords));
    return 0;
}

}  // namespace lumora::cli
