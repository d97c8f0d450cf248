#pragma once
// Sub-commands of lumora-cli. Each takes the arguments after its name and
// returns the process exit code.
#include <string>
#include <vector>

namespace lumora::cli {

using Args = std::vector<std::string>;

int RunRecord(const Args& args);
int RunPublish(const Args& args);
int RunReplay(const Args& args);
int RunSimulate(const Args& args);
int RunConvert(const Args& args);
int RunSend(const Args& args);
int RunDiscover(const Args& args);
int RunHighSpeedDaq(const Args& args);
int RunHighSpeedConvert(const Args& args);
int RunSensors(const Args& args);

}  // namespace lumora::cli
