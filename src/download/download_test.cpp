// Downloads from loopback servers that honour ranges, ignore them, break off, stall,
// send too much or the wrong bytes.
#include "download/download.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <thread>

#include "download/md5.h"
#include "testing/download_test_support.h"
#include "download/files.h"

namespace sharelink {
namespace {

using namespace std::chrono_literals;
using namespace download_testing;
using testing::raw_connection;
using testing::raw_server;
using testing::test_folder;

TEST(Download, WholeFileWithProgressMd5AndTheRequestOfABrowser) {
  const std::string body = random_bytes(3 << 20, 1);
  std::string request;
  raw_server server([&](raw_connection& c) {
    request = c.request_head();
    serve(c, body, {});
  });
  test_folder folder;
  std::vector<download_progress> seen;
  const download_result result =
      download_file(job_for(server.url("/f"), folder, body), [&](const download_progress& p) { seen.push_back(p); });
  ASSERT_FALSE(result.error) << *result.error;
  EXPECT_EQ(result.path, native(folder, "file.bin"));
  EXPECT_EQ(result.bytes, body.size());
  EXPECT_EQ(result.md5_checked, true);
  EXPECT_FALSE(result.already_present);
  EXPECT_EQ(test_folder::read(folder / "file.bin"), body);
  EXPECT_FALSE(test_folder::exists(folder / "file.bin.part"));
  EXPECT_NE(request.find("\r\nReferer: http://127.0.0.1/share/abc\r\n"), std::string::npos) << request;
  EXPECT_EQ(request.find("Range:"), std::string::npos);
  ASSERT_FALSE(seen.empty());
  EXPECT_TRUE(seen.back().finished);
  EXPECT_EQ(seen.back().bytes, body.size());
  EXPECT_EQ(seen.back().total, body.size());
  EXPECT_EQ(seen.back().name, "file.bin");
  for (std::size_t i = 1; i < seen.size(); ++i) EXPECT_LE(seen[i - 1].bytes, seen[i].bytes);
}

// A .part is continued only for the file it was kept for, which the side file beside
// it names: any other .part or side file (kept for another file, a file of its own
// that a page listed, one another file of this run has) sends the download to the
// next free name, both left as they were.
TEST(Download, APartFromAnEarlierRunIsResumedOrStartedOver) {
  const std::string body = random_bytes(1 << 20, 2);
  const std::string others = random_bytes(300000, 3);
  const struct {
    const char* what;
    bool ranges;
    std::optional<std::string> part;
    const char* meta;            ///< beside the .part; nullptr: none
    const char* saved_as = "file.bin";
    const char* claimed = nullptr;  ///< a name another file of the run has
  } cases[] = {
      {"206: the kept bytes are used", true, body.substr(0, 300000), "\nme\n"},
      {"200, ranges ignored: replaced whole", false, std::string(300000, 'x'), "\nme\n"},
      {"416: the part was whole already", true, body, "\"e1\"\nme\n"},
      {"kept by a version that named no owner: used", true, body.substr(0, 300000), "\"e1\"\n"},
      {"the same, its validator a date: used", true, body.substr(0, 300000), "Sun, 06 Nov 1994 08:49:37 GMT\n"},
      {"a side file naming this file, no .part: replaced", true, std::nullopt, "\nme\n"},
      {"both empty, as a stopped run may leave them: used", true, std::string(), ""},
      {"an empty .part without a side file: used", true, std::string(), nullptr},
      {"kept for another file: passed over", true, others, "\nsomeone else\n", "file (1).bin"},
      {"no side file, a file of its own: passed over", true, others, nullptr, "file (1).bin"},
      {"a side file not of ours: passed over", true, others, "<html>\n", "file (1).bin"},
      {"a side file not of ours, no .part: passed over", true, std::nullopt, "a\nb\nc\n", "file (1).bin"},
      {"a file of the run named as the .part: passed over", true, others, "\nme\n", "file (1).bin",
       "file.bin.part"},
      {"a file of the run named as the side file: passed over", true, std::nullopt, nullptr, "file (1).bin",
       "file.bin.part.meta"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::string request;
    raw_server server([&](raw_connection& connection) {
      request = connection.request_head();
      serve(connection, body, {.ranges = c.ranges});
    });
    test_folder folder;
    if (c.part) test_folder::write(folder / "file.bin.part", *c.part);
    if (c.meta) test_folder::write(folder / "file.bin.part.meta", c.meta);
    download_job job = job_for(server.url("/f"), folder, body);
    job.owner = "me";
    job.claims = std::make_shared<name_claims>();
    if (c.claimed) job.claims->claim(native(folder, c.claimed), "another file");
    int told = 0;
    job.name_chosen = [&] { ++told; };
    const download_result result = download_file(job, {});
    ASSERT_FALSE(result.error) << *result.error;
    EXPECT_EQ(told, 1);
    EXPECT_EQ(result.md5_checked, true);
    EXPECT_TRUE(test_folder::read(folder / c.saved_as) == body);
    const bool passed_over = std::string_view(c.saved_as) != "file.bin";
    const bool resumed = !passed_over && c.part && !c.part->empty();
    const std::string range = "\r\nRange: bytes=" + std::to_string(c.part ? c.part->size() : 0) + "-\r\n";
    EXPECT_EQ(request.find(resumed ? range : "\r\nRange: ") != std::string::npos, resumed) << request;
    EXPECT_FALSE(test_folder::exists(folder / "file (1).bin.part.meta"));
    if (passed_over) {
      EXPECT_EQ(test_folder::exists(folder / "file.bin.part"), c.part.has_value());
      if (c.part) {
        EXPECT_TRUE(test_folder::read(folder / "file.bin.part") == *c.part);
      }
      EXPECT_EQ(test_folder::exists(folder / "file.bin.part.meta"), c.meta != nullptr);
      if (c.meta) {
        EXPECT_EQ(test_folder::read(folder / "file.bin.part.meta"), c.meta);
      }
    } else {
      EXPECT_FALSE(test_folder::exists(folder / "file.bin.part"));
      EXPECT_FALSE(test_folder::exists(folder / "file.bin.part.meta"));
    }
  }
}

TEST(Download, ConnectionsThatBreakOffOrStallAreResumed) {
  const std::string body = random_bytes(1 << 20, 3);
  for (const bool stall : {false, true}) {
    SCOPED_TRACE(stall ? "stalls" : "breaks off");
    std::atomic<int> served{0};
    raw_server server([&](raw_connection& c) {
      // Each of the first two answers sends 100000 bytes more, then fails.
      const int n = ++served;
      serve(c, body, {.cut_after = n <= 2 ? 100000u : SIZE_MAX, .stall = stall});
    });
    test_folder folder;
    const download_result result = download_file(job_for(server.url("/f"), folder, body), {});
    ASSERT_FALSE(result.error) << *result.error;
    EXPECT_EQ(result.md5_checked, true);
    EXPECT_EQ(test_folder::read(folder / "file.bin"), body);
    EXPECT_EQ(server.connections(), 3);
  }
}

TEST(Download, GivingUpKeepsTheBytesForALaterRun) {
  const std::string body = random_bytes(500000, 4);
  raw_server server([&](raw_connection& c) { serve(c, body, {.ranges = false, .cut_after = 1000}); });
  test_folder folder;
  download_job job = job_for(server.url("/f"), folder, body);
  job.retry.retries = 2;
  const download_result result = download_file(job, {});
  ASSERT_TRUE(result.error);
  EXPECT_NE(result.error->find("after 2 retries"), std::string::npos) << *result.error;
  EXPECT_EQ(server.connections(), 3);
  EXPECT_EQ(result.path, native(folder, "file.bin.part"));
  EXPECT_EQ(result.bytes, 1000u);
  EXPECT_EQ(test_folder::read(folder / "file.bin.part"), body.substr(0, 1000));
  EXPECT_FALSE(test_folder::exists(folder / "file.bin"));
}

TEST(Download, AWrongMd5IsFetchedOnceMoreThenKeptAsThePartOnly) {
  const std::string body = random_bytes(70000, 5);
  const std::string wrong = random_bytes(70000, 55);
  for (const bool second_is_right : {false, true}) {
    SCOPED_TRACE(second_is_right ? "right the second time" : "wrong every time");
    std::atomic<int> served{0};
    raw_server server([&](raw_connection& c) {
      serve(c, ++served == 1 || !second_is_right ? wrong : body, {});
    });
    test_folder folder;
    const download_job job = job_for(server.url("/f"), folder, body);
    const download_result result = download_file(job, {});
    EXPECT_EQ(server.connections(), 2);
    if (second_is_right) {
      ASSERT_FALSE(result.error) << *result.error;
      EXPECT_EQ(result.md5_checked, true);
      EXPECT_TRUE(test_folder::read(folder / "file.bin") == body);
      continue;
    }
    ASSERT_TRUE(result.error);
    EXPECT_EQ(*result.error, "MD5 mismatch: the file's is " + md5_hex(wrong) + ", the page states " +
                                 md5_hex(body) + " (downloaded twice; the bytes are kept in " +
                                 native(folder, "file.bin.part") + ")");
    EXPECT_EQ(result.md5_checked, false);
    EXPECT_EQ(result.path, native(folder, "file.bin.part"));
    EXPECT_TRUE(test_folder::read(folder / "file.bin.part") == wrong);
    EXPECT_FALSE(test_folder::exists(folder / "file.bin"));
    // A later run tries again from the .part and adds no copies.
    EXPECT_TRUE(download_file(job, {}).error);
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder.path())) ++entries;
    EXPECT_EQ(entries, 1u);
  }

