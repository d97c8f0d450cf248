#include "sensors/sensors_json.h"

#include <cjson/cJSON.h>

#include <memory>

#include "model/utf8_text.h"

namespace lumora {
namespace {

using JsonPtr = std::unique_ptr<cJSON, decltype(&cJSON_Delete)>;

std::string Print(const JsonPtr& root) {
    char* text = cJSON_PrintUnformatted(root.get());
    if (!text) return {};
    std::string out = text;
    cJSON_free(text);
    return out;
}

void AddLimit(cJSON* object, const char* name, const std::optional<double>& limit) {
    if (limit)
        cJSON_AddNumberToObject(object, name, *limit);
    else
        cJSON_AddNullToObject(object, name);
}

// Serial numbers come from the network and labels from a file as any bytes;
// cJSON passes bytes through, so the text is made UTF-8 first.
void AddText(cJSON* object, const char* name, std::string_view text) {
    cJSON_AddStringToObject(object, name, ValidUtf8(text).c_str());
}

}  // namespace

std::string SensorsJson(const CompiledSensors* sensors, std::string_view sn, const std::string& device) {
    JsonPtr root(cJSON_CreateObject(), &cJSON_Delete);
    AddText(root.get(), "device", device);
    cJSON* list = cJSON_AddArrayToObject(root.get(), "sensors");
    if (!sensors) return Print(root);
    const SensorPlan& plan = sensors->PlanFor(sn);
    for (int id = 1; id <= kMaxSensorId; ++id) {
        const SensorCalibration* cal = plan.Find(id);
        if (!cal) continue;
        cJSON* s = cJSON_CreateObject();
        cJSON_AddNumberToObject(s, "id", id);
        AddText(s, "label", cal->row->label);
        AddText(s, "unit", cal->row->unit);
        AddLimit(s, "low", cal->row->low);
        AddLimit(s, "high", cal->row->high);
        cJSON_AddNumberToObject(s, "hysteresis", cal->row->hysteresis);
        cJSON_AddItemToArray(list, s);
    }
    return Print(root);
}

std::string AlarmJson(const AlarmTransition& t, const std::string& device) {
    JsonPtr root(cJSON_CreateObject(), &cJSON_Delete);
    AddText(root.get(), "device", device);
    const int32_t us = t.microseconds >= 0 && t.microseconds < 1000000 ? t.microseconds : 0;
    cJSON_AddNumberToObject(root.get(), "t", static_cast<double>(t.seconds) + us / 1e6);
    cJSON_AddNumberToObject(root.get(), "id", t.id);
    AddText(root.get(), "label", t.label);
    AddText(root.get(), "unit", t.unit);
    cJSON_AddNumberToObject(root.get(), "value", t.value);
    cJSON_AddStringToObject(root.get(), "state", AlarmStateName(t.state));
    cJSON_AddStringToObject(root.get(), "previous", AlarmStateName(t.previous));
    return Print(root);
}

}  // namespace lumora
