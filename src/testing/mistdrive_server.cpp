#include "testing/mistdrive_server.h"

#include <algorithm>
#include <sstream>

#include <nlohmann/json.hpp>
#include <openssl/evp.h>

namespace sharelink::testing {
namespace {

std::string parent_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::vector<std::string> split(const std::string& text, char by) {
  std::vector<std::string> parts;
  std::stringstream in(text);
  for (std::string part; std::getline(in, part, by);) parts.push_back(part);
  return parts;
}

void answer_json(httplib::Response& response, const nlohmann::json& json) {
  response.set_content(json.dump(), "application/json");
}

}  // namespace

mistdrive_server::mistdrive_server() { answers(); }

void mistdrive_server::start() {
  files_ = std::make_unique<raw_server>([this](raw_connection& connection) { send_file(connection); });
  server_.start();
}

void mistdrive_server::send_file(raw_connection& connection) {
  const std::string& head = connection.request_head();
  // "GET /f/ID?g=N&s=… HTTP/1.1", and "Range: bytes=FROM-" when resuming.
  long long id = -1;
  std::string generation;
  std::size_t from = 0;
  if (const std::size_t at = head.find("/f/"); at != std::string::npos) {
    id = std::atoll(head.c_str() + at + 3);
    const std::size_t g = head.find("g=", at);
    if (g != std::string::npos) generation = head.substr(g + 2, head.find_first_of("& ", g) - g - 2);
  }
  if (const std::size_t at = head.find("Range: bytes="); at != std::string::npos)
    from = static_cast<std::size_t>(std::atoll(head.c_str() + at + 13));
  std::string body;
  bool cut = false;
  {
    const std::lock_guard<std::mutex> hold(mutex_);
    ++counts_["/f"];
    const entry* wanted = nullptr;
    for (const auto& [key, s] : shares_)
      for (const entry& e : s.entries)
        if (e.id == id && !e.folder) wanted = &e;
    if (wanted == nullptr || generation != std::to_string(generation_[id]) || from > wanted->body.size()) {
      connection.send("HTTP/1.1 403 Forbidden\r\nContent-Length: 19\r\nConnection: close\r\n\r\nthe address expired");
      return;
    }
    body = wanted->body;
    // The first download of such a file stops halfway; its address expires then.
    cut = cut_paths_.erase(wanted->path) > 0;
    if (cut) ++generation_[id];
  }
  const std::string rest = body.substr(from);
  std::string reply = from > 0 ? "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes " + std::to_string(from) + "-" +
                                     std::to_string(body.size() - 1) + "/" + std::to_string(body.size()) + "\r\n"
                               : std::string("HTTP/1.1 200 OK\r\n");
  reply += "Content-Length: " + std::to_string(rest.size()) + "\r\nConnection: close\r\n\r\n";
  connection.send(reply);
  connection.send(cut ? std::string_view(rest).substr(0, rest.size() / 2) : std::string_view(rest));
}

std::string mistdrive_server::md5_of(const std::string& body) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  EVP_Digest(body.data(), body.size(), digest, &size, EVP_md5(), nullptr);
  std::string hex;
  for (unsigned int i = 0; i < size; ++i) {
    hex += "0123456789abcdef"[digest[i] >> 4];
    hex += "0123456789abcdef"[digest[i] & 15];
  }
  return hex;
}

void mistdrive_server::add_share(const std::string& key, const std::string& code, const std::vector<file>& files,
                                 bool deleted) {
  const std::lock_guard<std::mutex> hold(mutex_);
  share& s = shares_[key];
  s.code = code;
  s.sign = md5_of("sign " + key);
  s.ts = "1767225600";
  s.deleted = deleted;
  std::set<std::string> folders;
  for (const file& f : files) {
    // Each folder on the way, once, before its first file.
    for (std::string folder = parent_of(f.path); folder != "/"; folder = parent_of(folder)) {
      if (!folders.insert(folder).second) continue;
      s.entries.push_back({next_id_++, folder, parent_of(folder), folder.substr(folder.rfind('/') + 1), true, "", ""});
    }
    s.entries.push_back({next_id_++, f.path, parent_of(f.path), f.path.substr(f.path.rfind('/') + 1), false, f.body,
                         md5_of(f.body)});
  }
  // Folders in the order a listing shows them: each before the entries it holds.
  std::stable_sort(s.entries.begin(), s.entries.end(),
                   [](const entry& a, const entry& b) { return a.folder && !b.folder; });
}

void mistdrive_server::set_page_size(std::size_t entries) {
  const std::lock_guard<std::mutex> hold(mutex_);
  page_size_ = entries;
}

void mistdrive_server::ask_to_wait_once_at_page(int page) {
  const std::lock_guard<std::mutex> hold(mutex_);
  wait_pages_.insert(page);
}

void mistdrive_server::cut_and_expire_first_download(const std::string& path) {
  const std::lock_guard<std::mutex> hold(mutex_);
  cut_paths_.insert(path);
}

