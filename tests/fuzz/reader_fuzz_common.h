#pragma once
// Shared by the reader fuzz targets: the input becomes a recording file in a
// private scratch folder and is converted there with settings picked from the
// input's length, so every layout, file splitting and the error log are
// reached. Outputs are removed after each input.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "conversion/conversion_context.h"
#include "conversion/recorded_file_reader.h"

namespace lumora::fuzz {

inline const std::string& ScratchDir() {
    static const std::string dir = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "lumora_fuzz_reader_XXXXXX").string();
        std::vector<char> buf(pattern.begin(), pattern.end());
        buf.push_back('\0');
        if (!::mkdtemp(buf.data())) std::abort();
        std::string d = buf.data();
        static std::string toRemove = d;
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(toRemove, ec);
        });
        return d;
    }();
    return dir;
}

inline void ConvertImage(const std::string& prefix, const uint8_t* data, size_t size) {
    const std::string path = ScratchDir() + "/f.dat";
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(prefix.data(), static_cast<std::streamsize>(prefix.size()));
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    static ConversionContext* ctx = new ConversionContext(ScratchDir() + "/Lumora.ini");
    ConvertSettings s;
    s.m_TitleAlign = (size & 1) ? 1 : 0;
    s.m_NeedPV = (size & 2) ? 0 : 1;
    s.m_NeedSN = (size & 4) ? 0 : 1;
    s.m_OnlyMatched = (size & 8) ? 1 : 0;
    s.m_NeedDate = (size & 16) ? 0 : 1;
    s.m_FileLineMax = "3";
    s.m_AlignErrorMax = (size & 32) ? "0" : "1";
    ctx->SetSettings(s);
    ctx->innerSensor = (size & 64) == 0;
    const int r = ConvertFile(*ctx, path);
    if (r > 0 || r < kConvertCancelled) std::abort();
    if (!ctx->m_currentHeader.Empty()) std::abort();
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(ScratchDir(), ec)) {
        const std::string name = e.path().filename().string();
        if (name != "Lumora.ini") std::filesystem::remove(e.path(), ec);
    }
}

}  // namespace lumora::fuzz
