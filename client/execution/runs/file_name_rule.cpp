#include "client/execution/runs/file_name_rule.h"

#include <cstdint>
#include <optional>

#include "client/gateway/text_format.h"

namespace vantrel::execution {

namespace {

struct Date {
    std::int64_t year;
    unsigned month;
    unsigned day;
};

// Days since 1970-01-01 of a proleptic Gregorian date, and back. Pure calendar
// arithmetic: no time zone or daylight-saving change can move the day, and any count of
// days up to nine digits stays in range.
std::int64_t daysFromCivil(const Date& date) {
    const std::int64_t y = date.year - (date.month <= 2 ? 1 : 0);
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yearOfEra = y - era * 400;
    const std::int64_t monthFromMarch = date.month > 2 ? date.month - 3 : date.month + 9;
    const std::int64_t dayOfYear = (153 * monthFromMarch + 2) / 5 + date.day - 1;
    const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

Date civilFromDays(std::int64_t days) {
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const std::int64_t dayOfEra = days - era * 146097;
    const std::int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t monthFromMarch = (5 * dayOfYear + 2) / 153;
    const auto day = static_cast<unsigned>(dayOfYear - (153 * monthFromMarch + 2) / 5 + 1);
    const auto month =
        static_cast<unsigned>(monthFromMarch < 10 ? monthFromMarch + 3 : monthFromMarch - 9);
    return Date{yearOfEra + era * 400 + (month <= 2 ? 1 : 0), month, day};
}

// The signed day offset of a bracket suffix "[%-n]"/"[%+n]" (after an optional "!"), or
// nothing when `inner` (the text between the brackets, "!" removed) is not of that form.
std::optional<std::int64_t> bracketOffset(std::string_view inner) {
    if (inner.size() < 3 || inner[0] != '%' || (inner[1] != '-' && inner[1] != '+'))
        return std::nullopt;
    const std::string_view digits = inner.substr(2);
    if (digits.size() > 9) return std::nullopt;
    std::int64_t n = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
        n = n * 10 + (c - '0');
    }
    return inner[1] == '-' ? -n : n;
}

}  // namespace

Result<std::string> applyFileNameRule(std::string_view rule, const platform::LocalTime& today) {
    if (rule.empty()) return Status::error(ErrorKind::InvalidArgument, "文件名为空!");
    const std::size_t dot = rule.rfind('.');
    const std::string_view prefix =
        dot == std::string_view::npos ? std::string_view() : rule.substr(0, dot + 1);
    std::string_view suffix = dot == std::string_view::npos ? rule : rule.substr(dot + 1);

    bool bracketed = false;
    if (suffix.size() >= 2 && suffix.front() == '[' && suffix.back() == ']') {
        bracketed = true;
        suffix = suffix.substr(1, suffix.size() - 2);
    }
    const bool upper = !suffix.empty() && suffix.front() == '!';
    if (upper) suffix.remove_prefix(1);

    std::int64_t offset = 0;
    if (suffix != "%") {
        const std::optional<std::int64_t> n = bracketed ? bracketOffset(suffix) : std::nullopt;
        if (!n) return std::string(rule);
        offset = *n;
    }
    const Date date =
        civilFromDays(daysFromCivil(Date{today.year, static_cast<unsigned>(today.month),
                                         static_cast<unsigned>(today.day)}) +
                      offset);
    return formatText(upper ? "%.*s%X%02u" : "%.*s%x%02u", static_cast<int>(prefix.size()),
                      prefix.data(), date.month, date.day);
}

bool shouldUnpack(std::string_view fileName, const std::vector<std::string>& noUnzipFileTypes) {
    const std::size_t slash = fileName.find_last_of("/\\");
    if (slash != std::string_view::npos) fileName.remove_prefix(slash + 1);
    const std::size_t dot = fileName.rfind('.');
    if (dot == std::string_view::npos || dot + 1 == fileName.size()) return false;
    const std::string_view extension = fileName.substr(dot + 1);
    const auto lower = [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    };
    for (const std::string& type : noUnzipFileTypes) {
        if (type.size() != extension.size()) continue;
        bool same = true;
        for (std::size_t i = 0; i < type.size() && same; ++i)
            same = lower(type[i]) == lower(extension[i]);
        if (same) return false;
    }
    return true;
}

}  // namespace vantrel::execution
