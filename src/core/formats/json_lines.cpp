#include "formats/json_lines.h"

#include <cjson/cJSON.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cerrno>
#include <cstring>
#include <utility>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

#include "json/json_reading.h"

namespace lumora {
namespace {

// cJSON's limit of nesting.
constexpr size_t kMaxDepth = 1000;

void Blank(uint8_t* p, size_t n, uint8_t c) {
    uint8_t* const end = p + n;
    while (p < end && (p = static_cast<uint8_t*>(std::memchr(p, c, static_cast<size_t>(end - p))))) *p++ = ' ';
}

// What the lenient parser skips between tokens.
bool IsSpace(char c) { return static_cast<unsigned char>(c) <= 0x20; }

bool IsBlankLine(std::string_view line) { return std::all_of(line.begin(), line.end(), IsSpace); }

bool IsScalarChar(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-' || c == '+' ||
           c == '.';
}

// Opening brackets less closing ones, strings not told apart: a line whose
// count is not above zero cannot leave an object open (unless a string holds
// brackets, which recorded frames do not). '[' and '{' differ from each
// other only in bit 5, as do ']' and '}'.
int64_t NetBrackets(std::string_view text) {
    const char* p = text.data();
    size_t n = text.size();
    int64_t net = 0;
#if defined(__SSE2__)
    const __m128i bit5 = _mm_set1_epi8(0x20);
    const __m128i open = _mm_set1_epi8('{');
    const __m128i close = _mm_set1_epi8('}');
    for (; n >= 16; p += 16, n -= 16) {
        const __m128i v = _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), bit5);
        net += __builtin_popcount(static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, open))));
        net -= __builtin_popcount(static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, close))));
    }
#endif
    for (; n > 0; ++p, --n) {
        const char c = static_cast<char>(*p | 0x20);
        net += (c == '{') - (c == '}');
    }
    return net;
}

bool MayLeaveObjectOpen(std::string_view line) {
    size_t first = 0;
    while (first < line.size() && IsSpace(line[first])) ++first;
    return first < line.size() && line[first] == '{' && NetBrackets(line) > 0;
}

}  // namespace

// ---- writing

void AppendJsonLine(std::vector<uint8_t>& out, const uint8_t* text, size_t length, const StampTime* sysTime) {
    if (sysTime) {
        char prefix[96];
        const int n = std::snprintf(prefix, sizeof prefix, "{\"SysTime\":[%" PRId64 ",%" PRId32 "],\"SysData\":",
                                    sysTime->seconds, sysTime->microseconds);
        out.insert(out.end(), prefix, prefix + n);
    }
    const size_t at = out.size();
    out.insert(out.end(), text, text + length);
    Blank(out.data() + at, length, '\r');
    Blank(out.data() + at, length, '\n');
    if (sysTime) out.push_back('}');
    out.push_back('\n');
}

// ---- reading lines

TextLineReader::TextLineReader(ByteReader read, size_t chunk)
    : read_(std::move(read)), buffer_(new char[std::max<size_t>(chunk, 1)]), capacity_(std::max<size_t>(chunk, 1)) {}

TextLineReader::Status TextLineReader::Next(std::string_view& line) {
    size_t searched = begin_;
    for (;;) {
        char* const b = buffer_.get();
        const void* nl = end_ > searched ? std::memchr(b + searched, '\n', end_ - searched) : nullptr;
        if (nl) {
            line = std::string_view(b + begin_, static_cast<size_t>(static_cast<const char*>(nl) - (b + begin_)));
            begin_ += line.size() + 1;
            return kLine;
        }
        if (eof_) {
            if (begin_ == end_) return kEnd;
            line = std::string_view(b + begin_, end_ - begin_);
            begin_ = end_;
            return kLine;
        }
        if (begin_ > 0) {
            std::memmove(b, b + begin_, end_ - begin_);
            end_ -= begin_;
            begin_ = 0;
        }
        searched = end_;
        if (end_ == capacity_) {
            if (capacity_ >= kMaxLine) {
                errno = EMSGSIZE;
                return kError;
            }
            const size_t grown = std::min(capacity_ * 2, kMaxLine);
            std::unique_ptr<char[]> larger(new char[grown]);
            std::memcpy(larger.get(), b, end_);
            buffer_ = std::move(larger);
            capacity_ = grown;
        }
        const ssize_t r = read_(reinterpret_cast<uint8_t*>(buffer_.get() + end_), capacity_ - end_);
        if (r < 0) return kError;
        if (r == 0) eof_ = true;
        end_ += static_cast<size_t>(r);
    }
}

// ---- the structure of a text

void JsonStructureScanner::Reset() { *this = JsonStructureScanner(); }

void JsonStructureScanner::Feed(std::string_view text) {
    for (char c : text) {
        if (broken_ || expect_ == Expect::Done) return;
        Step(c);
    }
}

