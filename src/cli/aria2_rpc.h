#pragma once
// Handing files to a running aria2 over its JSON-RPC interface (--aria2-rpc), with
// the options an --aria2 list gives each file.
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "cli/listed_names.h"
#include "cli/report.h"
#include "runtime/fetch.h"

namespace sharelink::cli {

/// One file for aria2.addUri: its address and options (name, value; a name given
/// twice, as "header" may be, becomes a list).
struct aria2_download {
  std::string url;
  std::vector<std::pair<std::string, std::string>> options;
};

/// What aria2 answered for one file: its GID, or why it refused the file.
struct aria2_answer {
  std::string gid;
  std::string refusal;
};

/// An aria2 reached at a JSON-RPC address, with its secret (never printed).
class aria2_rpc {
 public:
  /// `address`: http or https; `fetch`: the run's limits, proxy and cancel flag (an
  /// address on this machine is reached without a proxy).
  aria2_rpc(std::string address, std::string secret, fetch_options fetch);

  /// Sends `downloads` with aria2.addUri, many to a request (system.multicall), and
  /// puts aria2's answer for each into `answers` (as many, in order). The reason when
  /// aria2 could not be reached or did not answer: `answers` then holds the answers
  /// of the requests before, and empty ones after. `taken_unknown` tells whether the
  /// request that failed may still have been carried out.
  std::optional<std::string> add(const std::vector<aria2_download>& downloads, std::vector<aria2_answer>& answers,
                                 bool& taken_unknown);

  /// The address as messages show it: without any user info.
  const std::string& shown_address() const { return shown_; }

  /// The GIDs given so far, per file (see file_owners), for a file listed again.
  std::map<std::string, std::string> gids;
  /// How many files aria2 has taken in this run.
  std::size_t taken = 0;

 private:
  std::string address_, secret_, shown_;
  fetch_options fetch_;
};

/// Whether `address` can be an --aria2-rpc address; the reason when not.
std::optional<std::string> aria2_rpc_address_refusal(const std::string& address);

/// Hands the files of `r` that have no outcome yet to aria2, named as the --aria2
/// list names them (`listed`, `names`), with the options of an --aria2 entry and
/// `dir` = `output_dir` when it is not empty. Each file taken gets its GID; one
/// refused is an error of `r`. False when aria2 cannot be reached or refuses every
/// file: the run ends there, the error of `r` saying which files were taken.
bool hand_to_aria2(resolution& r, aria2_rpc& rpc, const std::string& output_dir, aria2_listing& listed,
                   name_claims& names);

/// The labelled line of a file handed to aria2 ("sent to aria2: NAME (GID ...)"),
/// of one passed over ("in archive: ..."), or empty for a file that was not sent.
std::string aria2_rpc_line(const file_entry& f, std::size_t index);

}  // namespace sharelink::cli
