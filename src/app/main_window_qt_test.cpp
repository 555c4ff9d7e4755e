#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QElapsedTimer>
#include <QTextDocument>
#include <QTreeView>

#include <atomic>
#include <chrono>
#include <clocale>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/background.h"
#include "app/desktop.h"
#include "app/main_window_qt.h"
#include "codec/utf8.h"
#include "testing/loopback_server.h"
#include "testing/raw_server.h"

using namespace sharelink;
using namespace sharelink::app;

namespace {

QString q(std::string_view utf8) { return QString::fromUtf8(utf8.data(), utf8.size()); }

// A Kuaichuan share page with all four markers.
const char* const kuaichuan_page =
    "<html><body>\n"
    "<a class=\"file\" file_url=\"http://dl.kuai.example/f/a%20b.zip?t=1\" file_size=\"1048576\"\n"
    "   file_name=\"%E6%B5%8B%E8%AF%95.zip\">download</a>\n"
    "<input type=\"hidden\" id=\"first_file_size\" value='1048576'>\n"
    "<input type=\"hidden\" id=\"key\" value='k3y'>\n"
    "</body></html>\n";

// A Pan share page: the escaped data object the page script carries.
const char* const pan_page =
    "<script>var data = \"{\\\"size\\\":\\\"1536\\\",\\\"md5\\\":\\\"0123abcd\\\","
    "\\\"dlink\\\":\\\"http:\\\\/\\\\/d.pan.example\\\\/file\\\\/a.txt?fn=x\\\"}\"; var"
    " link = \"/x?filename=%E6%96%87%E6%A1%A3.txt\\\"\";</script>";

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

 public:
  // What the window handed to the services, in order. The resolvers run on the
  // window's worker threads; read `calls` once they are done.
  std::vector<std::string> calls;
  std::mutex calls_mutex;
  bool box_focused_at_copy = false;
  // While set, the resolvers wait (at most 10 s) before they fetch.
  std::atomic<bool> hold_resolvers{false};

  void record(std::string call) {
    std::lock_guard lock(calls_mutex);
    calls.push_back(std::move(call));
  }

  std::size_t calls_size() {
    std::lock_guard lock(calls_mutex);
    return calls.size();
  }

