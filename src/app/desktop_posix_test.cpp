#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "app/desktop.h"

namespace sharelink {
namespace {

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

bool exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

// Children of this process that have not been reaped yet, zombies included.
std::string unreaped_children() {
  std::string all;
  DIR* tasks = opendir("/proc/self/task");
  if (!tasks) return all;
  while (dirent* t = readdir(tasks)) {
    if (t->d_name[0] == '.') continue;
    all += read_file(std::string("/proc/self/task/") + t->d_name + "/children");
  }
  closedir(tasks);
  return all;
}

template <class F>
bool wait_until(F done) {
  for (int i = 0; i < 1000; ++i) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

// Puts a stub xdg-open first on PATH. The stub writes each argument on its own line
// and then waits until the test creates the release file.
class OpenWebAddress : public ::testing::Test {
 protected:
  std::string dir;
  std::string saved_path;

  void SetUp() override {
    char tmpl[] = "/tmp/sharelink-open-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
    std::ofstream stub(dir + "/xdg-open");
    stub << "#!/bin/sh\n"
            "for a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"" << dir << "/args.tmp\"\n"
            "mv \"" << dir << "/args.tmp\" \"" << dir << "/args\"\n"
            "while [ ! -e \"" << dir << "/release\" ]; do sleep 0.02; done\n";
    stub.close();
    chmod((dir + "/xdg-open").c_str(), 0755);
    saved_path = std::getenv("PATH") ? std::getenv("PATH") : "";
    setenv("PATH", (dir + ":" + saved_path).c_str(), 1);
  }
  void TearDown() override {
    setenv("PATH", saved_path.c_str(), 1);
    std::ofstream(dir + "/release").put('\n');
    wait_until([] { return unreaped_children().empty(); });
    std::system(("rm -rf '" + dir + "'").c_str());
  }
};

TEST_F(OpenWebAddress, HandsTheAddressOverUnchangedWithoutWaitingAndReapsTheHandler) {
  const std::string address =
      "https://example.org/a b?q=\"x\"&r='y';$(touch /tmp/no)`id`|%20\xb2\xe2\xca\xd4";
  open_web_address(address);
  // The stub cannot end before the release file exists, so getting here proves the
  // call did not wait for it.
  ASSERT_TRUE(wait_until([&] { return exists(dir + "/args"); }));
  EXPECT_EQ(read_file(dir + "/args"), address + "\n");
  EXPECT_FALSE(unreaped_children().empty());

  std::ofstream(dir + "/release").put('\n');
  EXPECT_TRUE(wait_until([] { return unreaped_children().empty(); }))
      << "left behind: " << unreaped_children();
}

TEST_F(OpenWebAddress, MissingHandlerIsNotReported) {
  setenv("PATH", "/nonexistent", 1);
  open_web_address("https://example.org/");
  EXPECT_TRUE(wait_until([] { return unreaped_children().empty(); }));
}

}  // namespace
}  // namespace sharelink
