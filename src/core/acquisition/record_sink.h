#pragma once
// Where the receive worker hands frames and texts while recording is on. The
// raw recorder implements it; the receive session knows only this.
#include <cstddef>
#include <cstdint>

namespace lumora {

class RecordSink {
public:
    virtual ~RecordSink() = default;
    // A binary frame (may be stamped in place) or the text of one datagram;
    // datagramCount is the session's count of datagrams at this moment.
    virtual int RecordData(uint8_t* data, size_t length, uint32_t datagramCount) = 0;
    // The worker's start: the current file's record count begins at 0.
    virtual void ResetRecordsInFile() = 0;
    // The end of a receive batch: what was recorded so far goes to the file
    // now, before the worker waits for the next datagram.
    virtual void Flush() {}
    // Flushes and closes the current file; never runs during RecordData.
    virtual void Close() = 0;
};

}  // namespace lumora