  void wait_while_held() {
    for (int i = 0; i < 1000 && hold_resolvers; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }

  action_services recording_services() {
    action_services s = platform_services();
    s.resolve_kuaichuan = [this, real = s.resolve_kuaichuan](std::string_view a) {
      record("kuaichuan " + std::string(a));
      wait_while_held();
      return real(a);
    };
    s.resolve_pan = [this, real = s.resolve_pan](std::string_view a) {
      record("pan " + std::string(a));
      wait_while_held();
      return real(a);
    };
    s.set_clipboard_text = [this](std::string_view t) {
      box_focused_at_copy = window->control(names::download_url)->hasFocus();
      record("clipboard " + std::string(t));
      return set_clipboard_text(t);
    };
    s.open_web_address = [this](std::string_view a) { record("open " + std::string(a)); };
    return s;
  }

 private:
  std::unique_ptr<qt_main_window> window;
  testing::loopback_server server;

  QWidget* control(std::string_view name) { return window->control(name); }
  QLineEdit* edit(std::string_view name) { return qobject_cast<QLineEdit*>(control(name)); }
  QRadioButton* radio(std::string_view name) { return qobject_cast<QRadioButton*>(control(name)); }
  QString focused() {
    QWidget* f = QApplication::focusWidget();
    return f ? f->objectName() : QString();
  }
  void key(Qt::Key k, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : window.get();
    QTest::keyClick(target, k, mods);
  }
  void choose(bool kuaichuan, bool pan) {
    window->set_checked(names::kuaichuan_choice, kuaichuan);
    window->set_checked(names::pan_choice, pan);
  }
  bool busy_cursor() {
    return QApplication::overrideCursor() && QApplication::overrideCursor()->shape() == Qt::WaitCursor;
  }
  // Presses the button and waits until the results are written.
  void press_resolve() {
    QTest::mouseClick(control(names::resolve_button), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!window->resolving(), 20000);
  }

 private slots:
  void initTestCase() {
    server.serve("/d/ABCDEFGHIJKL", kuaichuan_page);
    server.serve("/share/link", pan_page);
    server.serve("/empty", "<html><body>nothing here</body></html>");
    server.serve("/d/SEVERALFILES", testing::read_source_file("src/resolve/testdata/kuaichuan_several.html"));
    std::string many;
    for (int i = 0; i < 10000; ++i)
      many += "<a file_url=\"http://dl.kuai.example/" + std::to_string(i) + "\" file_size=\"" +
              std::to_string(1000 + i) + "\" file_name=\"f" + std::to_string(i) + ".bin\">x</a>\n";
    server.serve("/d/MANYFILES", many);
    server.start();
    QVERIFY(home_page_address().starts_with("file:///"));  // configured beside the programs
    window = create_main_window(recording_services());
    QVERIFY(window);
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
  }

  void cleanupTestCase() {
    window.reset();
    QCOMPARE(calls.back(), "open " + home_page_address());
  }

  void init() { calls.clear(); }

  void startsAsDescribed() {
    const window_record& w = main_window();
    QCOMPARE(window->windowTitle(), q(w.title));
    QCOMPARE(window->size(), QSize(w.client_width, w.client_height));
    QCOMPARE(window->minimumSize(), window->maximumSize());
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    QCOMPARE(window->pos(), QPoint((screen.width() - w.outer_width) / 2,
                                   (screen.height() - w.outer_height) / 2));
    const Qt::WindowFlags flags = window->windowFlags();
    QVERIFY(flags & Qt::WindowCloseButtonHint);
    QVERIFY(flags & Qt::WindowSystemMenuHint);
    QVERIFY(!(flags & Qt::WindowMinimizeButtonHint));
    QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
    QVERIFY(!(flags & Qt::WindowStaysOnTopHint));

    for (const control_record& c : main_controls()) {
      QWidget* widget = control(c.name);
      QVERIFY2(widget, c.name.data());
      QCOMPARE(widget->geometry(), QRect(c.left, c.top, c.width, c.height));
      QVERIFY(widget->isVisible() && widget->isEnabled());
      QCOMPARE(widget->focusPolicy() != Qt::NoFocus, c.tab_stop);
      if (auto* label = qobject_cast<QLabel*>(widget)) {
        QCOMPARE(label->text(), q(c.text));
        const int needed = label->fontMetrics().horizontalAdvance(label->text());
        QVERIFY2(needed <= c.width, qPrintable(label->text() + QString(" needs %1").arg(needed)));
      } else if (auto* box = qobject_cast<QLineEdit*>(widget)) {
        QCOMPARE(box->text(), q(c.text));
        QCOMPARE(box->cursorPosition(), 0);
        QVERIFY(!box->isReadOnly());
      } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        QCOMPARE(button->text(), q(c.text));
        QCOMPARE(button->isChecked(), c.checked);
      }
    }
    QCOMPARE(focused(), q(names::kuaichuan_address));
    QVERIFY(control(names::file_list)->isHidden());
  }

  void tabAndShiftTabFollowTheFocusOrderAndWrap() {
    control(focus_order().front())->setFocus();
    QStringList forward;
    for (size_t i = 0; i < focus_order().size(); ++i) {
      key(Qt::Key_Tab);
      forward << focused();
    }
    QStringList expected;
    for (size_t i = 1; i <= focus_order().size(); ++i)
      expected << q(focus_order()[i % focus_order().size()]);
    QCOMPARE(forward, expected);  // both radio buttons included, last wraps to first

    QStringList backward;
    for (size_t i = 0; i < focus_order().size(); ++i) {
      key(Qt::Key_Tab, Qt::ShiftModifier);
      backward << focused();
    }
    expected.clear();
    for (size_t i = focus_order().size(); i-- > 0;) expected << q(focus_order()[i]);
    QCOMPARE(backward, expected);  // from the first back to the last
    key(Qt::Key_Backtab);
    QCOMPARE(focused(), q(focus_order().back()));
  }

