// Downloads against the limits only Linux can set from inside a test.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>

#include "testing/download_test_support.h"

namespace sharelink {
namespace {

using namespace download_testing;
using testing::raw_server;

TEST(Download, UnwritableFolderOrFullDiskIsAClearErrorAndThePartStays) {
  const std::string body = random_bytes(3 << 20, 9);
  raw_server server([&](raw_connection& c) { serve(c, body, {}); });
  test_folder folder;
  test_folder::write(folder / "a-file", "");
  download_job job = job_for(server.url("/f"), folder, body);
  job.output_dir = folder / "a-file/below";
  download_result result = download_file(job, {});
  ASSERT_TRUE(result.error);
  EXPECT_TRUE(result.error->starts_with("cannot create the folder " + job.output_dir + ": ")) << *result.error;

  // A disk that fills up after a megabyte, as a file-size limit plays it.
  job.output_dir = folder.path();
  rlimit saved;
  getrlimit(RLIMIT_FSIZE, &saved);
  const auto saved_handler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = saved;
  small.rlim_cur = 1 << 20;
  setrlimit(RLIMIT_FSIZE, &small);
  result = download_file(job, {});
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, saved_handler);
  ASSERT_TRUE(result.error);
  EXPECT_TRUE(result.error->starts_with("cannot write " + native(folder, "file.bin.part") + ": ")) << *result.error;
  EXPECT_EQ(result.path, native(folder, "file.bin.part"));
  EXPECT_EQ(test_folder::read(folder / "file.bin.part"), body.substr(0, 1 << 20));

  // Room again: the next run resumes.
  result = download_file(job, {});
  ASSERT_FALSE(result.error) << *result.error;
  EXPECT_EQ(result.md5_checked, true);
}

}  // namespace
}  // namespace sharelink
