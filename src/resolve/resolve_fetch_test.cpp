// The resolvers end to end, against share pages served on 127.0.0.1.
#include <string>

#include <gtest/gtest.h>

#include "resolve/named_services.h"
#include "testing/built_in_reading.h"
#include "testing/loopback_server.h"

namespace sharelink {
namespace {

using testing::read_built_in;

using testing::loopback_server;
using testing::read_source_file;

TEST(ResolveOverHttp, FetchedSharePagesResolveLikeTheirText) {
  const std::string kuaichuan_page = read_source_file("src/resolve/testdata/kuaichuan_share.html");
  const std::string pan_page = read_source_file("src/resolve/testdata/pan_share.html");
  ASSERT_FALSE(kuaichuan_page.empty());
  ASSERT_FALSE(pan_page.empty());
  loopback_server server;
  server.serve("/d/AbC123", kuaichuan_page);
  server.serve("/share/link", pan_page);
  server.start();

  const resolved_file kuaichuan = resolve_kuaichuan(server.url("/d/AbC123"));
  EXPECT_EQ(kuaichuan, shown_fields(read_built_in("kuaichuan", kuaichuan_page).fields));
  EXPECT_EQ(kuaichuan.md5, "8f14e45fceea167a5a36dedd4b4c7d2b");
  // The window's address box takes share text as the command does.
  EXPECT_EQ(resolve_kuaichuan("链接：" + server.url("/d/AbC123") + "，复制这段内容后打开"), kuaichuan);

  const resolved_file pan = resolve_pan(server.url("/share/link?shareid=1830455312&uk=2887162301"));
  EXPECT_EQ(pan, shown_fields(read_built_in("pan", pan_page).fields));
  EXPECT_EQ(pan.size, "1.5KB");
}

// Read as GB18030, as a page that declares nothing would be, the name would be kana.
TEST(ResolveOverHttp, ThePagesHeaderSaysItsCharset) {
  loopback_server server;
  server.http().Get("/d/big5", [](const httplib::Request&, httplib::Response& res) {
    res.set_content("<a file_url=\"http://h.example/x\" file_size=\"1\" file_name=\"\xA4\xA4\xA4\xE5.zip\">x</a>",
                    "text/html; charset=big5");
  });
  server.start();
  EXPECT_EQ(resolve_kuaichuan(server.url("/d/big5")).file_name, "中文.zip");
}

TEST(ResolveOverHttp, ErrorPagesAreSearchedAndFailedFetchesGiveEmptyFields) {
  loopback_server server;
  server.http().Get("/gone", [](const httplib::Request&, httplib::Response& res) {
    res.status = 404;
    res.set_content("<p>expired</p><input id=\"key\" value='still-here'>", "text/html");
  });
  server.start();
  EXPECT_EQ(resolve_kuaichuan(server.url("/gone")), (resolved_file{"", "", "", "0B", "still-here"}));
  const std::string closed = server.url("/gone");
  server.stop();
  EXPECT_EQ(resolve_pan(closed), (resolved_file{"", "", "", "0B", ""}));
}

}  // namespace
}  // namespace sharelink
