#include "acquisition/frame_encoder.h"

#include <cjson/cJSON.h>

#include <algorithm>
#include <cstring>

namespace lumora {
namespace {

void PutLe16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void PutLe32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

void PutHead(std::vector<uint8_t>& out, bool extension, uint8_t kind) {
    out.push_back(0xFF);
    out.push_back(0xFF);
    out.push_back(extension ? 0x01 : 0x00);
    out.push_back(0x00);
    if (extension) out.insert(out.end(), 4, 0x00);
    out.push_back(kind);
}

}  // namespace

void WriteFrameTrailer(uint8_t* out, const TrailerFields& f) {
    std::memset(out, 0, kFrameTrailerSize);
    std::memset(out, 0xFE, 4);
    out[4] = 0x65;
    size_t snLen = std::min<size_t>(f.sn.size(), 22);
    std::memcpy(out + 5, f.sn.data(), snLen);
    PutLe32(out + 28, static_cast<uint32_t>(f.time));
    PutLe32(out + 32, static_cast<uint32_t>(f.microseconds));
    PutLe32(out + 36, static_cast<uint32_t>(f.counter));
    out[40] = static_cast<uint8_t>(f.channelOffset);
    PutLe32(out + 44, 1510000);
    std::memset(out + 48, 0xFD, 4);
}

void EncodeWavelengthFrame(std::vector<uint8_t>& out, const std::vector<uint8_t>& peakCounts,
                           const std::vector<uint16_t>& values, const TrailerFields* trailer, int spareBytes,
                           bool extension) {
    out.clear();
    PutHead(out, extension, static_cast<uint8_t>(peakCounts.size() & 0x3F));
    out.insert(out.end(), peakCounts.begin(), peakCounts.end());
    for (uint16_t v : values) PutLe16(out, v);
    if (spareBytes > 0) out.insert(out.end(), static_cast<size_t>(spareBytes), 0x00);
    if (trailer) {
        size_t at = out.size();
        out.resize(at + kFrameTrailerSize);
        WriteFrameTrailer(out.data() + at, *trailer);
    }
}

std::vector<uint8_t> EncodeWavelengthFrame(const std::vector<uint8_t>& peakCounts, const std::vector<uint16_t>& values,
                                           const TrailerFields* trailer, int spareBytes, bool extension) {
    std::vector<uint8_t> out;
    EncodeWavelengthFrame(out, peakCounts, values, trailer, spareBytes, extension);
    return out;
}

std::vector<uint8_t> EncodeSpectrumFrame(int channel, const std::vector<uint16_t>& samples, int declaredCount,
                                         bool extension) {
    std::vector<uint8_t> out;
    out.reserve(9 + 2 * samples.size());
    PutHead(out, extension, static_cast<uint8_t>(0x40 | (channel & 0x3F)));
    PutLe16(out, static_cast<uint16_t>(declaredCount >= 0 ? declaredCount : static_cast<int>(samples.size())));
    for (uint16_t v : samples) PutLe16(out, v);
    return out;
}

bool FrameWouldBeCut(const uint8_t* frame, size_t length) {
    if (length <= 2) return false;
    for (size_t i = 3; i < length; ++i) {
        if (frame[i] == 0xFF && frame[i - 1] == 0xFF) return true;
    }
    return frame[length - 1] == 0xFF;
}

std::string EncodeTextFrame(const TextFrameFields& f) {
    cJSON* root = cJSON_CreateObject();
    if (!root) return {};
    cJSON_AddNumberToObject(root, "Time", static_cast<double>(f.time));
    cJSON_AddNumberToObject(root, "Counter", static_cast<double>(f.counter));
    cJSON_AddStringToObject(root, "SN", f.sn.c_str());
    if (f.hasCode) cJSON_AddNumberToObject(root, "Code", f.code);
    cJSON* data = cJSON_AddArrayToObject(root, "Data");
    for (const TextReading& r : f.data) {
        cJSON* item = cJSON_CreateArray();
        const double fields[] = {static_cast<double>(r.matched), static_cast<double>(r.id),
                                 static_cast<double>(r.channel), static_cast<double>(r.wavelength),
                                 r.physicValue, static_cast<double>(r.serial),
                                 static_cast<double>(r.auxA), static_cast<double>(r.auxB)};
        for (double v : fields) cJSON_AddItemToArray(item, cJSON_CreateNumber(v));
        cJSON_AddItemToArray(data, item);
    }
    char* text = cJSON_PrintUnformatted(root);
    std::string out = text ? text : "";
    cJSON_free(text);
    cJSON_Delete(root);
    return out;
}

}  // namespace lumora
