// Times a batch of https fetches of one host against the contract server on
// loopback, trusting a bundle as large as the system's (the system's certificates
// plus the server's own): the first fetch, which sets up the certificate store and
// the TLS session, against the later ones, which reuse both. Each fetch runs on a
// thread of its own, as a window's or a batch's may. Not a test.
//   build/bench/sharelink_fetch_batch [FETCHES]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "runtime/fetch.h"
#include "testing/contract_server.h"

int main(int argc, char** argv) {
  const int fetches = argc > 1 ? std::max(2, std::atoi(argv[1])) : 30;
  const auto servers = sharelink::testing::start_contract_server();
  if (!servers) {
    std::fprintf(stderr, "the contract server did not start\n");
    return 1;
  }
  const std::string bundle = servers->ca_file + ".bundle";
  {
    std::ofstream out(bundle, std::ios::binary);
    out << std::ifstream("/etc/ssl/certs/ca-certificates.crt", std::ios::binary).rdbuf();
    out << std::ifstream(servers->ca_file, std::ios::binary).rdbuf();
  }
  sharelink::fetch_options options;
  options.ca_file = bundle;
  options.proxy = "";
  std::vector<double> ms;
  for (int i = 0; i < fetches; ++i) {
    const auto began = std::chrono::steady_clock::now();
    sharelink::fetch_outcome outcome;
    std::thread([&] {
      outcome = sharelink::fetch_page_reporting(servers->https + "/status/200", options);
    }).join();
    ms.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - began).count());
    if (!outcome.fetched) {
      std::fprintf(stderr, "fetch %d failed: %s\n", i + 1, outcome.error.c_str());
      return 1;
    }
  }
  std::vector<double> later(ms.begin() + 1, ms.end());
  std::sort(later.begin(), later.end());
  const double median = later[later.size() / 2];
  std::printf("https batch of %d: first %.2f ms, later median %.2f ms, ratio later/first %.3f\n",
              fetches, ms.front(), median, median / ms.front());
  return 0;
}
