// A loopback HTTP server for bench/compare. Prints its port on the first line of
// standard output, then serves until it is ended (by signal):
//   /d/page           a share page of about 200 KB for one file
//   /d/many           a page of about 200 KB listing 950 files
//   /d/slow/<n>       a small share page, answered after 100 ms
//   /d/big            a share page whose download address is /big.bin
//   /big.bin          1 GiB of zero bytes, with its length
//   /d/files64        a page listing the 64 files /file4m/<n>, 4 MiB of zero bytes each
//   /d/limited/<n>    a small share page, or 429 with Retry-After: 1 while more than
//                     10 requests to it arrived in the last second
//   /share/expiring/<n>  a Pan page (with MD5) for 1 MiB at a fresh address each time,
//                     /expiring/<n>/<token>: a token serves one request only, and the
//                     first token of each file breaks off halfway
//   /d/files1000      a page listing the 1000 files /small/<n>, 1 KiB each
//   /served/small     how many requests /small/<n> has answered, as text
//   /drive/s/x        the share page of a drive whose API lists, after 10 ms each:
//   /drive/api?dir=D&page=N  20 folders at the top, 5 pages of 100 files in each
//                     (10000 files), JSON
#include <atomic>
#include <chrono>
#include <cstdio>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include <sys/socket.h>

#include "testing/loopback_server.h"

