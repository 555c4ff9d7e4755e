// Resolves a sample share page from a loopback server over and over and prints
// the resident set size as it goes, to show that memory stays flat. Meant to be
// run under valgrind or heaptrack:
//   valgrind --leak-check=full --errors-for-leak-kinds=definite,indirect
//            build/bench/sharelink_resolve_loop 1000
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "resolve/named_services.h"
#include "testing/raw_server.h"

namespace {

/// Resident set size in KiB, from /proc.
long resident_kib() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0, resident = 0;
  statm >> pages >> resident;
  return resident * 4;
}

std::string sample_page(const char* name) {
  std::ifstream in(std::string(SHARELINK_SOURCE_DIR) + "/src/resolve/testdata/" + name,
                   std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string response(const std::string& page) {
  return "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
         std::to_string(page.size()) + "\r\n\r\n" + page;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace sharelink;
  int rounds = argc > 1 ? std::atoi(argv[1]) : 1000;
  const std::string kuaichuan_page = sample_page("kuaichuan_share.html");
  const std::string pan_page = sample_page("pan_share.html");
  testing::raw_server server([&](testing::raw_connection& c) {
    bool pan = c.request_head().starts_with("GET /share/");
    c.send(response(pan ? pan_page : kuaichuan_page));
  });
  const std::string kuaichuan_address = server.url("/d/sample");
  const std::string pan_address = server.url("/share/link?shareid=1&uk=2");

  resolved_file first_kuaichuan = resolve_kuaichuan(kuaichuan_address);
  resolved_file first_pan = resolve_pan(pan_address);
  if (first_kuaichuan.download_url.empty() || first_pan.download_url.empty()) {
    std::fprintf(stderr, "the sample pages did not resolve\n");
    return 1;
  }
  long start = resident_kib();
  std::printf("round %5d: %ld KiB resident\n", 0, start);
  int wrong = 0;
  for (int round = 1; round <= rounds; ++round) {
    // Half the rounds on each service.
    if (round % 2) {
      wrong += resolve_kuaichuan(kuaichuan_address) != first_kuaichuan;
    } else {
      wrong += resolve_pan(pan_address) != first_pan;
    }
    if (round % 100 == 0 || round == rounds)
      std::printf("round %5d: %ld KiB resident\n", round, resident_kib());
  }
  std::printf("%d resolutions, %d differed from the first, resident grew by %ld KiB\n", rounds,
              wrong, resident_kib() - start);
  return wrong == 0 ? 0 : 1;
}
