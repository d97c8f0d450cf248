// The reader of text recordings: the input is a whole file. Read in chunks of
// sizes taken from the input, it gives the same records as read at once; a
// record is one line, or lines joined with blanks into a complete JSON value
// within the limits; every line is in exactly one record. A text the lenient
// parser takes as an object is complete for the scanner that decides joins.
// The input taken as one datagram is written as exactly one line.
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "formats/json_lines.h"

namespace {

struct Seen {
    std::string text;
    int64_t line;
    int lines;
    bool operator==(const Seen& o) const { return text == o.text && line == o.line && lines == o.lines; }
};

std::vector<Seen> ReadAll(const uint8_t* data, size_t size, size_t step) {
    size_t at = 0, calls = 0;
    lumora::JsonRecordReader reader(
        [&](uint8_t* into, size_t n) -> ssize_t {
            const size_t chunk = step ? step : (size ? 1 + data[(calls++ * 7919) % size] : 1);
            const size_t take = std::min({n, chunk, size - at});
            std::memcpy(into, data + at, take);
            at += take;
            return static_cast<ssize_t>(take);
        },
        step ? step : 16);
    std::vector<Seen> out;
    lumora::JsonRecord r;
    lumora::TextLineReader::Status s;
    while ((s = reader.Next(r)) == lumora::TextLineReader::kLine) out.push_back({std::string(r.text), r.line, r.lines});
    if (s != lumora::TextLineReader::kEnd) std::abort();
    return out;
}

lumora::JsonStructureScanner::State Scan(std::string_view text) {
    lumora::JsonStructureScanner scanner;
    scanner.Feed(text);
    return scanner.Result();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> lines;
    const char* text = reinterpret_cast<const char*>(data);
    for (size_t begin = 0; begin < size;) {
        const void* nl = std::memchr(text + begin, '\n', size - begin);
        const size_t end = nl ? static_cast<size_t>(static_cast<const char*>(nl) - text) : size;
        lines.emplace_back(text + begin, end - begin);
        begin = end + 1;
    }

    const std::vector<Seen> whole = ReadAll(data, size, size + 1);
    if (ReadAll(data, size, 0) != whole) std::abort();
    size_t next = 0;
    for (const Seen& r : whole) {
        if (r.line != static_cast<int64_t>(next) + 1 || r.lines < 1 || next + r.lines > lines.size()) std::abort();
        std::string joined = lines[next];
        for (int k = 1; k < r.lines; ++k) joined += ' ' + lines[next + k];
        if (joined != r.text) std::abort();
        if (r.lines > 1 && (r.lines > lumora::JsonRecordReader::kMaxJoinedLines ||
                            r.text.size() > lumora::JsonRecordReader::kMaxJoinedBytes ||
                            Scan(r.text) != lumora::JsonStructureScanner::State::Complete))
            std::abort();
        if (lumora::IsJsonObjectText(r.text) && Scan(r.text) != lumora::JsonStructureScanner::State::Complete)
            std::abort();
        next += static_cast<size_t>(r.lines);
    }
    if (next != lines.size()) std::abort();

    // Written as a datagram, with and without the time: one line.
    const lumora::StampTime t{1700000000, 250000};
    for (const lumora::StampTime* stamp : {&t, static_cast<const lumora::StampTime*>(nullptr)}) {
        std::vector<uint8_t> line;
        lumora::AppendJsonLine(line, data, size, stamp);
        if (line.empty() || line.back() != '\n' || std::memchr(line.data(), '\n', line.size() - 1) ||
            std::memchr(line.data(), '\r', line.size()))
            std::abort();
    }
    return 0;
}
