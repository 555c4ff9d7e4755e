#include "cli/aria2_rpc.h"

#include <algorithm>

#include <nlohmann/json.hpp>

#include "cli/downloads.h"
#include "runtime/polite_fetch.h"
#include "codec/ascii_case.h"

namespace sharelink::cli {
namespace {

using json = nlohmann::json;

// Files to one request: aria2 reads requests of up to 2 MB by default
// (--rpc-max-request-size), and a file's call takes a few hundred bytes.
constexpr std::size_t calls_per_request = 500;

// The most an answer may take: a batch's GIDs are a few kilobytes.
constexpr long answer_timeout_ms = 60000;

// True for an address on this machine, which no proxy should see.
bool is_loopback(const std::string& address) {
  std::string host = host_and_port(address);
  const auto colon = host.rfind(':');
  if (colon != std::string::npos && host.find(']', colon) == std::string::npos) host.resize(colon);
  return host == "localhost" || host == "[::1]" || host.starts_with("127.");
}

// The address without user info, for messages.
std::string without_user_info(const std::string& address) {
  const auto scheme_end = address.find("://");
  if (scheme_end == std::string::npos) return address;
  const auto authority_end = address.find_first_of("/?#", scheme_end + 3);
  const auto at = address.rfind('@', authority_end);
  if (at == std::string::npos || at < scheme_end) return address;
  return address.substr(0, scheme_end + 3) + address.substr(at + 1);
}

json call_of(const aria2_download& d, const std::string& secret) {
  json options = json::object();
  for (const auto& [name, value] : d.options) {
    if (!options.contains(name)) {
      options[name] = value;
    } else {
      if (!options[name].is_array()) options[name] = json::array({options[name]});
      options[name].push_back(value);
    }
  }
  json params = json::array();
  if (!secret.empty()) params.push_back("token:" + secret);
  params.push_back(json::array({d.url}));
  params.push_back(std::move(options));
  return json{{"methodName", "aria2.addUri"}, {"params", std::move(params)}};
}

// aria2's words for a refusal, kept to one line.
std::string fault_text(const json& fault) {
  if (fault.is_object() && fault.contains("message") && fault["message"].is_string())
    return one_line(fault["message"].get<std::string>());
  return "aria2 refused it";
}

}  // namespace

aria2_rpc::aria2_rpc(std::string address, std::string secret, fetch_options fetch)
    : address_(std::move(address)), secret_(std::move(secret)), fetch_(std::move(fetch)) {
  shown_ = one_line(without_user_info(address_));
  fetch_.headers = {"Content-Type: application/json"};
  fetch_.total_timeout_ms = answer_timeout_ms;
  if (is_loopback(address_)) fetch_.proxy = "";
}

std::optional<std::string> aria2_rpc_address_refusal(const std::string& address) {
  const fetch_address prepared = prepare_fetch_address(address);
  if (!prepared.error.empty()) return "--aria2-rpc: " + one_line(address) + ": " + prepared.error;
  return std::nullopt;
}

std::optional<std::string> aria2_rpc::add(const std::vector<aria2_download>& downloads,
                                          std::vector<aria2_answer>& answers, bool& taken_unknown) {
  answers.assign(downloads.size(), {});
  taken_unknown = false;
  for (std::size_t first = 0; first < downloads.size(); first += calls_per_request) {
    const std::size_t end = std::min(downloads.size(), first + calls_per_request);
    json calls = json::array();
    for (std::size_t i = first; i < end; ++i) calls.push_back(call_of(downloads[i], secret_));
    const json request = {{"jsonrpc", "2.0"}, {"id", "sharelink"}, {"method", "system.multicall"},
                          {"params", json::array({std::move(calls)})}};
    fetch_request post;
    post.post_body = request.dump(-1, ' ', false, json::error_handler_t::replace);
    std::string body;
    const fetch_outcome outcome = fetch_streaming(
        address_, fetch_, post, [](const response_head&) { return true; },
        [&](std::string_view bytes) {
          body.append(bytes);
          return body.size() <= fetch_.body_cap;
        });
    // What came back, when it is a JSON-RPC answer (aria2 answers a refused request
    // with an error status and an error object).
    const json answer = json::parse(body, nullptr, false);
    const bool is_answer = outcome.fetched && answer.is_object();
    if (!is_answer) {
      // A request that reached aria2 and got no whole answer may have been carried out.
      taken_unknown = outcome.status != 0 || outcome.cut != fetch_cut::none;
      if (!outcome.fetched) return "aria2 at " + shown_ + " cannot be reached: " + one_line(outcome.error);
      return "aria2 at " + shown_ + " gave no JSON-RPC answer (HTTP " + std::to_string(outcome.status) + ")";
    }
    if (answer.contains("error")) return "aria2 at " + shown_ + " refused the request: " + fault_text(answer["error"]);
    const json& results = answer.contains("result") ? answer["result"] : json();
    if (!results.is_array() || results.size() != end - first) {
      taken_unknown = true;
      return "aria2 at " + shown_ + " gave an answer that is not one of system.multicall";
    }
    for (std::size_t i = first; i < end; ++i) {
      const json& one = results[i - first];
      // A call carried out is a list holding its result; a refused one is a fault.
      if (one.is_array() && one.size() == 1 && one[0].is_string())
        answers[i].gid = one_line(one[0].get<std::string>());
      else
        answers[i].refusal = fault_text(one);
    }
  }
  return std::nullopt;
}

bool hand_to_aria2(resolution& r, aria2_rpc& rpc, const std::string& output_dir, aria2_listing& listed,
                   name_claims& names) {
  const std::vector<std::string> owners = file_owners(r);
  std::vector<std::size_t> sent;  // the files of the request, by their place on the page
  std::vector<aria2_download> downloads;
  // As the fetcher sends it: printable ASCII, escaped where it must be.
  const fetch_address referer = prepare_fetch_address(r.share());
  for (std::size_t i = 0; i < r.files.size(); ++i) {
    file_entry& f = r.files[i];
    if (f.download) continue;  // passed over: the archive holds it
    const std::optional<std::string> name = listed_path(f, owners[i], listed, names);
    if (!name) {
      // Listed already (its address given twice): taken once.
      if (const auto given = rpc.gids.find(owners[i]); given != rpc.gids.end()) f.aria2_gid = given->second;
      continue;
    }
    aria2_download d;
    d.url = aria2_download_address(f.download_url);
    d.options.emplace_back("out", *name);
    if (!output_dir.empty()) d.options.emplace_back("dir", output_dir);
    if (referer.error.empty()) d.options.emplace_back("referer", referer.url);
    d.options.emplace_back("user-agent", std::string(fetch_user_agent));
    if (!f.cookie.empty() && !has_control_character(f.cookie)) d.options.emplace_back("header", "Cookie: " + f.cookie);
    if (r.md5_is_content_hash && is_md5_hex(f.md5)) d.options.emplace_back("checksum", "md5=" + ascii_lower(f.md5));
    downloads.push_back(std::move(d));
    sent.push_back(i);
  }
  if (downloads.empty()) return true;

  std::vector<aria2_answer> answers;
  bool taken_unknown = false;
  const std::optional<std::string> failure = rpc.add(downloads, answers, taken_unknown);
  std::size_t taken_here = 0, refused = 0;
  for (std::size_t k = 0; k < sent.size(); ++k) {
    file_entry& f = r.files[sent[k]];
    if (!answers[k].gid.empty()) {
      f.aria2_gid = answers[k].gid;
      rpc.gids[owners[sent[k]]] = answers[k].gid;
      ++taken_here;
    } else if (!answers[k].refusal.empty()) {
      ++refused;
    }
  }
  const std::size_t taken_before = rpc.taken;
  rpc.taken += taken_here;
  // aria2 that takes none of the files refuses them all alike (a wrong secret):
  // one line says so, and the run ends.
  const bool refused_all = !failure && taken_here == 0 && refused == sent.size();
  if (!failure && !refused_all) {
    for (std::size_t k = 0; k < sent.size(); ++k)
      if (!answers[k].refusal.empty()) {
        const file_entry& f = r.files[sent[k]];
        add_error(r, (f.file_name.empty() ? "file " + std::to_string(sent[k] + 1) : one_line(f.file_name)) +
                         ": aria2 refused it: " + answers[k].refusal);
        if (!r.failure_kind) r.failure_kind = error_kind::download;
      }
    return true;
  }
  std::string reason = failure ? *failure
                               : "aria2 at " + rpc.shown_address() + " refused every file: " + answers[0].refusal;
  if (taken_unknown)
    reason += "; whether it took the files of this address is not known";
  else if (taken_here > 0)
    reason += "; it took " + std::to_string(taken_here) + " of the " + std::to_string(sent.size()) +
              " files of this address (those with a GID)";
  else
    reason += "; it took no file of this address";
  if (taken_before > 0) reason += " and " + std::to_string(taken_before) + " of the addresses before it";
  reason += "; the run ends here";
  add_error(r, reason);
  r.failure_kind = failure ? error_kind::network : error_kind::download;
  return false;
}

std::string aria2_rpc_line(const file_entry& f, std::size_t index) {
  const std::string name = f.file_name.empty() ? "file " + std::to_string(index + 1) : one_line(f.file_name);
  if (f.download && f.download->in_archive) return "in archive: " + one_line(f.download->path) + "\n";
  if (f.aria2_gid.empty()) return {};
  return "sent to aria2: " + name + " (GID " + f.aria2_gid + ")\n";
}

}  // namespace sharelink::cli
