// A loopback HTTP server for bench/compare. Prints its port on the first line of
// standard output, then serves until it is ended (by signal):
//   /d/page           a share page of about 200 KB (the last file's markers at its end)
//   /d/slow/<n>       a small share page, answered after 100 ms
//   /d/big            a share page whose download address is /big.bin
//   /big.bin          1 GiB of zero bytes, with its length
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

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

/// About 200 KB: many listed files, the one the page describes last.
std::string large_page() {
  std::string entries;
  for (int i = 0; entries.size() < 200 * 1024; ++i) {
    entries += file_entry("http://dl.kc.example/d/AbC" + std::to_string(i) + "/%E4%B8%AD%E6%96%87.rar?t=1350000000",
                          "1048576", "%E4%B8%AD%E6%96%87%E6%8A%A5%E5%91%8A" + std::to_string(i) + ".rar");
  }
  return share_page(entries, "1048576", "8f14e45fceea167a5a36dedd4b4c7d2b");
}

}  // namespace

int main() {
  sharelink::testing::loopback_server server;
  httplib::Server& http = server.http();
  // Enough threads that 16 and more slow requests wait side by side.
  http.new_task_queue = [] { return new httplib::ThreadPool(64); };

  const std::string page = large_page();
  http.Get("/d/page", [&page](const httplib::Request&, httplib::Response& res) { res.set_content(page, "text/html"); });

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

  static const std::string zeros(1 << 20, '\0');
  http.Get("/big.bin", [](const httplib::Request&, httplib::Response& res) {
    res.set_content_provider(big_size, "application/octet-stream",
                             [](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                               (void)offset;
                               return sink.write(zeros.data(), std::min(length, zeros.size()));
                             });
  });

  server.start();
  std::printf("%d\n", server.port());
  std::fflush(stdout);
  for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
}