  void radioButtonsAreExclusiveForTheUserOnly() {
    QTest::mouseClick(radio(names::pan_choice), Qt::LeftButton);
    QVERIFY(radio(names::pan_choice)->isChecked());
    QVERIFY(!radio(names::kuaichuan_choice)->isChecked());
    QTest::mouseClick(radio(names::kuaichuan_choice), Qt::LeftButton);
    QVERIFY(radio(names::kuaichuan_choice)->isChecked());
    QVERIFY(!radio(names::pan_choice)->isChecked());

    // Setting one from the program changes only that one.
    window->set_checked(names::pan_choice, true);
    QVERIFY(window->checked(names::kuaichuan_choice) && window->checked(names::pan_choice));
    window->set_checked(names::pan_choice, false);
    QVERIFY(window->checked(names::kuaichuan_choice) && !window->checked(names::pan_choice));
  }

  void arrowKeysMoveAlongTheRadioButtonsAndCheckThem() {
    control(names::kuaichuan_choice)->setFocus();
    const struct {
      Qt::Key key;
      std::string_view reached;
    } steps[] = {{Qt::Key_Right, names::pan_choice},       {Qt::Key_Right, names::kuaichuan_choice},
                 {Qt::Key_Left, names::pan_choice},        {Qt::Key_Up, names::kuaichuan_choice},
                 {Qt::Key_Down, names::pan_choice},        {Qt::Key_Down, names::kuaichuan_choice}};
    for (const auto& step : steps) {
      key(step.key);
      QCOMPARE(focused(), q(step.reached));
      QVERIFY(radio(step.reached)->isChecked());
      const auto other =
          step.reached == names::pan_choice ? names::kuaichuan_choice : names::pan_choice;
      QVERIFY(!radio(other)->isChecked());
    }
  }

  void enterPressesNoButton() {
    control(names::resolve_button)->setFocus();
    key(Qt::Key_Return);
    key(Qt::Key_Enter);
    control(names::pan_choice)->setFocus();
    key(Qt::Key_Return);
    QVERIFY(calls.empty());
    QVERIFY(window->isVisible());
    QVERIFY(radio(names::kuaichuan_choice)->isChecked());
    QVERIFY(!radio(names::pan_choice)->isChecked());
  }

  void pressOnTheAddressBoxCopiesBeforeTheBoxTakesThePress() {
    QLineEdit* box = edit(names::download_url);
    QGuiApplication::clipboard()->setText("before");

    control(names::resolve_button)->setFocus();
    window->set_text(names::download_url, "");
    QTest::mousePress(box, Qt::LeftButton, Qt::ControlModifier, QPoint(5, 12));
    QTest::mouseRelease(box, Qt::LeftButton, Qt::ControlModifier, QPoint(5, 12));
    QVERIFY(calls.empty());
    QCOMPARE(QGuiApplication::clipboard()->text(), QString("before"));
    QCOMPARE(focused(), q(names::download_url));  // the press still reached the box

    control(names::resolve_button)->setFocus();
    window->set_text(names::download_url, "http://d.example/a.zip");
    QCOMPARE(box->cursorPosition(), 0);
    QTest::mousePress(box, Qt::LeftButton, Qt::NoModifier, QPoint(box->width() - 5, 12));
    QTest::mouseRelease(box, Qt::LeftButton, Qt::NoModifier, QPoint(box->width() - 5, 12));
    QCOMPARE(calls, std::vector<std::string>{"clipboard http://d.example/a.zip"});
    QVERIFY(!box_focused_at_copy);
    QCOMPARE(QGuiApplication::clipboard()->text(), QString("http://d.example/a.zip"));
    QCOMPARE(focused(), q(names::download_url));
    QCOMPARE(box->cursorPosition(), box->text().size());  // caret placed by the press
  }

