#pragma once
// Typed access to the settings file "Lumora.ini" of the current directory:
// sections in brackets, key=value lines, names matched without regard to case.
// Every read goes to the file; every write rewrites the file at once.
#include <string>

namespace lumora {

class SettingsStore {
public:
    // path defaults to "./Lumora.ini".
    explicit SettingsStore(std::string path = "./Lumora.ini");

    // Optional sign and leading decimal digits; no digits gives 0; a missing
    // file or key gives def.
    int GetInt(const std::string& section, const std::string& key, int def) const;
    // At most capacity - 1 characters; a missing key gives def.
    std::string GetString(const std::string& section, const std::string& key, const std::string& def,
                          int capacity = 260) const;
    // Writes at once, creating the file, section or key; keeps every other line.
    void SetString(const std::string& section, const std::string& key, const std::string& value);
    void SetInt(const std::string& section, const std::string& key, int value);

    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

}  // namespace lumora