std::map<std::string, int> mistdrive_server::counts() const {
  const std::lock_guard<std::mutex> hold(mutex_);
  return counts_;
}

bool mistdrive_server::has_session(const httplib::Request& request, const std::string& key) const {
  return request.get_header_value("Cookie").find("MDSESSION=session-" + key) != std::string::npos;
}

void mistdrive_server::answers() {
  httplib::Server& http = server_.http();
  http.Get(R"(/s/([A-Za-z0-9]+))", [this](const httplib::Request& request, httplib::Response& response) {
    const std::lock_guard<std::mutex> hold(mutex_);
    ++counts_["/s"];
    const auto found = shares_.find(request.matches[1]);
    if (found == shares_.end()) {
      response.status = 404;
      response.set_content("<html><h1>No such share</h1></html>", "text/html");
      return;
    }
    const share& s = found->second;
    if (s.deleted) {
      response.set_content("<html><div class=\"share-deleted\">This share was deleted by its owner.</div></html>",
                           "text/html; charset=utf-8");
      return;
    }
    response.set_content("<html><head><title>Mistdrive</title></head><body><div id=\"app\"></div>\n<script>var share = "
                         "{\"id\":\"" + found->first + "\",\"sign\":\"" + s.sign + "\",\"ts\":\"" + s.ts +
                             "\"};</script></body></html>",
                         "text/html; charset=utf-8");
  });
  http.Post("/api/verify", [this](const httplib::Request& request, httplib::Response& response) {
    const std::lock_guard<std::mutex> hold(mutex_);
    ++counts_["/api/verify"];
    const std::string key = request.get_param_value("share_id");
    const auto found = shares_.find(key);
    if (found == shares_.end()) return answer_json(response, {{"errno", -7}});
    if (request.get_param_value("pwd") != found->second.code) return answer_json(response, {{"errno", -9}});
    response.set_header("Set-Cookie", "MDSESSION=session-" + key + "; Path=/; HttpOnly");
    answer_json(response, {{"errno", 0}});
  });
  http.Get("/list", [this](const httplib::Request& request, httplib::Response& response) {
    const std::lock_guard<std::mutex> hold(mutex_);
    ++counts_["/list"];
    const std::string key = request.get_param_value("share_id");
    const auto found = shares_.find(key);
    if (found == shares_.end() || !has_session(request, key)) return answer_json(response, {{"errno", -6}});
    const int page = std::max(1, std::atoi(request.get_param_value("page").c_str()));
    if (wait_pages_.erase(page) > 0) {
      ++counts_["429"];
      response.status = 429;
      response.set_header("Retry-After", "1");
      return;
    }
    std::string dir = request.get_param_value("dir");
    if (dir.empty()) dir = "/";
    std::vector<const entry*> in_dir;
    for (const entry& e : found->second.entries)
      if (e.parent == dir) in_dir.push_back(&e);
    nlohmann::json list = nlohmann::json::array();
    const std::size_t first = (static_cast<std::size_t>(page) - 1) * page_size_;
    for (std::size_t i = first; i < in_dir.size() && i < first + page_size_; ++i) {
      const entry& e = *in_dir[i];
      nlohmann::json item = {{"fs_id", e.id}, {"isdir", e.folder ? 1 : 0}, {"path", e.path},
                             {"server_filename", e.name}, {"size", e.body.size()}};
      if (!e.folder) item["md5"] = e.md5;
      list.push_back(std::move(item));
    }
    answer_json(response, {{"errno", 0}, {"has_more", first + page_size_ < in_dir.size() ? 1 : 0}, {"list", list}});
  });
  http.Post("/links", [this](const httplib::Request& request, httplib::Response& response) {
    const std::lock_guard<std::mutex> hold(mutex_);
    ++counts_["/links"];
    const std::string key = request.get_param_value("share_id");
    const auto found = shares_.find(key);
    if (found == shares_.end() || !has_session(request, key)) return answer_json(response, {{"errno", -6}});
    if (request.get_param_value("sign") != found->second.sign || request.get_param_value("ts") != found->second.ts)
      return answer_json(response, {{"errno", -1}});
    nlohmann::json list = nlohmann::json::array();
    const std::vector<std::string> ids = split(request.get_param_value("fs_ids"), ',');
    // Last asked, first answered: the rule pairs them by fs_id, not by place.
    for (auto id = ids.rbegin(); id != ids.rend(); ++id) {
      const long long n = std::atoll(id->c_str());
      list.push_back({{"fs_id", n},
                      {"dlink", files_->url("/f/") + *id + "?g=" + std::to_string(generation_[n]) + "&s=" +
                                    md5_of(found->second.sign + *id).substr(0, 8)}});
    }
    answer_json(response, {{"errno", 0}, {"list", list}});
  });
}

}  // namespace sharelink::testing