void JsonStructureScanner::Step(char c) {
    if (inString_) {
        if (escaped_) {
            escaped_ = false;
        } else if (c == '\\') {
            escaped_ = true;
        } else if (c == '"') {
            inString_ = false;
            if (stringIsKey_) expect_ = Expect::Colon;
            else ValueEnded();
        }
        return;
    }
    if (inScalar_) {
        if (IsScalarChar(c)) return;
        inScalar_ = false;
        ValueEnded();
        // Whatever follows a complete value is not read.
        if (expect_ == Expect::Done) return;
    }
    if (IsSpace(c)) return;
    const bool valueHere = expect_ == Expect::Value || expect_ == Expect::ValueOrClose;
    const char top = stack_.empty() ? '\0' : stack_.back();
    switch (c) {
        case '{':
        case '[':
            if (!valueHere || stack_.size() >= kMaxDepth) break;
            stack_.push_back(c);
            expect_ = c == '{' ? Expect::KeyOrClose : Expect::ValueOrClose;
            return;
        case '}':
        case ']': {
            const bool empty = c == '}' ? expect_ == Expect::KeyOrClose : expect_ == Expect::ValueOrClose;
            if (!empty && !(expect_ == Expect::CommaOrClose && top == (c == '}' ? '{' : '['))) break;
            stack_.pop_back();
            ValueEnded();
            return;
        }
        case ':':
            if (expect_ != Expect::Colon) break;
            expect_ = Expect::Value;
            return;
        case ',':
            if (expect_ != Expect::CommaOrClose) break;
            expect_ = top == '{' ? Expect::Key : Expect::Value;
            return;
        case '"':
            if (expect_ != Expect::Key && expect_ != Expect::KeyOrClose && !valueHere) break;
            inString_ = true;
            stringIsKey_ = !valueHere;
            return;
        default:
            if (!valueHere || !IsScalarChar(c)) break;
            inScalar_ = true;
            return;
    }
    broken_ = true;
}

JsonStructureScanner::State JsonStructureScanner::Result() const {
    // A line break cannot stand inside a string.
    if (broken_ || inString_) return State::Broken;
    if (expect_ == Expect::Done || (inScalar_ && stack_.empty())) return State::Complete;
    return stack_.empty() ? State::Broken : State::Open;
}

// ---- records

JsonRecordReader::JsonRecordReader(ByteReader read, size_t chunk) : lines_(std::move(read), chunk) {}

TextLineReader::Status JsonRecordReader::Take(Line& line) {
    if (!readAhead_.empty()) {
        taken_ = std::move(readAhead_.front().first);
        line.number = readAhead_.front().second;
        readAhead_.pop_front();
        line.text = taken_;
        return TextLineReader::kLine;
    }
    if (failed_) return TextLineReader::kError;
    const TextLineReader::Status s = lines_.Next(line.text);
    if (s == TextLineReader::kLine) line.number = nextNumber_++;
    if (s == TextLineReader::kError) failed_ = true;
    return s;
}

TextLineReader::Status JsonRecordReader::Next(JsonRecord& out) {
    Line first;
    const TextLineReader::Status s = Take(first);
    if (s != TextLineReader::kLine) return s;
    out.text = first.text;
    out.line = first.number;
    out.lines = 1;
    if (!MayLeaveObjectOpen(first.text)) return s;
    scanner_.Reset();
    scanner_.Feed(first.text);
    if (scanner_.Result() != JsonStructureScanner::State::Open) return s;

    joinedLines_.clear();
    joinedLines_.emplace_back(std::string(first.text), first.number);
    joined_.assign(first.text);
    bool complete = false;
    while (!complete && joinedLines_.size() < static_cast<size_t>(kMaxJoinedLines)) {
        Line next;
        if (Take(next) != TextLineReader::kLine) break;
        if (IsBlankLine(next.text) || joined_.size() + 1 + next.text.size() > kMaxJoinedBytes) {
            readAhead_.emplace_front(std::string(next.text), next.number);
            break;
        }
        joinedLines_.emplace_back(std::string(next.text), next.number);
        joined_ += ' ';
        joined_ += next.text;
        scanner_.Feed(" ");
        scanner_.Feed(next.text);
        const JsonStructureScanner::State state = scanner_.Result();
        if (state == JsonStructureScanner::State::Broken) break;
        complete = state == JsonStructureScanner::State::Complete;
    }
    if (complete) {
        out.text = joined_;
        out.lines = static_cast<int>(joinedLines_.size());
        return s;
    }
    // No object came of it: the lines are read one by one, as they stand.
    for (size_t k = joinedLines_.size(); k-- > 1;) readAhead_.push_front(std::move(joinedLines_[k]));
    current_ = std::move(joinedLines_[0].first);
    out.text = current_;
    return s;
}

// ---- decoding records