  void clipboardTakesLocalTextAsUnicode() {
    QVERIFY(set_clipboard_text("测试 a😀"));
    QCOMPARE(QGuiApplication::clipboard()->text(), QString::fromUtf8("测试 a😀"));
    QVERIFY(set_clipboard_text(""));
    QCOMPARE(QGuiApplication::clipboard()->text(), QString());
  }

  void boxesConvertBetweenLocalTextAndUnicode() {
    window->set_text(names::file_name, "测试😀한글é.zip");
    QCOMPARE(edit(names::file_name)->text(), QString::fromUtf8("测试😀한글é.zip"));
    edit(names::file_name)->setText(QString::fromUtf8("文档😀.txt"));
    QCOMPARE(window->text(names::file_name), std::string("文档😀.txt"));

    // A 1 MiB address is kept whole, shown from its start, and copied whole.
    std::string long_address = "http://d.example/";
    while (long_address.size() < (1u << 20)) long_address += "测/a%20b&c=";
    window->set_text(names::download_url, long_address);
    QCOMPARE(window->text(names::download_url), long_address);
    QCOMPARE(edit(names::download_url)->cursorPosition(), 0);
    QVERIFY(set_clipboard_text(window->text(names::download_url)));
    QCOMPARE(QGuiApplication::clipboard()->text(), QString::fromStdString(long_address));
  }

  void resolvesBothServicesThroughTheWindow() {
    const std::string kuaichuan_address = server.url("/d/ABCDEFGHIJKL");
    const std::string pan_address = server.url("/share/link?shareid=1&uk=2");
    window->set_text(names::kuaichuan_address, kuaichuan_address);
    window->set_text(names::pan_address, pan_address);
    edit(names::file_md5)->setText("typed by the user");
    choose(true, false);

    // While the page loads the window waits under the wait cursor, and the boxes
    // change only once the results are in.
    hold_resolvers = true;
    QTest::mouseClick(control(names::resolve_button), Qt::LeftButton);
    QVERIFY(window->resolving());
    QVERIFY(busy_cursor());
    QTest::qWait(50);
    QCOMPARE(edit(names::file_md5)->text(), QString("typed by the user"));
    hold_resolvers = false;
    QTRY_VERIFY_WITH_TIMEOUT(!window->resolving(), 20000);
    QVERIFY(!QApplication::overrideCursor());
    QCOMPARE(control(names::download_url)->focusPolicy(), Qt::TabFocus);  // as before the press
    QCOMPARE(calls, std::vector<std::string>{"kuaichuan " + kuaichuan_address});
    QCOMPARE(edit(names::download_url)->text(), QString("http://dl.kuai.example/f/a%20b.zip?t=1"));
    QCOMPARE(edit(names::file_name)->text(), QString::fromUtf8("测试.zip"));
    QVERIFY(edit(names::file_type)->text().endsWith("(zip)"));
    QCOMPARE(edit(names::file_size)->text(), QString("1MB"));
    QCOMPARE(edit(names::file_md5)->text(), QString("k3y"));
    for (auto name : {names::download_url, names::file_name, names::file_md5})
      QCOMPARE(edit(name)->cursorPosition(), 0);

    // A second press on a page without markers leaves nothing of the first standing.
    window->set_text(names::kuaichuan_address, server.url("/empty"));
    press_resolve();
    for (auto name : {names::download_url, names::file_name, names::file_type, names::file_md5})
      QCOMPARE(edit(name)->text(), QString());
    QCOMPARE(edit(names::file_size)->text(), QString("0B"));

    // The other service reads its own box; the first box keeps its text.
    calls.clear();
    QTest::mouseClick(radio(names::pan_choice), Qt::LeftButton);
    press_resolve();
    QCOMPARE(calls, std::vector<std::string>{"pan " + pan_address});
    QCOMPARE(edit(names::download_url)->text(), QString("http://d.pan.example/file/a.txt?fn=x"));
    QCOMPARE(edit(names::file_name)->text(), QString::fromUtf8("文档.txt"));
    QVERIFY(edit(names::file_type)->text().endsWith("(txt)"));
    QCOMPARE(edit(names::file_size)->text(), QString("1.5KB"));
    QCOMPARE(edit(names::file_md5)->text(), QString("0123abcd"));
    QCOMPARE(window->text(names::kuaichuan_address), server.url("/empty"));
    choose(true, false);
  }