  // The second download refused: the first one's bytes stay, and both reasons are told.
  {
    std::atomic<int> served{0};
    raw_server server([&](raw_connection& c) {
      if (++served == 1) return serve(c, wrong, {});
      c.send("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n");
    });
    test_folder folder;
    const download_result result = download_file(job_for(server.url("/f"), folder, body), {});
    ASSERT_TRUE(result.error);
    EXPECT_TRUE(result.error->starts_with("MD5 mismatch: the file's is " + md5_hex(wrong)));
    EXPECT_TRUE(result.error->ends_with("; downloading it again failed: the server answered 404 Not Found"));
    EXPECT_TRUE(test_folder::read(folder / "file.bin.part") == wrong);
  }

  // Not 32 hexadecimal digits (a key marker): nothing is compared.
  raw_server server([&](raw_connection& c) { serve(c, body, {}); });
  test_folder folder;
  download_job job = job_for(server.url("/f"), folder, body);
  job.expected_md5 = "not-a-content-hash";
  const download_result unchecked = download_file(job, {});
  EXPECT_FALSE(unchecked.error);
  EXPECT_EQ(unchecked.md5_checked, std::nullopt);
}

/// A server that honours ranges only under the validator it gives (as If-Range asks).
struct versioned_file {
  std::string body;
  std::string etag, last_modified;  ///< sent with every answer when not empty
};

void serve_version(raw_connection& connection, const versioned_file& file, std::size_t cut_after) {
  const std::string& head = connection.request_head();
  const auto at = head.find("\r\nIf-Range: ");
  const std::string if_range =
      at == std::string::npos ? "" : head.substr(at + 12, head.find("\r\n", at + 12) - at - 12);
  const bool same = if_range.empty() || if_range == file.etag || if_range == file.last_modified;
  std::string validators;
  if (!file.etag.empty()) validators += "ETag: " + file.etag + "\r\n";
  if (!file.last_modified.empty()) validators += "Last-Modified: " + file.last_modified + "\r\n";
  const std::size_t from = same ? range_start(head) : 0;
  std::string answer = from > 0 ? "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes " +
                                      std::to_string(from) + "-" +
                                      std::to_string(file.body.size() - 1) + "/" +
                                      std::to_string(file.body.size()) + "\r\n"
                                : "HTTP/1.1 200 OK\r\n";
  answer += validators + "Content-Length: " + std::to_string(file.body.size() - from) +
            "\r\nConnection: close\r\n\r\n";
  const std::string_view rest = std::string_view(file.body).substr(from);
  if (connection.send(answer)) connection.send(rest.substr(0, std::min(cut_after, rest.size())));
}

TEST(Download, AResumeAsksForTheSameFileAndAChangedOneStartsOver) {
  const std::string first = random_bytes(200000, 11), second = random_bytes(200000, 12);
  const struct {
    const char* what;
    versioned_file before, after;
    std::string if_range;  ///< what the resume must send
  } cases[] = {
      {"same ETag: resumed", {first, "\"v1\"", ""}, {first, "\"v1\"", ""}, "\"v1\""},
      {"changed ETag: whole again", {first, "\"v1\"", ""}, {second, "\"v2\"", ""}, "\"v1\""},
      {"changed date: whole again",
       {first, "", "Tue, 01 Dec 2026 10:00:00 GMT"},
       {second, "", "Wed, 02 Dec 2026 10:00:00 GMT"},
       "Tue, 01 Dec 2026 10:00:00 GMT"},
      {"a weak ETag is no proof: the date is", {first, "W/\"w\"", "Tue, 01 Dec 2026 10:00:00 GMT"},
       {first, "W/\"w\"", "Tue, 01 Dec 2026 10:00:00 GMT"}, "Tue, 01 Dec 2026 10:00:00 GMT"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::atomic<int> served{0};
    std::string resumed_request;
    raw_server server([&](raw_connection& connection) {
      if (++served == 1) return serve_version(connection, c.before, 60000);
      resumed_request = connection.request_head();
      serve_version(connection, c.after, SIZE_MAX);
    });
    test_folder folder;
    download_job job = job_for(server.url("/f"), folder, c.after.body);
    job.expected_md5.clear();
    job.retry.retries = 0;
    EXPECT_TRUE(download_file(job, {}).error);  // broken off after 60000 bytes
    EXPECT_EQ(test_folder::read(folder / "file.bin.part").size(), 60000u);
    const download_result result = download_file(job, {});
    ASSERT_FALSE(result.error) << *result.error;
    EXPECT_NE(resumed_request.find("\r\nRange: bytes=60000-\r\n"), std::string::npos);
    EXPECT_NE(resumed_request.find("\r\nIf-Range: " + c.if_range + "\r\n"), std::string::npos)
        << resumed_request;
    EXPECT_TRUE(test_folder::read(folder / "file.bin") == c.after.body);
    EXPECT_FALSE(test_folder::exists(folder / "file.bin.part.meta"));
  }
}

// An answer is taken only once its status, range and size fit; until then the .part
// keeps every byte it had.
TEST(Download, ThePartIsEmptiedOnlyForAnAnswerThatFits) {
  const std::string body = random_bytes(10240, 13);
  const std::string error_page = "<html>link expired</html>";
  const struct {
    const char* what;
    std::size_t part;               ///< bytes of the file the .part holds
    bool page_states_size;
    std::function<void(raw_connection&)> answer;
    std::string error;              ///< empty: the whole file is saved
  } cases[] = {
      {"200 with an error page of another size", 5000, true,
       [&](raw_connection& c) {
         c.send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(error_page.size()) +
                "\r\n\r\n" + error_page);
       },
       "the server announces 25 bytes but the page states 10240"},
      {"416 whose total is the .part's size: whole", 10240, false,
       [&](raw_connection& c) {
         c.send("HTTP/1.1 416 Range Not Satisfiable\r\nContent-Range: bytes */10240\r\n"
                "Content-Length: 0\r\n\r\n");
       },
       ""},
      {"a range past an announced total, then the whole file", 12000, false,
       [&](raw_connection& c) {
         if (range_start(c.request_head()) > 0) {
           c.send("HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 12000-12099/10240\r\n"
                  "Connection: close\r\n\r\n" + std::string(100, 'j'));
           return;
         }
         serve(c, body, {});
       },
       ""},
      {"206 from elsewhere in the file, then a 404", 5000, true,
       [&](raw_connection& c) {
         if (range_start(c.request_head()) == 0) {
           c.send("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n");
           return;
         }
         c.send("HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 0-10239/10240\r\n"
                "Content-Length: 5\r\n\r\nwrong");
       },
       "the server answered 404 Not Found"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    raw_server server(c.answer);
    test_folder folder;
    std::string part = c.part <= body.size() ? body.substr(0, c.part)
                                             : body + std::string(c.part - body.size(), 'x');
    test_folder::write(folder / "file.bin.part", part);
    download_job job = job_for(server.url("/f"), folder, body);
    job.expected_md5.clear();
    if (!c.page_states_size) job.expected_size.reset();
    const download_result result = download_file(job, {});
    if (c.error.empty()) {
      ASSERT_FALSE(result.error) << *result.error;
      EXPECT_TRUE(test_folder::read(folder / "file.bin") == body);
      continue;
    }
    ASSERT_TRUE(result.error);
    EXPECT_EQ(*result.error, c.error);
    EXPECT_TRUE(test_folder::read(folder / "file.bin.part") == part);
    EXPECT_FALSE(test_folder::exists(folder / "file.bin"));
  }
}

TEST(Download, AnExistingFileIsNeverReplaced) {
  const std::string body = random_bytes(50000, 6);
  raw_server server([&](raw_connection& c) { serve(c, body, {}); });
  test_folder folder;
  download_job job = job_for(server.url("/f"), folder, body);

  // The same file: done, without a request.
  test_folder::write(folder / "file.bin", body);
  download_result result = download_file(job, {});
  EXPECT_FALSE(result.error);
  EXPECT_TRUE(result.already_present);
  EXPECT_EQ(result.md5_checked, true);
  EXPECT_EQ(server.connections(), 0);

  // Same size, other bytes; then another size: each time the next free name.
  test_folder::write(folder / "file.bin", std::string(body.size(), 'x'));
  result = download_file(job, {});
  EXPECT_FALSE(result.already_present);
  EXPECT_EQ(result.path, native(folder, "file (1).bin"));
  test_folder::write(folder / "file (1).bin", "short");
  result = download_file(job, {});
  EXPECT_EQ(result.path, native(folder, "file (2).bin"));
  EXPECT_EQ(test_folder::read(folder / "file (2).bin"), body);
  EXPECT_EQ(test_folder::read(folder / "file.bin"), std::string(body.size(), 'x'));

  // With no size or MD5 from the page, the size the server announces decides.
  test_folder::write(folder / "file.bin", "other");
  job.expected_size.reset();
  job.expected_md5.clear();
  result = download_file(job, {});
  EXPECT_TRUE(result.already_present);
  EXPECT_EQ(result.path, native(folder, "file (2).bin"));
  EXPECT_EQ(result.md5_checked, std::nullopt);

  // A folder where NAME.part would go: passed over, as a folder at NAME is.
  test_folder fresh;
  std::filesystem::create_directories(std::filesystem::u8path(fresh / "file.bin.part"));
  result = download_file(job_for(server.url("/f"), fresh, body), {});
  ASSERT_FALSE(result.error) << *result.error;
  EXPECT_EQ(result.path, native(fresh, "file (1).bin"));
}

TEST(Download, NamesFromThePageStayInTheFolder) {
  const std::string body = "payload";
  raw_server server([&](raw_connection& c) { serve(c, body, {}); });
  test_folder outer;
  const std::string folder = outer / "out";
  const struct {
    std::string name, saved;
  } cases[] = {
      {"../escaped.txt", "escaped.txt"},
      {"..\\..\\escaped2.txt", "escaped2.txt"},
      {"/etc/passwd", "passwd"},
      {"..", "abc"},  // from the share address
      {"NUL.txt", "_NUL.txt"},
      {"a\x1B]0;title\x07.txt", "a_]0;title_.txt"},
      {"CON." + std::string(246, 'a'), "_CON." + std::string(245, 'a')},
  };
  for (const auto& c : cases) {
    download_job job;
    job.url = server.url("/f");
    job.file_name = c.name;
    job.fallback_name = "http://127.0.0.1/share/abc";
    job.output_dir = folder;
    const download_result result = download_file(job, {});
    EXPECT_FALSE(result.error) << c.name;
    EXPECT_EQ(result.path, join_path(folder, c.saved)) << c.name;
    EXPECT_EQ(test_folder::read(folder + "/" + c.saved), body) << c.name;
  }
  std::size_t files = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(outer.path())) files += entry.is_regular_file();
  EXPECT_EQ(files, std::size(cases));
}

TEST(Download, MoreBytesThanAnnouncedAreNotTrusted) {
  const std::string body = random_bytes(20000, 7);
  // No length announced, and a body longer than the page states.
  raw_server unannounced([&](raw_connection& c) { serve(c, body + "trailing junk", {.announce = false}); });
  test_folder folder;
  download_result result = download_file(job_for(unannounced.url("/f"), folder, body), {});
  ASSERT_TRUE(result.error);
  EXPECT_EQ(*result.error, "the server sent more than the page states (20000 bytes)");
  EXPECT_EQ(result.path, native(folder, "file.bin.part"));
  EXPECT_EQ(test_folder::read(folder / "file.bin.part"), body);
  EXPECT_FALSE(test_folder::exists(folder / "file.bin"));

  // A length that differs from the page's: nothing is written.
  raw_server longer([&](raw_connection& c) { serve(c, body + "x", {}); });
  test_folder other;
  result = download_file(job_for(longer.url("/f"), other, body), {});
  ASSERT_TRUE(result.error);
  EXPECT_EQ(*result.error, "the server announces 20001 bytes but the page states 20000");
  EXPECT_FALSE(test_folder::exists(other / "file.bin.part"));
}

TEST(Download, ServerRefusals) {
  raw_server server([&](raw_connection& c) { c.send("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n"); });
  test_folder folder;
  const download_result result = download_file(job_for(server.url("/f"), folder, "x"), {});
  ASSERT_TRUE(result.error);
  EXPECT_EQ(*result.error, "the server answered 404 Not Found");
  EXPECT_EQ(server.connections(), 1);
  EXPECT_TRUE(std::filesystem::is_empty(folder.path()));  // no empty .part left behind
}

TEST(Download, CancelLeavesAResumablePartAndEndsAPauseAtOnce) {
  const std::string body = random_bytes(400000, 8);
  for (const bool in_pause : {false, true}) {
    SCOPED_TRACE(in_pause ? "during a retry pause" : "during a stalled transfer");
    raw_server server([&](raw_connection& c) { serve(c, body, {.cut_after = 150000, .stall = !in_pause}); });
    test_folder folder;
    std::atomic<bool> cancel{false};
    download_job job = job_for(server.url("/f"), folder, body);
    job.fetch.cancel = &cancel;
    job.fetch.stall_timeout_ms = 60000;
    job.retry.first_pause_ms = 60000;
    std::thread canceller([&] {
      std::this_thread::sleep_for(500ms);
      cancel = true;
    });
    const auto start = std::chrono::steady_clock::now();
    const download_result result = download_file(job, {});
    canceller.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
    ASSERT_TRUE(result.error);
    EXPECT_EQ(*result.error, "interrupted");
    EXPECT_EQ(result.path, native(folder, "file.bin.part"));
    EXPECT_EQ(test_folder::read(folder / "file.bin.part"), body.substr(0, 150000));
  }
}

// A name is taken once per run, for one file, as the system compares names.
TEST(NameClaims, ANameIsTakenForOneFile) {
  name_claims claims;
  EXPECT_FALSE(claims.held_by(join_path("d", "A.txt"), "http://h/1"));
  EXPECT_TRUE(claims.claim(join_path("d", "A.txt"), "http://h/1"));
  EXPECT_TRUE(claims.claim(join_path("d", "A.txt"), "http://h/1"));  // listed again
  EXPECT_TRUE(claims.held_by(join_path("d", "A.txt"), "http://h/1"));
  EXPECT_FALSE(claims.claim(join_path("d", "A.txt"), "http://h/2"));
  EXPECT_FALSE(claims.held_by(join_path("d", "A.txt"), "http://h/2"));
  EXPECT_TRUE(claims.claim(join_path("e", "A.txt"), "http://h/2"));
  // Windows' file names ignore case, so there "a.txt" is the name already taken.
  EXPECT_EQ(claims.claim(join_path("d", "a.txt"), "http://h/2"), path_separator == '/');
  EXPECT_EQ(claims.claim(join_path("d", "\xC3\xA9.txt"), "http://h/3"), true);
  EXPECT_EQ(claims.claim(join_path("d", "\xC3\x89.txt"), "http://h/4"), path_separator == '/');
  // A download's .part and side file are its own: a file named so is numbered, and a
  // name whose .part is another file's is not taken, nor anything with it.
  EXPECT_FALSE(claims.claim(join_path("d", "A.txt.part"), "http://h/5"));
  EXPECT_FALSE(claims.claim(join_path("d", "A.txt.part.meta"), "http://h/5"));
  EXPECT_TRUE(claims.claim(join_path("d", "B.txt.part"), "http://h/6"));
  EXPECT_FALSE(claims.claim(join_path("d", "B.txt"), "http://h/7"));
  EXPECT_FALSE(claims.held_by(join_path("d", "B.txt"), "http://h/7"));
}

}  // namespace
}  // namespace sharelink
