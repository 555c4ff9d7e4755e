#pragma once
// For tests: a loopback server that plays Mistdrive, the made-up cloud drive of
// the example rule src/rules/services/examples/mistdrive.toml.
//
//   GET  /s/KEY                   the share page: {"id":…,"sign":…,"ts":…} in a script;
//                                 a deleted share says so in the page, an unknown one is 404
//   POST /api/verify              form share_id, pwd: {"errno":0} and the cookie
//                                 MDSESSION, or {"errno":-9} for a wrong code
//   GET  /list?share_id&dir&page  one page of a folder's entries (page_size of them),
//                                 {"errno":0,"has_more":0|1,"list":[{"fs_id","isdir",
//                                 "path","server_filename","size","md5"}]}; needs the cookie
//   POST /links                   form share_id, sign, ts, fs_ids (joined by ","): the
//                                 download addresses, {"errno":0,"list":[{"fs_id","dlink"}]},
//                                 in another order than asked; needs the cookie
//   GET  /f/ID?g=N                on a host of its own: the file's bytes ("Range: bytes=N-"
//                                 too) while address N is current, else 403
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "testing/loopback_server.h"
#include "testing/raw_server.h"

namespace sharelink::testing {

class mistdrive_server {
 public:
  /// One file of a share: its path from the share's top ("/docs/a.txt") and bytes.
  struct file {
    std::string path;
    std::string body;
  };

  mistdrive_server();

  /// A share at /s/KEY guarded by `code`, holding `files` (the folders on their
  /// paths come with them). A deleted share's page says so.
  void add_share(const std::string& key, const std::string& code, const std::vector<file>& files,
                 bool deleted = false);

  /// The entries one listing page holds (default 3).
  void set_page_size(std::size_t entries);
  /// The first request for page `page` of a listing is answered 429 with
  /// "Retry-After: 1".
  void ask_to_wait_once_at_page(int page);
  /// The first download of the file at `path` stops halfway, and its address
  /// expires then: the rest comes only from a fresh one.
  void cut_and_expire_first_download(const std::string& path);

  void start();
  /// "http://127.0.0.1:PORT": the share pages and the API.
  std::string base() const { return server_.url(""); }
  std::string share_address(const std::string& key) const { return server_.url("/s/" + key); }

  /// How many requests each of /s, /api/verify, /list, /links and /f had, and how
  /// many of them were answered 429.
  std::map<std::string, int> counts() const;

  /// The MD5 of `body` as 32 lower-case hexadecimal digits.
  static std::string md5_of(const std::string& body);

 private:
  struct entry {
    long long id;
    std::string path, parent, name;
    bool folder;
    std::string body, md5;
  };
  struct share {
    std::string code, sign, ts;
    bool deleted = false;
    std::vector<entry> entries;
  };
  void answers();
  bool has_session(const httplib::Request& request, const std::string& key) const;
  void send_file(raw_connection& connection);

  loopback_server server_;
  std::unique_ptr<raw_server> files_;
  mutable std::mutex mutex_;
  std::map<std::string, share> shares_;
  std::map<long long, int> generation_;  ///< the current download address of each file
  std::set<std::string> cut_paths_;
  std::set<int> wait_pages_;
  std::size_t page_size_ = 3;
  long long next_id_ = 100;
  std::map<std::string, int> counts_;
};

}  // namespace sharelink::testing
