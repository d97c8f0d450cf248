#pragma once
// Typed access to the settings file "Lumora.ini" of the current directory:
// sections in brackets, key=value lines, names matched without regard to case.
// Every read goes to the file; every write rewrites the file at once.
//
// Writes are atomic: the new text goes to a temporary file beside the settings
// file, which then replaces it by rename, so a crash or a kill never leaves a
// truncated or empty file (a copy left by a kill is removed at the next
// write). A symbolic link is written through to its target, in the target's
// folder. Only where no temporary file can be created is the file rewritten in
// place. Writes from several threads are serialised. A file that cannot be
// read is never overwritten (that would lose its other keys), and neither is
// one this process may not write (access(2)) or one without any write bit:
// the user made it read-only.
//
// A replaced file keeps its mode and its owner: where the owner cannot be
// kept (another user's file that this user may write), it is rewritten in
// place instead of by rename. A new file gets 0666 less the umask, or 0600
// when it holds a secret ([MQTT] Password with a value).
#include <functional>
#include <string>

namespace lumora {

class SettingsStore {
public:
    // path defaults to "./Lumora.ini".
    explicit SettingsStore(std::string path = "./Lumora.ini");

    // Optional sign and leading decimal digits; no digits gives 0; a missing
    // file or key gives def. Values beyond the int range are clamped.
    int GetInt(const std::string& section, const std::string& key, int def) const;
    // At most capacity - 1 characters (UTF-8 sequences are never split); a
    // missing key gives def, cut the same way.
    std::string GetString(const std::string& section, const std::string& key, const std::string& def,
                          int capacity = 260) const;
    // Writes at once, creating the file, section or key; keeps every other
    // line, comment and the order of the file. Line breaks inside value are
    // written as blanks (a value is one line). Returns false when the file
    // could not be written; the old file is then left as it was.
    bool SetString(const std::string& section, const std::string& key, const std::string& value);
    bool SetInt(const std::string& section, const std::string& key, int value);

    const std::string& Path() const { return path_; }

    // Called once per file, on the first write refused because the file is
    // read-only (from whichever thread wrote). Replacing it starts over.
    static void SetNotSavedHandler(std::function<void(const std::string& path)> handler);
    // Called once per file when a read or a write finds it holding a secret
    // while group or others may read it. Replacing it starts over.
    static void SetExposedSecretHandler(std::function<void(const std::string& path)> handler);
    // True when the file holds a secret key with a value.
    bool HoldsSecrets() const;
    // Every store of the process only reads: writes change nothing and
    // return false (the command line reads the settings, never writes them).
    static void SetProcessReadOnly(bool readOnly);

private:
    std::string path_;
};

}  // namespace lumora
