#include "cli/explain.h"

#include <ostream>

#include "codec/one_line.h"
#include "rules/rule_template.h"

namespace sharelink::cli {
namespace {

/// The longest text a line quotes, in bytes; a value can be a whole page.
constexpr std::size_t longest_quote = 300;

/// `text` in quotes, cut after longest_quote bytes (never inside a character).
std::string quoted(std::string_view text) {
  if (text.size() <= longest_quote) return "\"" + std::string(text) + "\"";
  std::size_t end = longest_quote;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return "\"" + std::string(text.substr(0, end)) + "\"…";
}

/// Every occurrence of `secret` in `text` as "***".
void hide(std::string& text, const std::string& secret) {
  if (secret.empty()) return;
  for (std::size_t at = text.find(secret); at != std::string::npos; at = text.find(secret, at + 3))
    text.replace(at, secret.size(), "***");
}

std::string count_of(std::size_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

explain_sink::explain_sink(std::ostream& err, std::optional<std::string> password)
    : err_(err), password_(std::move(password)) {}

void explain_sink::line(std::string text) {
  if (password_) {
    hide(text, *password_);
    hide(text, escape_for_address(*password_));
  }
  const std::lock_guard<std::mutex> hold(mutex_);
  write_line(err_, "explain: " + text);
  err_.flush();
}

void explain_sink::request(const traced_request& request) {
  std::string text = request.step == "page" ? "page" : "step " + request.step;
  if (request.page > 0) text += ", page " + std::to_string(request.page);
  if (!request.folder.empty()) text += ", folder " + quoted(request.folder);
  text += ": ";
  // A saved share page has no address of its own.
  if (!request.address.empty()) text += request.method + " " + request.address + " -> ";
  if (request.status == 0 && request.error.empty()) {
    text += "saved answer, " + count_of(request.bytes, "byte", "bytes");
  } else {
    if (request.status != 0) text += std::to_string(request.status) + ", ";
    text += count_of(request.bytes, "byte", "bytes") + ", " + std::to_string(request.milliseconds) + " ms";
    if (!request.error.empty()) text += "; " + request.error;
  }
  line(std::move(text));
}

void explain_sink::reading(const traced_reading& reading) {
  std::string text = reading.what + ": " + reading.how;
  if (!reading.answer.empty()) text += " on " + reading.answer;
  if (reading.what == "records") {
    text += ", " + count_of(reading.matches, "record", "records");
  } else if (reading.how.starts_with("pattern")) {
    text += reading.matches == 0 ? ", no match" : ", " + count_of(reading.matches, "match", "matches");
  } else if (!reading.found) {
    text += ", nothing there";
  }
  if (reading.found) text += ": " + quoted(*reading.found);
  // What the reading came to, where the decode steps do not show it: a default
  // that stood in, or a condition's verdict.
  if (reading.value && reading.decoded.empty() && reading.value != reading.found)
    text += (reading.found ? " -> " : ": ") + quoted(*reading.value);
  line(std::move(text));
  for (const traced_decode& step : reading.decoded)
    line("  " + step.step + ": " + quoted(step.before) + " -> " + quoted(step.after));
}

}  // namespace sharelink::cli
