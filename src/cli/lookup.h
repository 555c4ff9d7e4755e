#pragma once
// Turning one address, or one saved page, into a resolution with its verdict.
#include <atomic>
#include <memory>
#include <functional>
#include <optional>
#include <utility>
#include <vector>
#include <string>
#include <string_view>

#include "cli/report.h"
#include "reading/rule_trace.h"
#include "rules/services.h"
#include "runtime/fetch.h"

namespace sharelink::cli {

struct lookup_settings {
  std::optional<std::string> forced_service;  ///< every address is of the service of this name
  /// The services known; null for process_services().
  std::shared_ptr<const service_registry> services;
  /// --password: the extraction code of every share, before what an address or its
  /// share text gives.
  std::optional<std::string> password;
  /// The fetches' options; the user's cookies (--cookies) among them.
  fetch_options fetch;
  const service_registry& registry() const { return services ? *services : process_services(); }
  /// How a page is fetched; empty: fetch_page_reporting. The command's waits and
  /// retries come in here.
  std::function<fetch_outcome(std::string_view address, const fetch_options&)> fetch_page;
  /// Told each request and each value read (--explain), when set.
  rule_trace* trace = nullptr;
  /// The folders of a share listed at once, and its steps for files run at once
  /// (fetch_page bounds each host further).
  std::size_t at_once = 4;
};

/// Why `address` (UTF-8) is not fetched at all, or nothing: it has no scheme, or it
/// holds characters the local code page cannot carry (sending it would change it).
std::optional<std::string> address_refusal(std::string_view address);

/// The error of a page whose fields (for a page listing files, the last file's) give
/// no download address.
inline constexpr const char* no_download_address = "the page holds no download address";

/// The verdict on a fetch whose page was read: an HTTP status outside 200-299
/// ("HTTP 404 Not Found"), a page that did not arrive whole (the fetcher's reason and
/// the bytes read), or a page without a download address. Nothing when all is well.
/// `bytes_read` is the size of the body when `outcome` no longer holds it.
std::optional<std::string> fetch_verdict(const fetch_outcome& outcome, bool has_download_url,
                                         std::optional<std::size_t> bytes_read = std::nullopt);

/// Fetches and reads the page behind `address` (UTF-8): a share address, or share
/// text holding one (read_share_text). An error's kind is that of its first reason:
/// the address refused, the user's access (login, extraction code), the reading's,
/// the fetch's, or page for a page without a download address. Never throws.
resolution resolve_address(const std::string& address, const lookup_settings& settings);

/// Reads a page already at hand, and the answers of the service's steps
/// (step name, bytes) when it has any; an error when it holds no download address,
/// when a pattern is too complex for it, or when a step's answer is missing. The
/// reading stops early, "interrupted", once `cancel` turns true.
///
/// What a saved page's reading goes by besides its answers.
struct saved_reading {
  /// The share address it pretends (UTF-8), for {share}, and for the code its
  /// [password] query or text finds; empty: none.
  std::string address;
  /// The extraction code (UTF-8), before what `address` holds.
  std::optional<std::string> password;
  /// Told each reading (--explain), when set.
  rule_trace* trace = nullptr;
};

resolution resolve_saved_page(std::string_view page_bytes, const service_entry& which,
                              const std::vector<std::pair<std::string, std::string>>& step_answers = {},
                              const std::atomic<bool>* cancel = nullptr, const saved_reading& more = {});

}  // namespace sharelink::cli
