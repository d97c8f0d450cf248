#pragma once
// Output files of the conversion: written through a large buffer of our own,
// with every failure to create or write remembered, so that a source whose
// output was lost is reported as failed.
//
// Each file is written under a temporary name beside its final one (the final
// name with ".part" appended) and gets its final name only when the whole
// source has been converted (Commit). A run that is stopped, a full disk or a
// killed program therefore never leaves a partial file that looks finished;
// the "do not overwrite" rule can trust any file with a final name.
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace lumora {

// Appended to the final name while a file is being written.
constexpr const char* kPartSuffix = ".part";

class OutputFile {
public:
    OutputFile() = default;
    // Closes an open file; files not committed keep their temporary names.
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Closes the current file and creates finalPath + ".part" anew (replacing
    // a file of that name), write-only. false when it cannot be created.
    bool Create(const std::string& finalPath);
    bool IsOpen() const { return fd_ >= 0; }
    void Write(const char* data, size_t size);
    void Write(const std::string& text) { Write(text.data(), text.size()); }
    // Flushes, syncs to the disk and closes: the file is complete. false when
    // anything written since Create was lost.
    bool Close();

    // Gives every file created since the last Commit or Discard its final
    // name, the first one last (whoever sees the first name may rely on the
    // others being complete). Closes first; false when a file failed.
    bool Commit();
    // Closes and removes every file created since the last Commit or Discard.
    void Discard();
    // Closes and forgets the files: they stay under their temporary names.
    void KeepTemporary();

    // What went wrong first ("cannot write NAME: No space left on device"),
    // empty while nothing has.
    const std::string& Error() const { return error_; }

private:
    bool Flush();
    bool WriteOut(const char* data, size_t size);
    // Closes without syncing: for files that will not be kept as complete.
    void CloseUnsynced();
    void Failed(const char* what, const std::string& path, int error);

    int fd_ = -1;
    bool failed_ = false;
    std::string error_;
    std::string openPath_;  // temporary name of the open file
    std::unique_ptr<char[]> buffer_;
    size_t used_ = 0;
    std::vector<std::string> created_;  // final names, in creation order
};

// Name of an output file of source: the file's own extension ".dat" (in any
// letter case) replaced by replacement ("-2.csv", "_err.log"); a name without
// that extension gets the replacement appended, so the source itself is never
// the output.
std::string OutputPath(const std::string& source, const std::string& replacement);
std::string CsvOutputPath(const std::string& source, int fileNumber);
std::string ErrorLogPath(const std::string& source);

}  // namespace lumora
