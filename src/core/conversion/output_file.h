#pragma once
// Output files of the conversion: written through a large buffer of our own,
// with every failure to create or write remembered, so that a source whose
// output was lost is reported as failed.
#include <cstddef>
#include <memory>
#include <string>

namespace lumora {

class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Creates path anew (replacing a file of that name), write-only. false
    // when it cannot be created.
    bool Create(const std::string& path);
    bool IsOpen() const { return fd_ >= 0; }
    void Write(const char* data, size_t size);
    void Write(const std::string& text) { Write(text.data(), text.size()); }
    // Flushes and closes; false when anything written since Create was lost.
    bool Close();

private:
    bool Flush();

    int fd_ = -1;
    bool failed_ = false;
    std::unique_ptr<char[]> buffer_;
    size_t used_ = 0;
};

// Name of an output file of source: the file's own extension ".dat" (in any
// letter case) replaced by replacement ("-2.csv", "_err.log"); a name without
// that extension gets the replacement appended, so the source itself is never
// the output.
std::string OutputPath(const std::string& source, const std::string& replacement);
std::string CsvOutputPath(const std::string& source, int fileNumber);
std::string ErrorLogPath(const std::string& source);

}  // namespace lumora