namespace {

constexpr std::size_t big_size = std::size_t{1} << 30;

std::string file_entry(const std::string& url, const std::string& size, const std::string& name) {
  return "<li><a class=\"file_name\" href=\"javascript:;\" file_url=\"" + url + "\" file_size=\"" + size +
         "\" file_name=\"" + name + "\">download</a></li>\n";
}

std::string share_page(const std::string& entries, const std::string& size, const std::string& key) {
  return "<!DOCTYPE html>\n<html><head><meta charset=\"gbk\"><title>share</title></head><body><ul>\n" + entries +
         "</ul><form><input type=\"hidden\" id=\"first_file_size\" value='" + size + "'>" +
         (key.empty() ? "" : "<input type=\"hidden\" id=\"key\" value='" + key + "'>") + "</form></body></html>\n";
}

/// About 200 KB and 950 listed files, the one the page describes last: the cost
/// of a record per file (an informative row, with no target).
std::string many_file_page() {
  std::string entries;
  for (int i = 0; entries.size() < 200 * 1024; ++i) {
    entries += file_entry("http://dl.kc.example/d/AbC" + std::to_string(i) + "/%E4%B8%AD%E6%96%87.rar?t=1350000000",
                          "1048576", "%E4%B8%AD%E6%96%87%E6%8A%A5%E5%91%8A" + std::to_string(i) + ".rar");
  }
  return share_page(entries, "1048576", "8f14e45fceea167a5a36dedd4b4c7d2b");
}

/// A share page of about 200 KB for one file, laid out as such pages are: a head
/// heavy with style and script, a header of links, the file's block with its
/// markers, the share form, then the uploader's other shares (plain links, no
/// markers), comments in GBK text, a footer and trailing scripts.
std::string one_file_page() {
  const std::string gbk_file = "\xce\xc4\xbc\xfe";      // "file" in GBK
  const std::string gbk_report = "\xb1\xa8\xb8\xe6";    // "report" in GBK
  const std::string gbk_download = "\xcf\xc2\xd4\xd8";  // "download" in GBK
  std::string page =
      "<!DOCTYPE html>\n<html>\n<head>\n"
      "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gbk\">\n"
      "<title>" + gbk_report + ".rar - " + gbk_file + "</title>\n"
      "<link rel=\"stylesheet\" href=\"/static/css/share.css?v=20121015\">\n"
      "<link rel=\"icon\" href=\"/favicon.ico\">\n<style type=\"text/css\">\n";
  for (int i = 0; i < 400; ++i) {
    const std::string n = std::to_string(i);
    page += ".share-box .item-" + n + " { margin: 0 " + std::to_string(i % 12) + "px; padding: 4px 8px; color: #" +
            std::to_string(333 + i % 600) + "; background: url(/static/img/bg" + std::to_string(i % 9) +
            ".png) no-repeat; }\n";
  }
  page += "</style>\n<script type=\"text/javascript\">\nvar SHARE_CONF = { host: 'kuai.example.com', ver: 3 };\n";
  for (int i = 0; i < 380; ++i) {
    const std::string n = std::to_string(i);
    page += "function handler_" + n + "(e) { var el = document.getElementById('panel_" + n +
            "'); if (!el) return false; el.className = el.className.replace(/\\bhidden\\b/, ''); "
            "track('click', " + n + "); return true; }\n";
  }
  page += "</script>\n</head>\n<body>\n<div id=\"header\"><ul class=\"nav\">\n";
  for (int i = 0; i < 60; ++i)
    page += "<li><a href=\"/category/" + std::to_string(i) + "\" title=\"" + gbk_file + "\">" + gbk_file +
            std::to_string(i) + "</a></li>\n";
  page +=
      "</ul></div>\n<div class=\"file_list\">\n  <ul>\n    <li>\n"
      "      <a class=\"file_name\" href=\"javascript:;\" "
      "file_url=\"http://dl.kc.example/d/AbC123/report.rar?key=8f14e45f&amp;t=1350000000\" file_size=\"1048576\" "
      "file_name=\"%E4%B8%AD%E6%96%87%E6%8A%A5%E5%91%8A.rar\" title=\"report\">" + gbk_download + "</a>\n"
      "    </li>\n  </ul>\n</div>\n<form id=\"share_info\">\n"
      "  <input type=\"hidden\" id=\"first_file_size\" value='1048576'>\n"
      "  <input type=\"hidden\" id=\"key\" value='8f14e45fceea167a5a36dedd4b4c7d2b'>\n</form>\n"
      "<div class=\"more_shares\"><h3>" + gbk_file + "</h3><ul>\n";
  for (int i = 0; i < 400; ++i) {
    const std::string n = std::to_string(i);
    page += "<li class=\"item-" + std::to_string(i % 400) + "\"><a href=\"/d/Xy" + n + "Qw\" title=\"" + gbk_report +
            n + ".zip\">" + gbk_report + n + ".zip</a><span class=\"size\">" + std::to_string(100 + i * 7) +
            " KB</span><span class=\"date\">2012-10-" + std::to_string(10 + i % 20) + "</span></li>\n";
  }
  page += "</ul></div>\n<div class=\"comments\">\n";
  for (int i = 0; i < 300; ++i)
    page += "<p class=\"comment\"><b>user" + std::to_string(i) + "</b> " + gbk_file + gbk_report + gbk_download +
            gbk_file + gbk_report + " " + std::to_string(i * 37 % 1000) + "</p>\n";
  page += "</div>\n<div id=\"footer\"><p>&copy; 2012 kuai.example.com</p></div>\n<script type=\"text/javascript\">\n";
  while (page.size() < 200 * 1024 - 64)
    page += "track('view', " + std::to_string(page.size()) + ");\n";
  page += "</script>\n</body>\n</html>\n";
  return page;
}

constexpr std::size_t file4m_size = std::size_t{4} << 20;
constexpr std::size_t expiring_size = std::size_t{1} << 20;
const std::string zero_bytes(std::size_t{4} << 20, '\0');

// Many files at once, a host that limits its rate, and addresses that expire.
void add_bulk_routes(sharelink::testing::loopback_server& server) {
  httplib::Server& http = server.http();
  http.Get("/d/files64", [&server](const httplib::Request&, httplib::Response& res) {
    std::string entries;
    for (int i = 0; i < 64; ++i)
      entries += file_entry(server.url("/file4m/" + std::to_string(i)), std::to_string(file4m_size),
                            "f" + std::to_string(i) + ".bin");
    res.set_content(share_page(entries, std::to_string(file4m_size), ""), "text/html");
  });
  http.Get(R"(/file4m/\d+)", [](const httplib::Request&, httplib::Response& res) {
    res.set_content_provider(file4m_size, "application/octet-stream",
                             [](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                               return sink.write(zero_bytes.data() + offset, std::min<std::size_t>(length, 1 << 20));
                             });
  });

  static std::mutex mutex;
  static std::deque<std::chrono::steady_clock::time_point> arrivals;
  static const std::string small = share_page(file_entry("http://dl.kc.example/d/AbC/report.rar", "1536", "report.rar"),
                                              "1536", "8f14e45fceea167a5a36dedd4b4c7d2b");
  http.Get(R"(/d/limited/\d+)", [](const httplib::Request&, httplib::Response& res) {
    const auto now = std::chrono::steady_clock::now();
    std::size_t in_last_second = 0;
    {
      std::lock_guard lock(mutex);
      arrivals.push_back(now);
      while (arrivals.front() <= now - std::chrono::seconds(1)) arrivals.pop_front();
      in_last_second = arrivals.size();
    }
    if (in_last_second > 10) {
      res.status = 429;
      res.set_header("Retry-After", "1");
      return;
    }
    res.set_content(small, "text/html");
  });

  static std::map<std::string, int> tokens;  // per file: how many addresses were handed out
  static std::map<std::string, int> used;    // per address: requests it answered
  http.Get(R"(/share/expiring/(\d+))", [&server](const httplib::Request& req, httplib::Response& res) {
    int token = 0;
    {
      std::lock_guard lock(mutex);
      token = ++tokens[req.matches[1]];
    }
    std::string dlink;
    for (char c : server.url("/expiring/" + std::string(req.matches[1]) + "/" + std::to_string(token) +
                             "?filename=e" + std::string(req.matches[1]) + ".bin"))
      dlink += c == '/' ? std::string("\\\\/") : std::string(1, c);
    // The MD5 of 1 MiB of zero bytes.
    res.set_content("<html><body><script>yunData.setData(JSON.parse(\"{\\\"list\\\":[{\\\"server_filename\\\":\\\"e" +
                        std::string(req.matches[1]) + ".bin\\\",\\\"size\\\":\\\"" + std::to_string(expiring_size) +
                        "\\\",\\\"md5\\\":\\\"b6d81b360a5672d80c27430f39153e2c\\\",\\\"dlink\\\":\\\"" + dlink +
                        "\\\"}]}\"));</script></body></html>\n",
                    "text/html");
  });
  http.Get(R"(/expiring/(\d+)/(\d+))", [](const httplib::Request& req, httplib::Response& res) {
    const std::string address = std::string(req.matches[1]) + "/" + std::string(req.matches[2]);
    {
      std::lock_guard lock(mutex);
      if (used[address]++ > 0) {
        res.status = 410;
        return;
      }
    }
    const std::size_t end = req.matches[2] == "1" ? expiring_size / 2 : expiring_size;
    res.set_content_provider(expiring_size, "application/octet-stream",
                             [end](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                               if (offset >= end) return false;  // the connection breaks off
                               return sink.write(zero_bytes.data() + offset, std::min(length, end - offset));
                             });
  });
}

// Many small files from one page, and how often they were asked for: a run that
// finds them all in its archive asks for none.
void add_small_file_routes(sharelink::testing::loopback_server& server) {
  httplib::Server& http = server.http();
  static std::atomic<long> served{0};
  http.Get("/d/files1000", [&server](const httplib::Request&, httplib::Response& res) {
    std::string entries;
    for (int i = 0; i < 1000; ++i)
      entries += file_entry(server.url("/small/" + std::to_string(i)), "1024", "s" + std::to_string(i) + ".bin");
    res.set_content(share_page(entries, "1024", ""), "text/html");
  });
  http.Get(R"(/small/\d+)", [](const httplib::Request&, httplib::Response& res) {
    ++served;
    res.set_content(std::string(1024, 's'), "application/octet-stream");
  });
  http.Get("/served/small", [](const httplib::Request&, httplib::Response& res) {
    res.set_content(std::to_string(served.load()) + "\n", "text/plain");
  });
}

// A share of 10000 files in 20 folders, listed 100 at a time by an API that takes
// 10 ms for each answer.
void add_drive_routes(sharelink::testing::loopback_server& server) {
  httplib::Server& http = server.http();
  http.Get("/drive/s/x", [](const httplib::Request&, httplib::Response& res) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    res.set_content("<html><script>var token = \"t0k3n\";</script></html>", "text/html");
  });
  http.Get("/drive/api", [&server](const httplib::Request& req, httplib::Response& res) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const std::string dir = req.get_param_value("dir");
    const int page = std::atoi(req.get_param_value("page").c_str());
    std::string list;
    if (dir.empty()) {
      for (int f = 0; f < 20 && page == 1; ++f)
        list += (f ? "," : "") + std::string("{\"isdir\":1,\"name\":\"folder ") + std::to_string(f) +
                "\",\"path\":\"/f" + std::to_string(f) + "\"}";
    } else if (page >= 1 && page <= 5) {
      for (int i = 0; i < 100; ++i) {
        const std::string n = dir.substr(1) + "-" + std::to_string((page - 1) * 100 + i);
        list += (i ? "," : "") + std::string("{\"isdir\":0,\"fs_id\":\"") + n + "\",\"name\":\"file " + n +
                ".bin\",\"size\":\"1.5 MB\",\"md5\":\"9e107d9d372bb6826bd81d3542a419d6\",\"url\":\"" +
                server.url("/dl/" + n) + "\"}";
      }
    }
    res.set_content("{\"errno\":0,\"has_more\":" + std::string(!dir.empty() && page < 5 ? "1" : "0") +
                        ",\"list\":[" + list + "]}",
                    "application/json");
  });
}

}  // namespace

