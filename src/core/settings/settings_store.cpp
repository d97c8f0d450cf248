#include "settings/settings_store.h"

namespace lumora {

SettingsStore::SettingsStore(std::string path) : path_(std::move(path)) {}

int SettingsStore::GetInt(const std::string&, const std::string&, int def) const { return def; }

std::string SettingsStore::GetString(const std::string&, const std::string&, const std::string& def, int) const {
    return def;
}

void SettingsStore::SetString(const std::string&, const std::string&, const std::string&) {}

void SettingsStore::SetInt(const std::string& section, const std::string& key, int value) {
    SetString(section, key, std::to_string(value));
}

}  // namespace lumora
