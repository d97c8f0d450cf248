#include "acquisition/text_decoder.h"

#include <cjson/cJSON.h>

#include <algorithm>
#include <cstring>

#include "json/json_reading.h"

namespace lumora {
namespace {

constexpr int kReadingItems = 8;

bool NonZeroInt(const json::Item& item, bool have) {
    return have && item.kind == json::Kind::Number && item.integer != 0;
}

void ShowText(FrameSlot& slot, const char* text, size_t length) {
    const size_t shown = std::min<size_t>(length, kFrameTextSize - 2);
    std::memcpy(slot.text, text, shown);
    slot.text[shown] = '\n';
    slot.text[shown + 1] = '\0';
}

void StoreSn(FrameSlot& slot, std::string_view sn) {
    const size_t snLength = std::min<size_t>(sn.size(), kSnSize - 1);
    std::memcpy(slot.sn, sn.data(), snLength);
    slot.sn[snLength] = '\0';
}

size_t LeadingControlBytes(const char* text, size_t length) {
    size_t skip = 0;
    while (skip < length && static_cast<unsigned char>(text[skip]) >= 1 &&
           static_cast<unsigned char>(text[skip]) <= 32) {
        ++skip;
    }
    return skip;
}

struct JsonTree {
    cJSON* root;
    ~JsonTree() { cJSON_Delete(root); }
};

// A usable number: present, a number, and (where required) not 0.
bool NonZeroInt(const cJSON* item, int32_t& out) {
    if (!cJSON_IsNumber(item) || item->valueint == 0) return false;
    out = item->valueint;
    return true;
}

// cJSON keeps valueint within the int range.
int32_t IntOf(const cJSON* item) { return cJSON_IsNumber(item) ? item->valueint : 0; }
double DoubleOf(const cJSON* item) { return cJSON_IsNumber(item) ? item->valuedouble : 0.0; }

}  // namespace

int DecodeTextFrame(AcquisitionState& state, const char* text, size_t length, size_t capacity) {
    if (text == nullptr) return kTextNull;
    // The datagram is a text: a NUL ends it.
    length = strnlen(text, length);
    if (length == 0) return kTextEmpty;
    const size_t skip = LeadingControlBytes(text, length);

    json::FrameFields m;
    {
        SlotWriter writer(state.Ring());
        FrameSlot& slot = writer.Slot();
        if (json::ReadTextFrame(text + skip, length - skip, capacity > skip ? capacity - skip : 0, slot.readings, m)) {
            if (state.m_showSourceData.load(std::memory_order_relaxed)) ShowText(slot, text, length);
            if (!NonZeroInt(m.time, m.haveTime)) return kTextNoTime;
            slot.time = m.time.integer;
            if (!NonZeroInt(m.counter, m.haveCounter)) return kTextNoCounter;
            slot.counter = m.counter.integer;
            if (!m.haveSn || m.sn.kind != json::Kind::String) return kTextNoSn;
            StoreSn(slot, m.sn.text);
            if (NonZeroInt(m.code, m.haveCode)) slot.code = m.code.integer;
            if (!m.dataIsArray) return kTextNoData;
            slot.count = m.count;
            writer.Publish();
            return kTextDecoded;
        }
    }
    return DecodeTextFrameLenient(state, text, length);
}

int DecodeTextFrameLenient(AcquisitionState& state, const char* text, size_t length) {
    if (text == nullptr) return kTextNull;
    length = strnlen(text, length);
    if (length == 0) return kTextEmpty;
    const size_t skip = LeadingControlBytes(text, length);
    // Only the first value counts; whatever follows it is ignored.
    JsonTree tree{cJSON_ParseWithLengthOpts(text + skip, length - skip, nullptr, false)};
    if (tree.root == nullptr) return kTextNotJson;

    SlotWriter writer(state.Ring());
    FrameSlot& slot = writer.Slot();
    if (state.m_showSourceData.load(std::memory_order_relaxed)) ShowText(slot, text, length);

    // Member names match without regard to case; a root that is not an
    // object has no members.
    const cJSON* root = cJSON_IsObject(tree.root) ? tree.root : nullptr;
    int32_t frameTime = 0, counter = 0;
    if (!NonZeroInt(cJSON_GetObjectItem(root, "Time"), frameTime)) return kTextNoTime;
    slot.time = frameTime;
    if (!NonZeroInt(cJSON_GetObjectItem(root, "Counter"), counter)) return kTextNoCounter;
    slot.counter = counter;
    const cJSON* sn = cJSON_GetObjectItem(root, "SN");
    if (!cJSON_IsString(sn) || sn->valuestring == nullptr) return kTextNoSn;
    StoreSn(slot, std::string_view(sn->valuestring, strnlen(sn->valuestring, kSnSize - 1)));

    int32_t code = 0;
    if (NonZeroInt(cJSON_GetObjectItem(root, "Code"), code)) slot.code = code;

    const cJSON* data = cJSON_GetObjectItem(root, "Data");
    if (!cJSON_IsArray(data)) return kTextNoData;
    int stored = 0;
    for (const cJSON* element = data->child; element != nullptr && stored < kMaxReadings;
         element = element->next) {
        // Elements that are not arrays of at least eight items are skipped.
        if (!cJSON_IsArray(element)) continue;
        const cJSON* items[kReadingItems];
        int found = 0;
        for (const cJSON* item = element->child; item != nullptr && found < kReadingItems; item = item->next) {
            items[found++] = item;
        }
        if (found < kReadingItems) continue;
        SensorReading& r = slot.readings[stored++];
        r.id = IntOf(items[1]);
        r.channel = IntOf(items[2]);
        r.wavelength = IntOf(items[3]);
        r.physicValue = DoubleOf(items[4]);
        r.serial = IntOf(items[5]);
        r.auxA = IntOf(items[6]);
        r.auxB = IntOf(items[7]);
    }
    slot.count = stored;
    writer.Publish();
    return kTextDecoded;
}

}  // namespace lumora