int main() {
  sharelink::testing::loopback_server server;
  httplib::Server& http = server.http();
  // The library listens with a backlog of 5: of 16 connections opened at once the
  // rest would wait for the client's SYN retry (about 1 s). Keep the socket, and
  // listen on it again with a deep backlog once it is bound (Linux takes the new
  // backlog on a socket that already listens).
  int listener = -1;
  // A response goes out as a head and a body in two writes; with Nagle's
  // algorithm on, the body of a reused connection waits for the client's delayed
  // ACK of the head (40 ms), a cost of this server and not of the client.
  http.set_tcp_nodelay(true);
  http.set_socket_options([&listener](int socket) {
    httplib::default_socket_options(socket);
    listener = socket;
  });
  // Enough threads that 16 and more slow requests wait side by side.
  http.new_task_queue = [] { return new httplib::ThreadPool(64); };

  const std::string page = one_file_page();
  http.Get("/d/page", [&page](const httplib::Request&, httplib::Response& res) { res.set_content(page, "text/html"); });
  const std::string many = many_file_page();
  http.Get("/d/many", [&many](const httplib::Request&, httplib::Response& res) { res.set_content(many, "text/html"); });

  const std::string small = share_page(file_entry("http://dl.kc.example/d/AbC/report.rar", "1536", "report.rar"),
                                       "1536", "8f14e45fceea167a5a36dedd4b4c7d2b");
  http.Get(R"(/d/slow/\d+)", [&small](const httplib::Request&, httplib::Response& res) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    res.set_content(small, "text/html");
  });

  // No key on this page: a download has no MD5 to check, as curl checks none.
  http.Get("/d/big", [&server](const httplib::Request&, httplib::Response& res) {
    res.set_content(share_page(file_entry(server.url("/big.bin"), std::to_string(big_size), "big.bin"),
                               std::to_string(big_size), ""),
                    "text/html");
  });

  // The same file from a Pan page, which states its MD5 (that of 1 GiB of zero
  // bytes): the download computes and compares it.
  http.Get("/share/big", [&server](const httplib::Request&, httplib::Response& res) {
    std::string dlink;
    for (char c : server.url("/big.bin?filename=big.bin")) dlink += c == '/' ? std::string("\\\\/") : std::string(1, c);
    res.set_content("<html><body><script>yunData.setData(JSON.parse(\"{\\\"list\\\":[{\\\"size\\\":\\\"" +
                        std::to_string(big_size) +
                        "\\\",\\\"md5\\\":\\\"cd573cfaace07e7949bc0c46028904ff\\\",\\\"dlink\\\":\\\"" + dlink +
                        "\\\"}]}\"));</script></body></html>\n",
                    "text/html");
  });

  static const std::string zeros(1 << 20, '\0');
  http.Get("/big.bin", [](const httplib::Request&, httplib::Response& res) {
    res.set_content_provider(big_size, "application/octet-stream",
                             [](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                               (void)offset;
                               return sink.write(zeros.data(), std::min(length, zeros.size()));
                             });
  });

  add_bulk_routes(server);
  add_small_file_routes(server);
  add_drive_routes(server);

  server.start();
  if (listener < 0 || ::listen(listener, 1024) != 0) {
    std::perror("listen");
    return 1;
  }
  std::printf("%d\n", server.port());
  std::fflush(stdout);
  for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
}
