#pragma once
// Small argument helpers shared by the sub-commands.
#include <cstddef>
#include <string>

#include "cli_commands.h"

namespace lumora {
class ReceiveSession;
class SettingsStore;
}

namespace lumora::cli {

// A whole decimal number with an optional sign; false for anything else.
bool ParseInteger(const std::string& text, long long* value);

// The value of a command's option or argument as a whole decimal number from
// min to max. Anything else (no digits, blanks, trailing text, a value out of
// range) is refused with "lumora-cli COMMAND: NAME must be a whole number from
// MIN to MAX, not 'TEXT'" on standard error; the command then ends with exit
// code 2.
bool ReadWholeNumber(const char* command, const std::string& name, const std::string& text, long long min,
                     long long max, long long* value);
// The same for a decimal number with an optional fraction ("2.5").
bool ReadDecimalNumber(const char* command, const std::string& name, const std::string& text, double min,
                       double max, double* value);

// Narrower targets; the range must fit the type.
template <typename T>
bool ReadWholeNumber(const char* command, const std::string& name, const std::string& text, long long min,
                     long long max, T* value) {
    long long v = 0;
    if (!ReadWholeNumber(command, name, text, min, max, &v)) return false;
    *value = static_cast<T>(v);
    return true;
}

// Ctrl+C, SIGTERM and SIGHUP (the terminal was closed) all end a command the
// same way: through handler, which the command's loop notices.
void CatchStopSignals(void (*handler)(int));

// "[Section] Key of ./Lumora.ini": how a message names a value that came
// from the settings file.
std::string SettingName(const SettingsStore& settings, const char* section, const char* key);

// True when dir is an existing folder this process may create files in;
// otherwise why says what is wrong ("folder DIR does not exist", ...).
bool WritableFolder(const std::string& dir, std::string* why);

// The words from index first on, joined by single blanks.
std::string JoinRest(const Args& args, size_t first);

// The line after a receive session's summary, on standard error: "ignored: I
// datagrams (empty or blank), C cut short".
void PrintDatagramTroubles(const ReceiveSession& session);

}  // namespace lumora::cli
