#include "client/base/day_text.h"

#include <cstdio>
#include <limits>

namespace vantrel::base {
namespace {

char lowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool digits(std::string_view text, std::size_t at, std::size_t count, int& value) {
    if (at + count > text.size()) return false;
    value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

int daysInMonth(int year, int month) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : days[month - 1];
}

}  // namespace

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
    }
    return true;
}

std::string ToLowerAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = lowerAscii(c);
    return out;
}

std::string FormatDateTime(const platform::LocalTime& t) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day,
                  t.hour, t.minute, t.second);
    return buffer;
}

std::string FormatDate(const platform::LocalTime& t) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%04d%02d%02d", t.year, t.month, t.day);
    return buffer;
}

std::string FormatStamp(const platform::LocalTime& t) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%04d%02d%02d%02d%02d%02d", t.year, t.month, t.day,
                  t.hour, t.minute, t.second);
    return buffer;
}

std::optional<platform::LocalTime> ParseDateTime(std::string_view text) {
    platform::LocalTime t;
    if (!digits(text, 0, 4, t.year) || text.size() < 10 || !digits(text, 5, 2, t.month) ||
        !digits(text, 8, 2, t.day)) {
        return std::nullopt;
    }
    const char sep = text[4];
    if ((sep != '-' && sep != '/') || text[7] != sep) return std::nullopt;
    if (t.month < 1 || t.month > 12 || t.day < 1 || t.day > daysInMonth(t.year, t.month))
        return std::nullopt;
    t.hour = t.minute = t.second = 0;
    if (text.size() > 10) {
        if (text[10] != ' ' || !digits(text, 11, 2, t.hour) || text.size() < 16 ||
            text[13] != ':' || !digits(text, 14, 2, t.minute)) {
            return std::nullopt;
        }
        if (text.size() > 16 &&
            (text.size() != 19 || text[16] != ':' || !digits(text, 17, 2, t.second))) {
            return std::nullopt;
        }
        if (t.hour > 23 || t.minute > 59 || t.second > 59) return std::nullopt;
    }
    return t;
}

std::int64_t LeadingInteger(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    std::int64_t value = 0;
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        const int d = text[i] - '0';
        if (value > (kMax - d) / 10) return negative ? -kMax : kMax;
        value = value * 10 + d;
    }
    return negative ? -value : value;
}

}  // namespace vantrel::base
