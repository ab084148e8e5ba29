#include "net/multipart.h"

#include <cstring>


namespace {

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (lower(text[i]) != lower(prefix[i])) return false;
    return true;
}

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

bool takeNumber(std::string_view s, size_t* pos, int64_t* value) {
    const size_t start = *pos;
    int64_t v = 0;
    while (*pos < s.size() && s[*pos] >= '0' && s[*pos] <= '9') {
        if (v > (INT64_MAX - 9) / 10) return false;
        v = v * 10 + (s[(*pos)++] - '0');
    }
    *value = v;
    return *pos > start;
}

}  // namespace

bool multipartBoundary(std::string_view contentType, std::string* boundary) {
    if (!startsWithNoCase(trimmed(contentType), "multipart/byteranges")) return false;
    for (size_t at = contentType.find(';'); at != std::string_view::npos; at = contentType.find(';', at + 1)) {
        std::string_view parameter = trimmed(contentType.substr(at + 1));
        if (!startsWithNoCase(parameter, "boundary=")) continue;
        std::string_view value = parameter.substr(9);
        value = value.substr(0, value.find(';'));
        value = trimmed(value);
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
        if (value.empty() || value.size() > kBoundaryLimit || value.find_first_of("\r\n") != std::string_view::npos)
            return false;
        boundary->assign(value);
        return true;
    }
    return false;
}

bool parseContentRange(std::string_view value, int64_t* first, int64_t* last) {
    value = trimmed(value);
    if (!startsWithNoCase(value, "bytes ")) return false;
    size_t pos = 6;
    int64_t a = 0, b = 0, total = 0;
    if (!takeNumber(value, &pos, &a) || pos >= value.size() || value[pos++] != '-' || !takeNumber(value, &pos, &b) ||
        pos >= value.size() || value[pos++] != '/' || b < a)
        return false;
    if (value.substr(pos) != "*" && (!takeNumber(value, &pos, &total) || pos != value.size() || b >= total))
        return false;
    *first = a;
    *last = b;
    return true;
}

MultipartReader::MultipartReader(std::string boundary) : delimiter_("--" + std::move(boundary)) {}

// A CRLF-ended line into *line (without it); false while it is not whole.
bool MultipartReader::takeLine(const char** data, size_t* size, size_t limit, std::string* line) {
    const char* end = static_cast<const char*>(std::memchr(*data, '\n', *size));
    const size_t take = end ? static_cast<size_t>(end - *data) + 1 : *size;
    if (pending_.size() + take > limit) {
        state_ = kBroken;
        return false;
    }
    pending_.append(*data, take);
    *data += take;
    *size -= take;
    if (!end) return false;
    if (pending_.size() < 2 || pending_[pending_.size() - 2] != '\r') {
        state_ = kBroken;
        return false;
    }
    line->assign(pending_, 0, pending_.size() - 2);
    pending_.clear();
    return true;
}

bool MultipartReader::onHeaders(MultipartSink& sink) {
    if (!sawRange_) return false;
    left_ = last_ - first_ + 1;
    state_ = kData;
    sawRange_ = false;
    return sink.onPart(first_, last_);
}

bool MultipartReader::feed(const char* data, size_t size, MultipartSink& sink) {
    std::string line;
    while (size > 0 && state_ != kBroken) {
        switch (state_) {
            case kPreamble: {
                // Anything before the first delimiter line (nginx sends an empty line), capped.
                const size_t before = size;
                const bool whole = takeLine(&data, &size, kMultipartPreambleLimit, &line);
                preamble_ += before - size;
                if (preamble_ > kMultipartPreambleLimit) state_ = kBroken;
                else if (whole && line == delimiter_) state_ = kHeaders;
                break;
            }
            case kHeaders: {
                if (!takeLine(&data, &size, kMultipartHeaderLimit, &line)) break;
                headerBytes_ += line.size() + 2;
                if (headerBytes_ > kMultipartHeaderLimit) state_ = kBroken;
                else if (line.empty()) {
                    headerBytes_ = 0;
                    if (!onHeaders(sink)) state_ = kBroken;
                } else if (startsWithNoCase(line, "content-range:")) {
                    if (sawRange_ || !parseContentRange(std::string_view(line).substr(14), &first_, &last_))
                        state_ = kBroken;
                    sawRange_ = true;
                }
                break;
            }
            case kData: {
                const size_t take = static_cast<int64_t>(size) < left_ ? size : static_cast<size_t>(left_);
                if (!sink.onData(data, take)) state_ = kBroken;
                data += take;
                size -= take;
                left_ -= static_cast<int64_t>(take);
                if (left_ == 0 && state_ != kBroken) state_ = kAfterData;
                break;
            }
            case kAfterData: {
                // CRLF, then the delimiter line: another part or the close.
                if (!takeLine(&data, &size, kBoundaryLimit + 8, &line)) break;
                if (line.empty() && !blankSeen_) {
                    blankSeen_ = true;  // the CRLF that ends the data
                } else if (line == delimiter_) {
                    state_ = kHeaders;
                } else if (line == delimiter_ + "--") {
                    state_ = kDone;
                } else {
                    state_ = kBroken;
                }
                if (state_ != kAfterData) blankSeen_ = false;
                break;
            }
            case kDone:
                return true;  // the epilogue is ignored
            default:
                break;
        }
    }
    return state_ != kBroken;
}
