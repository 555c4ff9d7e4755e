#include "cli/progress.h"
#include "cli/session.h"

#include <gtest/gtest.h>

#include <sstream>

namespace sharelink::cli {
namespace {

// How a download ended, as the display is told.
download_report ended(std::string path, std::uint64_t bytes, std::optional<bool> md5_checked = std::nullopt,
                      std::optional<std::string> error = std::nullopt) {
  download_report d;
  d.path = std::move(path);
  d.bytes = bytes;
  d.md5_checked = md5_checked;
  d.error = std::move(error);
  return d;
}

TEST(ProgressText, UnitsTimesAndColumns) {
  EXPECT_EQ(human_bytes(0), "0 B");
  EXPECT_EQ(human_bytes(1023), "1023 B");
  EXPECT_EQ(human_bytes(1536), "1.5 KiB");
  EXPECT_EQ(human_bytes(10u * 1024 * 1024), "10.0 MiB");
  EXPECT_EQ(human_bytes(~std::uint64_t{0}), "16.0 EiB");
  EXPECT_EQ(clock_time(7), "0:07");
  EXPECT_EQ(clock_time(750), "12:30");
  EXPECT_EQ(clock_time(3723), "1:02:03");
  EXPECT_EQ(fit_columns("abcdef", 4), "abcd");
  EXPECT_EQ(fit_columns("测试文件", 5), "测试");  // two columns each, never half of one
  EXPECT_EQ(fit_columns("a\xE6\xB5", 10), "a\xE6\xB5");  // a cut character stays as it came
}

TEST(ProgressDisplay, LiveLinesGetOutOfTheWayAndAreRemoved) {
  std::ostringstream err;
  progress_display display(err, progress_display::mode::live, 40);
  display.batch(1, 0, 3);
  const int id = display.download_begun();
  display.download_moved(id, "a\x1b[2Jb.zip", 512, 1024);
  display.around_output([&] { err << "RESULT\n"; });
  const std::string text = err.str();
  // The result starts on a cleared line, and the live lines come back after it.
  const auto result = text.find("RESULT\n");
  ASSERT_NE(result, std::string::npos);
  const std::string before = text.substr(0, result);
  EXPECT_TRUE(before.ends_with("\r\x1b[K") || before.ends_with("\x1b[A\x1b[K")) << text;
  EXPECT_NE(text.find("1/3 done", result), std::string::npos) << text;
  EXPECT_NE(text.find("a [2Jb.zip  512 B / 1.0 KiB  50%", result), std::string::npos) << text;
  display.download_ended(id, "ab.zip", ended("/tmp/ab.zip", 1024));
  display.finish();
  const std::string all = err.str();
  EXPECT_NE(all.find("sharelink: 1 file, 1.0 KiB in 0:00"), std::string::npos) << all;
  EXPECT_TRUE(all.ends_with("\n")) << all;
}

TEST(ProgressDisplay, WithoutATerminalOnlyFinishedFilesAreTold) {
  std::ostringstream err;
  progress_display display(err, progress_display::mode::lines);
  display.batch(1, 0, 3);
  const int id = display.download_begun();
  display.download_moved(id, "x.bin", 1, 2);
  display.download_ended(id, "x.bin", ended("out/x.bin", 2, true));
  const int failed = display.download_begun();
  display.download_ended(failed, "y.bin", ended("out/y.bin.part", 1, std::nullopt, "disk full"));
  display.around_output([&] { err << "RESULT\n"; });
  display.finish();
  EXPECT_EQ(err.str().find('\x1b'), std::string::npos);
  EXPECT_EQ(err.str().find('\r'), std::string::npos);
  EXPECT_EQ(err.str().rfind("sharelink: out/x.bin: 2 B", 0), 0u) << err.str();
  EXPECT_EQ(err.str().find("y.bin"), std::string::npos) << err.str();
  EXPECT_TRUE(err.str().ends_with("\nRESULT\n")) << err.str();

  std::ostringstream quiet;
  progress_display silent(quiet, progress_display::mode::silent);
  silent.download_ended(silent.download_begun(), "x", ended("x", 1));
  silent.finish();
  EXPECT_EQ(quiet.str(), "");
}

// An address counts as done on the progress line when it is, not once the slower
// ones before it have been printed.
TEST(ProgressDisplay, AddressesCountAsTheyFinishNotAsTheyArePrinted) {
  const settings chosen;
  const std::atomic<bool> interrupted{false};
  std::ostringstream out, err;
  session run(chosen, interrupted, out, err, progress_display::mode::live, 80);
  run.expect(3);
  resolution failed;
  failed.error = "HTTP 404 Not Found";
  run.complete(resolution{});  // the third address, say
  run.complete(failed);        // the second
  run.tick(3, true);
  EXPECT_NE(err.str().find("sharelink: 2/3 done, 1 failed"), std::string::npos) << err.str();
  EXPECT_TRUE(out.str().empty());
  EXPECT_TRUE(run.all_well());  // nothing printed yet, so nothing counted for the exit status
}

}  // namespace
}  // namespace sharelink::cli
