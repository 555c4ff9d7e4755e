#include "runtime/retry_after.h"

#include <array>
#include <string>
#include <vector>

#include "codec/ascii_case.h"
#include "runtime/text.h"

namespace sharelink {
namespace {

// The longest wait a number of seconds is read as (about 68 years): past any limit a
// caller sets, and no overflow on the clock.
constexpr long long longest_seconds = 0x7fffffffLL;

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

bool all_digits(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text)
    if (!is_digit(c)) return false;
  return true;
}

long long number(std::string_view digits) {
  long long n = 0;
  for (char c : digits) n = std::min(n * 10 + (c - '0'), longest_seconds);
  return n;
}

// 1 to 12 for a month's three-letter name in any case, else 0.
int month_number(std::string_view name) {
  static constexpr std::array<std::string_view, 12> names = {
      "jan", "feb", "mar", "apr", "may", "jun", "jul", "aug", "sep", "oct", "nov", "dec"};
  if (name.size() != 3) return 0;
  for (std::size_t i = 0; i < names.size(); ++i)
    if (equals_ignoring_case(name, names[i]))
      return static_cast<int>(i) + 1;
  return 0;
}

// "HH:MM:SS" as seconds into the day, or -1.
long long time_of_day(std::string_view text) {
  if (text.size() != 8 || text[2] != ':' || text[5] != ':') return -1;
  const std::string_view h = text.substr(0, 2), m = text.substr(3, 2), s = text.substr(6, 2);
  if (!all_digits(h) || !all_digits(m) || !all_digits(s)) return -1;
  const long long hours = number(h), minutes = number(m), seconds = number(s);
  if (hours > 23 || minutes > 59 || seconds > 60) return -1;
  return hours * 3600 + minutes * 60 + seconds;
}

// The three date forms share their parts, only in other orders: a weekday first (left
// out), a month's name, a time with colons, and two numbers, the day before the year.
// A zone other than GMT is not one of the forms.
std::optional<std::chrono::system_clock::time_point> http_date(std::string_view value) {
  std::vector<std::string_view> tokens;
  for (std::size_t i = 0; i < value.size();) {
    if (value[i] == ' ' || value[i] == ',' || value[i] == '-' || value[i] == '\t') {
      ++i;
      continue;
    }
    std::size_t end = i;
    while (end < value.size() && value[end] != ' ' && value[end] != ',' && value[end] != '-' &&
           value[end] != '\t')
      ++end;
    tokens.push_back(value.substr(i, end - i));
    i = end;
  }
  int month = 0;
  long long seconds_in_day = -1;
  std::vector<long long> numbers;
  for (std::size_t i = 0; i < tokens.size(); ++i) {
    const std::string_view t = tokens[i];
    if (all_digits(t) && t.size() <= 4) {
      numbers.push_back(number(t));
    } else if (t.find(':') != std::string_view::npos) {
      if (seconds_in_day >= 0 || (seconds_in_day = time_of_day(t)) < 0) return std::nullopt;
    } else if (const int m = month_number(t); m != 0 && month == 0) {
      month = m;
    } else if (t == "GMT" || (i == 0 && is_letter(t[0]))) {
      continue;  // the zone, or the weekday
    } else {
      return std::nullopt;
    }
  }
  if (month == 0 || seconds_in_day < 0 || numbers.size() != 2) return std::nullopt;
  long long year = numbers[1];
  if (year < 100) year += year < 70 ? 2000 : 1900;  // a two-digit year of the old form
  const std::chrono::year_month_day date{std::chrono::year(static_cast<int>(year)),
                                         std::chrono::month(static_cast<unsigned>(month)),
                                         std::chrono::day(static_cast<unsigned>(numbers[0]))};
  if (!date.ok()) return std::nullopt;
  return std::chrono::sys_days(date) + std::chrono::seconds(seconds_in_day);
}

}  // namespace

std::optional<std::chrono::seconds> retry_after_delay(std::string_view value,
                                                      std::chrono::system_clock::time_point now) {
  value = trim(value, " \t");
  if (all_digits(value)) return std::chrono::seconds(number(value));
  const auto when = http_date(value);
  if (!when) return std::nullopt;
  if (*when <= now) return std::chrono::seconds(0);
  // Rounded up: waking a moment early would only be answered 429 again.
  return std::chrono::ceil<std::chrono::seconds>(*when - now);
}

}  // namespace sharelink
