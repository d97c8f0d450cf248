#include "sensors/sensor_file.h"

#include "settings/settings_store.h"

namespace lumora {

std::string ConfiguredSensorFile(const SettingsStore& settings) {
    std::string path = settings.GetString("Sensors", "File", kDefaultSensorFile, 4096);
    return path.empty() ? kDefaultSensorFile : path;
}

std::shared_ptr<const CompiledSensors> LoadCompiledSensors(const std::string& path, std::vector<std::string>& errors) {
    SensorTable table;
    if (!LoadSensorTable(path, table, errors)) return nullptr;
    return std::make_shared<const CompiledSensors>(std::move(table), path);
}

}  // namespace lumora