JsonLineResult DecodeJsonLine(const char* line, size_t n, bool onlyMatched, JsonLineState& state, FrameSlot& slot,
                              size_t capacity) {
    size_t skip = 0;
    while (skip < n && static_cast<unsigned char>(line[skip]) <= 0x20) ++skip;
    if (skip == n) return JsonLineResult::Fail;

    json::LineFields outer, inner;
    if (!json::ReadJsonLine(line + skip, n - skip, capacity > skip ? capacity - skip : 0, onlyMatched, slot.readings,
                            outer, inner))
        return DecodeJsonLineLenient(line, n, onlyMatched, state, slot);
    const json::LineFields* data = &outer;
    int time = 0;
    int microseconds = 0;
    if (outer.haveSysTime) {
        if (!outer.haveSysData) return JsonLineResult::Fail;
        if (!outer.sysTimeHasItem || outer.sysTimeFirst.integer == 0) return JsonLineResult::Fail;
        time = outer.sysTimeFirst.integer;
        if (outer.sysTimeHasSecond) microseconds = outer.sysTimeSecond.integer;
        data = &inner;
    } else {
        if (!outer.haveTime || outer.time.integer == 0) return JsonLineResult::Fail;
        time = outer.time.integer;
    }
    if (!data->haveCounter || data->counter.integer == 0) return JsonLineResult::Fail;
    const int counter = data->counter.integer;
    if (state.havePrevious && counter == state.previousCounter) return JsonLineResult::Skip;
    state.havePrevious = true;
    state.previousCounter = counter;
    if (!data->haveSn || data->sn.kind != json::Kind::String) return JsonLineResult::Fail;
    if (!data->haveData) return JsonLineResult::Fail;
    slot.time = time;
    slot.microseconds = microseconds;
    slot.counter = counter;
    SetFrameSn(slot, data->sn.text.data(), data->sn.text.size());
    slot.count = data->readings;
    return JsonLineResult::Record;
}

JsonLineResult DecodeJsonLineLenient(const char* line, size_t n, bool onlyMatched, JsonLineState& state,
                                     FrameSlot& slot) {
    size_t skip = 0;
    while (skip < n && static_cast<unsigned char>(line[skip]) <= 0x20) ++skip;
    if (skip == n) return JsonLineResult::Fail;
    cJSON* root = cJSON_ParseWithLength(line + skip, n - skip);
    if (!root) return JsonLineResult::Fail;
    struct Free {
        cJSON* p;
        ~Free() { cJSON_Delete(p); }
    } owner{root};

    const cJSON* data = root;
    int time = 0;
    int microseconds = 0;
    if (const cJSON* sysTime = cJSON_GetObjectItem(root, "SysTime")) {
        const cJSON* sysData = cJSON_GetObjectItem(root, "SysData");
        if (!sysData) return JsonLineResult::Fail;
        const cJSON* first = cJSON_GetArrayItem(sysTime, 0);
        if (!first || first->valueint == 0) return JsonLineResult::Fail;
        time = first->valueint;
        if (const cJSON* second = cJSON_GetArrayItem(sysTime, 1)) microseconds = second->valueint;
        data = sysData;
    } else {
        const cJSON* t = cJSON_GetObjectItem(root, "Time");
        if (!t || t->valueint == 0) return JsonLineResult::Fail;
        time = t->valueint;
    }

    const cJSON* counter = cJSON_GetObjectItem(data, "Counter");
    if (!counter || counter->valueint == 0) return JsonLineResult::Fail;
    if (state.havePrevious && counter->valueint == state.previousCounter) return JsonLineResult::Skip;
    state.havePrevious = true;
    state.previousCounter = counter->valueint;
    const cJSON* sn = cJSON_GetObjectItem(data, "SN");
    if (!cJSON_IsString(sn)) return JsonLineResult::Fail;
    const cJSON* sensors = cJSON_GetObjectItem(data, "Data");
    if (!sensors) return JsonLineResult::Fail;

    slot.time = time;
    slot.microseconds = microseconds;
    slot.counter = counter->valueint;
    SetFrameSn(slot, sn->valuestring, kSnSize);
    int readings = 0;
    for (const cJSON* e = sensors->child; e && readings < kMaxReadings; e = e->next) {
        // A sensor needs an array of at least six numbers; anything else is
        // left out.
        if (!cJSON_IsArray(e)) continue;
        const cJSON* item[6];
        int have = 0;
        for (const cJSON* v = e->child; v && have < 6 && cJSON_IsNumber(v); v = v->next) item[have++] = v;
        if (have < 6) continue;
        if (onlyMatched && item[0]->valueint == 0) continue;
        SensorReading& r = slot.readings[readings++];
        r.id = item[1]->valueint;
        r.channel = item[2]->valueint;
        r.wavelength = item[3]->valueint;
        r.physicValue = item[4]->valuedouble;
        r.serial = item[5]->valueint;
    }
    slot.count = readings;
    return JsonLineResult::Record;
}

bool IsJsonObjectText(std::string_view text) {
    cJSON* root = cJSON_ParseWithLength(text.data(), text.size());
    const bool object = cJSON_IsObject(root);
    cJSON_Delete(root);
    return object;
}

}  // namespace lumora
