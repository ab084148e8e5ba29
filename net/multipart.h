// A multipart/byteranges body, as a server answers a request for several
// ranges, read as it streams in: each part's Content-Range, then exactly
// that many bytes. Headers and everything around the parts are capped.
// Also the single Content-Range of a one-part answer. Pure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

constexpr size_t kMultipartHeaderLimit = 4096;   // one part's headers
constexpr size_t kMultipartPreambleLimit = 1024;
constexpr size_t kBoundaryLimit = 70;            // RFC 2046

// The boundary of "multipart/byteranges; boundary=..." (quoted or not).
bool multipartBoundary(std::string_view contentType, std::string* boundary);

// "bytes a-b/total" (total may be "*"): a <= b.
bool parseContentRange(std::string_view value, int64_t* first, int64_t* last);

class MultipartSink {
public:
    virtual bool onPart(int64_t first, int64_t last) = 0;  // false stops the body
    virtual bool onData(const char* data, size_t size) = 0;

protected:
    ~MultipartSink() = default;
};

class MultipartReader {
public:
    explicit MultipartReader(std::string boundary);
    // Reads the next piece of the body. False when the body is malformed or
    // the sink said stop; the reader is then done with.
    bool feed(const char* data, size_t size, MultipartSink& sink);
    // After the last piece: was the closing boundary seen?
    bool complete() const { return state_ == kDone; }

private:
    enum State { kPreamble, kAfterBoundary, kHeaders, kData, kAfterData, kDone, kBroken };
    bool takeLine(const char** data, size_t* size, size_t limit, std::string* line);
    bool onHeaders(MultipartSink& sink);

    std::string delimiter_;  // "--" + boundary
    State state_ = kPreamble;
    std::string pending_;    // a line not yet whole
    size_t preamble_ = 0, headerBytes_ = 0;
    int64_t first_ = -1, last_ = -1, left_ = 0;
    bool sawRange_ = false;
    bool blankSeen_ = false;
};
