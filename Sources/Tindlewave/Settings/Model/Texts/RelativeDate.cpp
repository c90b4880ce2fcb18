#include "Settings/Model/Texts/RelativeDate.h"

#include <chrono>
#include <cstdint>
#include <string_view>

#include <fmt/format.h>

namespace tindlewave {

namespace {
struct Unit {
    std::int64_t seconds;
    std::string_view name;
    std::string_view last;  // the named previous one, empty when there is none
    std::string_view next;
};

constexpr std::int64_t day = 86400;
constexpr Unit units[] = {
    {365 * day, "year", "last year", "next year"},
    {30 * day, "month", "last month", "next month"},
    {7 * day, "week", "last week", "next week"},
    {day, "day", "yesterday", "tomorrow"},
    {3600, "hour", "", ""},
    {60, "minute", "", ""},
    {1, "second", "", ""},
};
}  // namespace

std::string relativeDateText(Date date, Date now) {
    using namespace std::chrono;
    const std::int64_t delta = duration_cast<seconds>(date - now).count();
    const bool past = delta < 0;
    const std::int64_t magnitude = past ? -delta : delta;
    for (const auto& unit : units) {
        const std::int64_t count = magnitude / unit.seconds;
        if (count == 0) continue;
        if (count == 1 && !unit.last.empty()) return std::string(past ? unit.last : unit.next);
        const auto amount = fmt::format("{} {}{}", count, unit.name, count == 1 ? "" : "s");
        return past ? amount + " ago" : "in " + amount;
    }
    return "now";
}

}  // namespace tindlewave
