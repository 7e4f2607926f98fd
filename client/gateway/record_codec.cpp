#include "client/gateway/record_codec.h"

namespace vantrel {

std::string trimmed(std::string_view text) {
    auto blank = [](char c) {
        return c == ' ' || c == '\0' || c == '\t' || c == '\r' || c == '\n';
    };
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && blank(text[begin])) ++begin;
    while (end > begin && blank(text[end - 1])) --end;
    return std::string(text.substr(begin, end - begin));
}

}  // namespace vantrel
