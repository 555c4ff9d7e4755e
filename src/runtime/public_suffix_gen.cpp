// Build-time program: writes the rules of the public suffix list as a sorted C++
// table, each rule's labels in the ASCII form a request names its host in.
//   sharelink_public_suffix_table LIST.dat OUTPUT.cpp
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace {

/// The code points of UTF-8 `text`; nothing when it is not well formed.
std::optional<std::vector<std::uint32_t>> code_points(const std::string& text) {
  std::vector<std::uint32_t> points;
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const int length = lead < 0x80 ? 1 : lead >> 5 == 6 ? 2 : lead >> 4 == 14 ? 3 : lead >> 3 == 30 ? 4 : 0;
    if (length == 0 || i + length > text.size()) return std::nullopt;
    std::uint32_t point = length == 1 ? lead : lead & (0x7F >> length);
    for (int k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if (next >> 6 != 2) return std::nullopt;
      point = point << 6 | (next & 0x3F);
    }
    points.push_back(point);
    i += length;
  }
  return points;
}

/// A label beyond ASCII in its "xn--" form, by the Punycode algorithm of RFC 3492
/// (section 6.3, with the parameters of section 5); an ASCII label as it is.
std::optional<std::string> ascii_label(const std::string& label) {
  if (std::all_of(label.begin(), label.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
    return label;
  const std::optional<std::vector<std::uint32_t>> input = code_points(label);
  if (!input) return std::nullopt;
  constexpr std::uint32_t base = 36, t_min = 1, t_max = 26, skew = 38, damp = 700;
  const auto digit = [](std::uint32_t d) { return static_cast<char>(d < 26 ? 'a' + d : '0' + (d - 26)); };
  const auto adapt = [&](std::uint32_t delta, std::uint32_t points, bool first) {
    delta = first ? delta / damp : delta / 2;
    delta += delta / points;
    std::uint32_t k = 0;
    for (; delta > ((base - t_min) * t_max) / 2; k += base) delta /= base - t_min;
    return k + (base - t_min + 1) * delta / (delta + skew);
  };
  std::string output;
  for (std::uint32_t point : *input)
    if (point < 0x80) output.push_back(static_cast<char>(point));
  const std::uint32_t basic = static_cast<std::uint32_t>(output.size());
  if (basic > 0) output.push_back('-');
  std::uint32_t n = 0x80, delta = 0, bias = 72, handled = basic;
  while (handled < input->size()) {
    std::uint32_t next = UINT32_MAX;
    for (std::uint32_t point : *input)
      if (point >= n) next = std::min(next, point);
    delta += (next - n) * (handled + 1);
    n = next;
    for (std::uint32_t point : *input) {
      if (point < n) ++delta;
      if (point != n) continue;
      std::uint32_t q = delta;
      for (std::uint32_t k = base;; k += base) {
        const std::uint32_t t = k <= bias ? t_min : k >= bias + t_max ? t_max : k - bias;
        if (q < t) break;
        output.push_back(digit(t + (q - t) % (base - t)));
        q = (q - t) / (base - t);
      }
      output.push_back(digit(q));
      bias = adapt(delta, handled + 1, handled == basic);
      delta = 0;
      ++handled;
    }
    ++delta;
    ++n;
  }
  return "xn--" + output;
}

/// A rule with each label in its ASCII form and lower case; "!" and "*." stay.
std::optional<std::string> ascii_rule(const std::string& rule) {
  std::string out;
  std::size_t begin = 0;
  if (rule.starts_with('!')) {
    out = "!";
    begin = 1;
  }
  for (;;) {
    const std::size_t dot = rule.find('.', begin);
    std::string label = rule.substr(begin, dot == std::string::npos ? std::string::npos : dot - begin);
    for (char& c : label)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    const std::optional<std::string> ascii = ascii_label(label);
    if (!ascii || ascii->empty()) return std::nullopt;
    out += *ascii;
    if (dot == std::string::npos) return out;
    out += '.';
    begin = dot + 1;
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s LIST.dat OUTPUT.cpp\n", argv[0]);
    return 2;
  }
  std::ifstream list(argv[1], std::ios::binary);
  if (!list) {
    std::perror(argv[1]);
    return 1;
  }
  std::vector<std::string> rules;
  int line_number = 0;
  for (std::string line; std::getline(list, line);) {
    ++line_number;
    // A rule is the line's first word; "//" starts a comment.
    const std::size_t end = line.find_first_of(" \t\r");
    const std::string rule = line.substr(0, end);
    if (rule.empty() || rule.starts_with("//")) continue;
    const std::optional<std::string> ascii = ascii_rule(rule);
    if (!ascii || ascii->find_first_of("\"\\") != std::string::npos) {
      std::fprintf(stderr, "%s:%d: not a rule: %s\n", argv[1], line_number, rule.c_str());
      return 1;
    }
    rules.push_back(*ascii);
  }
  // The list has thousands of rules, com among them; far fewer is not the list.
  if (rules.size() < 1000 || std::find(rules.begin(), rules.end(), "com") == rules.end()) {
    std::fprintf(stderr, "%s: not the public suffix list\n", argv[1]);
    return 1;
  }
  std::sort(rules.begin(), rules.end());
  rules.erase(std::unique(rules.begin(), rules.end()), rules.end());

  // Written beside the target and renamed over it, so that a failed run never
  // leaves a half-written source for the next build to take as done.
  const std::string target = argv[2];
  const std::string partial = target + ".partial";
  std::FILE* out = std::fopen(partial.c_str(), "w");
  if (out == nullptr) {
    std::perror(partial.c_str());
    return 1;
  }
  std::fputs("// Generated at build time by public_suffix_gen.cpp from the public suffix list. Do not edit.\n"
             "#include \"runtime/public_suffix_table.h\"\n\n"
             "namespace sharelink {\n\n"
             "const std::string_view public_suffix_rules[] = {\n", out);
  for (const std::string& rule : rules) std::fprintf(out, "\"%s\",\n", rule.c_str());
  std::fprintf(out, "};\n\nconst std::size_t public_suffix_rule_count = %zu;\n\n}  // namespace sharelink\n",
               rules.size());
  const bool written = std::ferror(out) == 0;
  if (std::fclose(out) != 0 || !written || std::rename(partial.c_str(), target.c_str()) != 0) {
    std::perror(target.c_str());
    std::remove(partial.c_str());
    return 1;
  }
  return 0;
}