  // A page of several files lists them below the boxes in a taller window; a key or
  // a click chooses one, and the address box copies its address. A page of one
  // file gives the window back as it was.
  void aPageOfSeveralFilesIsListedBelowTheBoxes() {
    auto* list = qobject_cast<QTreeView*>(control(names::file_list));
    QVERIFY(list);
    const window_record& w = main_window();
    const control_record& where = file_list();
    const auto cell = [&](int row, int column) { return list->model()->index(row, column).data().toString(); };
    choose(true, false);
    window->set_text(names::kuaichuan_address, server.url("/d/SEVERALFILES"));
    press_resolve();
    QVERIFY(list->isVisible());
    QCOMPARE(window->size(), QSize(w.client_width, w.listing_client_height));
    QCOMPARE(window->minimumSize(), window->maximumSize());
    QCOMPARE(list->geometry(), QRect(where.left, where.top, where.width, where.height));
    QCOMPARE(list->model()->rowCount(), 2);
    QCOMPARE(QStringList({cell(0, 0), cell(0, 1), cell(1, 0), cell(1, 1)}),
             QStringList({"first.iso", "700MB", QString::fromUtf8("第二首歌.mp3"), "5MB"}));
    QCOMPARE(list->currentIndex().row(), 1);  // the file the boxes show
    QCOMPARE(edit(names::file_name)->text(), QString::fromUtf8("第二首歌.mp3"));

    // Tab from the button reaches the list; Up chooses the first file.
    control(names::resolve_button)->setFocus();
    key(Qt::Key_Tab);
    QCOMPARE(focused(), q(names::file_list));
    key(Qt::Key_Up);
    QCOMPARE(edit(names::file_name)->text(), QString("first.iso"));
    QVERIFY(edit(names::file_type)->text().endsWith("(iso)"));
    QCOMPARE(edit(names::file_size)->text(), QString("700MB"));
    QCOMPARE(edit(names::download_url)->text(), QString("http://dl.kc.example/d/XyZ789/first.iso"));
    QCOMPARE(edit(names::download_url)->cursorPosition(), 0);
    key(Qt::Key_Tab);
    QCOMPARE(focused(), q(names::download_url));

    // A click on the second row chooses it; the address box copies its address.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(list->model()->index(1, 0)).center());
    QCOMPARE(edit(names::file_name)->text(), QString::fromUtf8("第二首歌.mp3"));
    calls.clear();
    QTest::mouseClick(edit(names::download_url), Qt::LeftButton);
    QCOMPARE(calls, std::vector<std::string>{"clipboard http://dl.kc.example/d/XyZ789/%E7%AC%AC%E4%BA%8C.mp3?n=2"});

    // Ten thousand files: the list fills at once and the keys go through it.
    window->set_text(names::kuaichuan_address, server.url("/d/MANYFILES"));
    QElapsedTimer pressed;
    pressed.start();
    press_resolve();
    const qint64 whole = pressed.elapsed();
    QCOMPARE(list->model()->rowCount(), 10000);
    QCOMPARE(list->currentIndex().row(), 9999);
    list->setFocus();
    key(Qt::Key_Home);
    QCOMPARE(edit(names::file_name)->text(), QString("f0.bin"));
    QCOMPARE(edit(names::file_size)->text(), QString("1000B"));
    std::vector<resolved_file> files(10000, resolved_file{"u", "name", "type", "1KB", "md5"});
    QElapsedTimer shown;
    shown.start();
    window->show_files(files, 0);
    QCoreApplication::processEvents();
    const qint64 show_ms = shown.elapsed();
    qInfo("10000 files: resolved and listed in %lld ms, listed again in %lld ms", whole, show_ms);
    QVERIFY2(show_ms < 500, qPrintable(QString::number(show_ms)));

    window->set_text(names::kuaichuan_address, server.url("/d/ABCDEFGHIJKL"));
    press_resolve();
    QVERIFY(list->isHidden());
    QCOMPARE(window->size(), QSize(w.client_width, w.client_height));
    QCOMPARE(window->minimumSize(), window->maximumSize());
    QCOMPARE(edit(names::file_name)->text(), QString::fromUtf8("测试.zip"));
  }

