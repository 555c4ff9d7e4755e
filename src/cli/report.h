#pragma once
// What the command prints for one address, in its output forms.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "codec/hex_escape.h"  // is_md5_hex
#include "codec/one_line.h"
#include "download/download.h"
#include "reading/file_record.h"
#include "runtime/error_kind.h"
#include "runtime/polite_fetch.h"
#include "runtime/text.h"

namespace sharelink::cli {

/// How the download of one file ended: download_file's result (its `refreshed`
/// counts how often the share address was resolved again for a fresh address), and
/// what the command knows besides.
struct download_report : download_result {
  download_report() = default;
  explicit download_report(download_result result) : download_result(std::move(result)) {}
  /// A file that failed, or was left out, before or instead of its download.
  static download_report failed(std::string why, error_kind kind) {
    download_report report;
    report.error = std::move(why);
    report.kind = kind;
    return report;
  }
  bool in_archive = false;  ///< passed over: the archive holds it (`path` is where it was saved)
  /// The service's MD5 is a hash of the content, but the page gives none for this
  /// file: it could not be checked.
  bool md5_missing = false;
};

/// How a file in the output folder compares with its page (--check).
struct check_report {
  std::string path;                    ///< UTF-8, the file looked at
  std::string result;                  ///< "whole", "missing", "size differs" or "MD5 differs"
  std::optional<std::uint64_t> bytes;  ///< its size, when it is there
  std::string md5;                     ///< its MD5, when it was computed
};

/// One file a page lists: the reading's record of it, with what only the command
/// adds: how its download or its check went, and what a request for it carries.
struct file_entry : file_record {
  file_entry() = default;
  file_entry(file_record&& record) : file_record(std::move(record)) {}  // NOLINT(google-explicit-constructor)
  file_entry(const file_record& record) : file_record(record) {}  // NOLINT(google-explicit-constructor)
  /// Set once the file was downloaded (or its download failed).
  std::optional<download_report> download;
  /// Set once --check looked at the file.
  std::optional<check_report> check;
  /// The GID aria2 gave the file it took over RPC; empty before.
  std::string aria2_gid;
  /// The Cookie header value a request for the file carries (the cookies the page
  /// fetch received); only an aria2 entry shows it.
  std::string cookie;
  /// The User-Agent a request for the file carries: the service rule's, or empty
  /// for the fetcher's own.
  std::string user_agent;
};

/// The outcome for one address.
struct resolution {
  std::string address;  ///< as the user gave it
  /// The share address `address` holds (the same, unless it was share text); empty
  /// when the page came from a file.
  std::string share_address;
  /// The share address, for what is sent or kept about the share (a referer, the
  /// archive): share_address, else `address`.
  const std::string& share() const { return share_address.empty() ? address : share_address; }
  std::string service;  ///< the service's name, or empty when it could not be told
  /// The service's MD5 text is the file's MD5 (a download is checked against it).
  bool md5_is_content_hash = false;
  /// The service rule's request headers ("Name: value"), which a download sends to
  /// the host of each file's address (and no further).
  std::vector<std::string> request_headers;
  /// The service rule's [limits], which the downloads of its files keep to as well.
  host_gate::host_limits limits;
  /// Status of the last response; nothing when none arrived or the page came from a file.
  std::optional<long> http_status;
  file_record fields;             ///< the file the window shows (see page_reading)
  std::vector<file_entry> files;  ///< every file the page lists, in page order
  bool more_files = false;        ///< the page lists more files than were read
  /// Nothing when the page was read and holds a download address; otherwise a
  /// one-line reason.
  std::optional<std::string> error;
  /// What kind of error `error` is, for the first reason it holds.
  std::optional<error_kind> failure_kind;
};

/// An address as error lines show it: one_line of it, "(no address)" when empty, and
/// past `most` characters its start with "…" after it, so that a pasted page of text
/// does not flood the terminal. A character is never cut in half.
std::string address_for_message(std::string_view address, std::size_t most = 200);

/// The five fields under the window's labels, one per line, each line ending in "\n".
std::string labelled_report(const resolution& r);

/// The same five labels for one file of a page.
std::string labelled_report(const file_entry& f);

/// One JSON object on one line (no line break): address, service, http_status,
/// download_url, file_name, file_type, extension, size, size_bytes, md5, files (one
/// object per file with the same field keys, and "download" once downloaded: result
/// "saved", "already there" or "failed", path, bytes, md5_checked true, false or
/// null when there was nothing to compare, error, error_kind, re_resolved) and
/// error with its error_kind. Bytes that are not UTF-8 become U+FFFD, so the result is
/// always valid JSON.
std::string json_report(const resolution& r);

/// Why `f` cannot be downloaded or listed for a downloader (its own error, or its
/// download address is empty, or not http or https), or nothing when it can.
std::optional<std::string> download_address_refusal(const file_entry& f);

/// The download address `url` as --download asks for it and as aria2 is given it
/// (see aria2_entry).
std::string aria2_download_address(std::string_view url);

/// An aria2 input-file entry for `f` that asks as a download by this program does:
/// the download address on its own line, then indented option lines: "out=" with
/// the name --download saves it under (safe_file_name, the address's last segment
/// when the page gives no usable name), "referer=" with `referer` (the share
/// address, local text) as the fetcher sends it, when not empty, "user-agent=" with
/// the one a download sends (`f.user_agent`, else the fetcher's), "header=Cookie: "
/// with `f.cookie` when it has one, and, when
/// `with_checksum` and the MD5 text is 32 hexadecimal digits, "checksum=md5=".
/// Empty when download_address_refusal refuses the file.
/// The address is the one the page gave, with the bytes
/// that would break the entry (white space, control characters) and those outside
/// ASCII percent-escaped. Nothing from the page can start or end a line early (a
/// cookie holding a control character is left out), and only http and https
/// addresses are written, so no entry begins with '#' or a blank. `out_name`, when
/// given, replaces the file's own name (see aria2_names).
std::string aria2_entry(const file_entry& f, bool with_checksum, std::string_view referer,
                        std::string_view out_name = {});

}  // namespace sharelink::cli
