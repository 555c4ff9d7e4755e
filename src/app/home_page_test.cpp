#include "app/home_page.h"

#include <gtest/gtest.h>

#include <string>

#include "app/desktop.h"

namespace sharelink::app {
namespace {

TEST(HomePage, FileAddressesAreEncodedPrintableAscii) {
  const struct {
    const char* path;
    bool windows;
    const char* address;
    bool keep_non_ascii = false;
  } cases[] = {
      {"/usr/share/sharelink/home.html", false, "file:///usr/share/sharelink/home.html"},
      {"/tmp/a b/100%/#1?x=y&z/home.html", false, "file:///tmp/a%20b/100%25/%231%3Fx%3Dy%26z/home.html"},
      {"/opt/测试/a\\b:c~d_e-f.g", false, "file:///opt/%E6%B5%8B%E8%AF%95/a%5Cb%3Ac~d_e-f.g"},
      {"/x/\xb2\xe2\x01\x7f", false, "file:///x/%B2%E2%01%7F"},  // a file name's bytes as they are
      {"C:\\Program Files\\sharelink\\home.html", true,
       "file:///C:/Program%20Files/sharelink/home.html"},
      {"d:\\程序\\home.html", true, "file:///d:/%E7%A8%8B%E5%BA%8F/home.html"},
      {"\\\\server\\share\\a#b\\home.html", true, "file://server/share/a%23b/home.html"},
      {"d:\\我的 程序#1\\home.html", true, "file:///d:/我的%20程序%231/home.html", true},
  };
  for (const auto& c : cases)
    EXPECT_EQ(file_address(c.path, c.windows, c.keep_non_ascii), c.address) << c.path;
}

TEST(HomePage, FoundBesideTheProgramThenInTheInstalledDataFolder) {
  EXPECT_EQ(home_page_candidates("/usr/bin", '/'),
            (std::vector<std::string>{"/usr/bin/home.html", "/usr/share/sharelink/home.html"}));
  EXPECT_EQ(home_page_candidates("C:\\Apps\\sharelink", '\\'),
            (std::vector<std::string>{"C:\\Apps\\sharelink\\home.html",
                                      "C:\\Apps\\share\\sharelink\\home.html"}));
  EXPECT_EQ(home_page_candidates("/bin", '/'), std::vector<std::string>{"/bin/home.html"});
}

TEST(HomePage, TheBuildTreeHasItBesideThePrograms) {
  // The tests live beside the window program, where the build puts the page.
  const std::string address = home_page_address();
  EXPECT_EQ(address.rfind("file:///", 0), 0u) << address;
  EXPECT_EQ(address.substr(address.size() - 10), "/home.html") << address;
}

}  // namespace
}  // namespace sharelink::app
