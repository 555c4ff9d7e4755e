// Downloads a large file from a loopback server with download_file and with
// `curl -o`, alternately, and prints the speed of each and their ratio: with the
// MD5 checked (a page that states one) and without (a page that states none).
//   sharelink_download_bench [MiB] [rounds]     (defaults: 1024 MiB, 3 rounds)
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "download/download.h"
#include "download/md5.h"
#include "testing/raw_server.h"

extern char** environ;

namespace {

using sharelink::testing::raw_connection;

// Runs curl with an argument vector; true when it succeeded.
bool run_curl(const std::string& url, const std::string& out) {
  std::vector<std::string> args = {"curl", "-s", "-S", "-f", "-o", out, url};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid;
  if (posix_spawnp(&pid, "curl", nullptr, nullptr, argv.data(), environ) != 0) return false;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Seconds `work` takes, kept when it is the best so far.
bool timed(double& best, const std::function<bool()>& work) {
  const auto start = std::chrono::steady_clock::now();
  const bool ok = work();
  best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  const std::uint64_t mib = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1024;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
  const std::uint64_t size = mib << 20;

  // The file: one random megabyte over and over.
  std::string block(1 << 20, '\0');
  std::mt19937 random(1);
  for (char& c : block) c = static_cast<char>(random());
  std::string digest;
  double md5_time = 1e9;
  timed(md5_time, [&] {
    sharelink::md5 hash;
    for (std::uint64_t i = 0; i < mib; ++i) hash.update(block);
    digest = sharelink::md5::to_hex(hash.finish());
    return true;
  });

  sharelink::testing::raw_server server([&](raw_connection& c) {
    c.send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(size) +
           "\r\nConnection: close\r\n\r\n");
    for (std::uint64_t i = 0; i < mib; ++i)
      if (!c.send(block)) return;
  });
  const std::string url = server.url("/file.bin");
  const auto dir = std::filesystem::temp_directory_path() /
                   ("sharelink-download-bench-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);

  const auto download = [&](bool with_md5) {
    sharelink::download_job job;
    job.url = url;
    job.file_name = "file.bin";
    job.expected_size = size;
    if (with_md5) job.expected_md5 = digest;
    job.output_dir = dir.string();
    const sharelink::download_result result = sharelink::download_file(job, {});
    std::filesystem::remove(dir / "file.bin");
    const bool ok = !result.error && result.md5_checked == (with_md5 ? std::optional(true) : std::nullopt);
    if (!ok) std::fprintf(stderr, "download failed: %s\n", result.error.value_or("MD5 not checked").c_str());
    return ok;
  };

  double curl = 1e9, checked = 1e9, unchecked = 1e9, fetch_only = 1e9;
  bool ok = true;
  for (int round = 0; round < rounds && ok; ++round) {
    ok = timed(curl, [&] {
      const bool fine = run_curl(url, (dir / "curl.bin").string());
      std::filesystem::remove(dir / "curl.bin");
      return fine;
    });
    ok = ok && timed(checked, [&] { return download(true); });
    ok = ok && timed(unchecked, [&] { return download(false); });
    // The fetch alone, its bytes dropped: the most a download could reach.
    ok = ok && timed(fetch_only, [&] {
      sharelink::fetch_options options;
      options.total_timeout_ms = 0;
      return sharelink::fetch_streaming(url, options, {}, [](const auto&) { return true; },
                                        [](std::string_view) { return true; })
          .fetched;
    });
  }
  std::filesystem::remove_all(dir);
  if (!ok) return 1;
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const double m = static_cast<double>(mib);
  std::printf("%llu MiB from loopback, best of %d, MiB/s:\n"
              "  curl -o                       %6.0f\n"
              "  download_file, MD5 checked    %6.0f  ratio %.2f\n"
              "  download_file, no MD5 stated  %6.0f  ratio %.2f\n"
              "  the fetch alone, no file      %6.0f\n"
              "  MD5 alone, in memory          %6.0f\n"
              "peak memory of this process: %ld MiB\n",
              static_cast<unsigned long long>(mib), rounds, m / curl, m / checked, curl / checked,
              m / unchecked, curl / unchecked, m / fetch_only, m / md5_time, usage.ru_maxrss / 1024);
  return 0;
}