  // Run by CTest a second time under LC_ALL=de_DE.UTF-8.
  void resolvedNumbersIgnoreTheLocale() {
    if (std::string(std::localeconv()->decimal_point) != ",")
      QSKIP("needs a locale with a decimal comma (run under LC_ALL=de_DE.UTF-8)");
    window->set_text(names::pan_address, server.url("/share/link?shareid=1&uk=2"));
    choose(false, true);
    press_resolve();
    choose(true, false);
    QCOMPARE(edit(names::file_size)->text(), QString("1.5KB"));
  }

  void focusReturnsWhenTheWindowIsActivatedAgain() {
    control(names::file_md5)->setFocus();
    QWidget other;
    other.setGeometry(0, 0, 100, 100);
    other.show();
    other.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&other));
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
    QCOMPARE(focused(), q(names::file_md5));
  }

  void anAddressWithALoneSurrogateIsNotSent() {
    for (const char* utf8 : {"http://a.example/测试 a?b=文档", "http://a.example/😀",
                             "http://a.example/d/X#\xe0\xb8\x81"}) {
      edit(names::pan_address)->setText(QString::fromUtf8(utf8));
      QVERIFY2(window->text_is_local(names::pan_address), utf8);
    }

    // Sent, this address would reach the sample page: the fragment is never sent.
    edit(names::kuaichuan_address)->setText(q(server.url("/d/ABCDEFGHIJKL") + "#") + QChar(0xD83D));
    window->set_text(names::file_md5, "earlier");
    choose(true, false);
    press_resolve();
    QCOMPARE(calls, std::vector<std::string>{"kuaichuan "});
    for (auto name : {names::download_url, names::file_name, names::file_type, names::file_md5})
      QCOMPARE(edit(name)->text(), QString());
    QCOMPARE(edit(names::file_size)->text(), QString("0B"));
  }

  void boxesShowTheirWholeTextAsATooltipAndSelectAllWithCtrlA() {
    auto plain = [](const QString& tooltip) {
      QTextDocument doc;
      doc.setHtml(tooltip);
      return doc.toPlainText().remove(QChar(0x200B));
    };
    QLineEdit* box = edit(names::file_name);
    const QString text = QString::fromUtf8("<b>a&amp;b</b>  测试 ") + QString(300, 'x');
    box->setText(text);
    QCOMPARE(plain(box->toolTip()), text);  // markup in the text stays text
    box->setFocus();
    box->setCursorPosition(0);
    QTest::keyClicks(box, "typed");
    QCOMPARE(plain(box->toolTip()), "typed" + text);
    window->set_text(names::file_name, "");
    QCOMPARE(box->toolTip(), QString());

    for (std::string_view name : {names::kuaichuan_address, names::download_url}) {
      QLineEdit* b = edit(name);
      b->setText("http://a.example/x");
      b->setFocus();
      b->setCursorPosition(3);
      QTest::keyClick(b, Qt::Key_A, Qt::ControlModifier);
      QCOMPARE(b->selectedText(), b->text());
    }
  }

  void screenReadersAnnounceEachBoxByItsLabel() {
    for (const box_label& pair : box_labels()) {
      QAccessibleInterface* box = QAccessible::queryAccessibleInterface(control(pair.box));
      QVERIFY(box);
      QCOMPARE(box->text(QAccessible::Name), q(find_control(pair.label)->text));
    }
  }

  void escapeClosesAndDestroyingOpensTheHomePage() {
    auto second = create_main_window(recording_services());
    QVERIFY(second);
    QVERIFY(QTest::qWaitForWindowActive(second.get()));
    QCOMPARE(QApplication::focusWidget(), second->control(names::kuaichuan_address));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    QVERIFY(!second->isVisible());
    QVERIFY(calls.empty());
    second.reset();
    QCOMPARE(calls, std::vector<std::string>{"open " + home_page_address()});
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
  }

  void whileAPageLoadsTheControlsWaitAndEscapeAbandonsIt() {
    auto second = create_main_window(recording_services());
    QVERIFY(second);
    QVERIFY(QTest::qWaitForWindowActive(second.get()));
    auto* address = qobject_cast<QLineEdit*>(second->control(names::kuaichuan_address));
    address->setText(q(server.url("/d/ABCDEFGHIJKL")));
    hold_resolvers = true;
    QTest::mouseClick(second->control(names::resolve_button), Qt::LeftButton);
    QVERIFY(second->resolving());

    // Nothing reaches the controls: no typing, no second press, no change of choice.
    address->setFocus();
    QTest::keyClicks(address, "typed");
    QTest::keyClick(address, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(address, Qt::Key_Delete);
    QCOMPARE(address->text(), q(server.url("/d/ABCDEFGHIJKL")));
    QTest::mouseClick(second->control(names::resolve_button), Qt::LeftButton);
    QTest::mouseClick(second->control(names::pan_choice), Qt::LeftButton);
    QTest::mouseClick(second->control(names::file_md5), Qt::LeftButton);
    QVERIFY(!second->checked(names::pan_choice));
    QCOMPARE(QApplication::focusWidget(), address);  // no click took the focus either
    QTRY_VERIFY(calls_size() == 1);  // the worker has begun

    // Escape closes at once; the home page opens; the fetch is told to stop.
    QTest::keyClick(address, Qt::Key_Escape);
    QVERIFY(!second->isVisible());
    second.reset();
    QVERIFY(!QApplication::overrideCursor());
    hold_resolvers = false;
    QTRY_VERIFY_WITH_TIMEOUT(!detached_work_running(), 20000);
    QCOMPARE(calls, (std::vector<std::string>{"kuaichuan " + server.url("/d/ABCDEFGHIJKL"),
                                              "open " + home_page_address()}));
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
  }

  // The window's own services this time: closing it stops the real fetch, which
  // would otherwise wait 20 s for a server that never answers.
  void closingWhileAPageLoadsStopsTheRealFetch() {
    testing::raw_server silent([](testing::raw_connection& connection) { connection.hold(); });
    action_services services = platform_services();
    services.open_web_address = [this](std::string_view a) { record("open " + std::string(a)); };
    auto second = create_main_window(services);
    QVERIFY(second);
    QVERIFY(QTest::qWaitForWindowActive(second.get()));
    qobject_cast<QLineEdit*>(second->control(names::kuaichuan_address))->setText(q(silent.url("/d/ABCDEFGHIJKL")));
    QTest::mouseClick(second->control(names::resolve_button), Qt::LeftButton);
    QTRY_VERIFY(silent.connections() == 1);
    QVERIFY(detached_work_running());

    QTest::keyClick(second->control(names::kuaichuan_address), Qt::Key_Escape);
    second.reset();
    QTRY_VERIFY_WITH_TIMEOUT(!detached_work_running(), 5000);
    QCOMPARE(calls, std::vector<std::string>{"open " + home_page_address()});
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
  }

  void aDescriptionThatDoesNotAddUpIsNotAWindow() {
    auto controls = main_controls().subspan(1);  // without the Kuaichuan choice
    {
      qt_main_window broken(recording_services(), controls, focus_order());
      QVERIFY(!broken.complete());
    }
    QVERIFY(calls.empty());  // no window, so no home page either
  }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_qt_test.moc"
