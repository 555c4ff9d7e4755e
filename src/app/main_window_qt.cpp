#include "app/main_window_qt.h"

#include <QApplication>
#include <QDir>
#include <QGuiApplication>
#include <QAbstractTableModel>
#include <QFontMetrics>
#include <QHeaderView>
#include <QIcon>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTreeView>
#include <QWindow>

#include <algorithm>
#include <limits>
#include <utility>

#include "codec/utf8.h"

namespace sharelink::app {
namespace {

QString from_utf8(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString object_name(std::string_view name) { return from_utf8(name); }

QString from_local(std::string_view local) {
  const std::string_view text = as_local(local);
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// Shows a wait cursor for as long as it lives.
class busy_cursor {
 public:
  busy_cursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~busy_cursor() { QApplication::restoreOverrideCursor(); }
  busy_cursor(const busy_cursor&) = delete;
  busy_cursor& operator=(const busy_cursor&) = delete;
};

// Events by which the user changes something in a control.
bool is_input(QEvent::Type type) {
  switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::InputMethod:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
      return true;
    default:
      return false;
  }
}

// A box's tooltip: its whole text (up to tooltip_characters), shown as text whatever
// it holds ("<b>" in a file name is not markup), and able to wrap, which a long
// address without spaces could not do without the zero-width spaces put in every
// few characters.
QString tooltip_for(const QString& text) {
  if (text.isEmpty()) return {};
  constexpr qsizetype shown = tooltip_characters, piece = 40;
  QString wrapped;
  wrapped.reserve(std::min(text.size(), shown) * 41 / 40 + 1);
  qsizetype since_break = 0;
  for (qsizetype i = 0; i < text.size() && i < shown; ++i) {
    if (since_break >= piece && !text[i].isLowSurrogate()) {
      wrapped += QChar(0x200B);
      since_break = 0;
    }
    wrapped += text[i];
    ++since_break;
  }
  if (text.size() > shown) wrapped += QChar(0x2026);
  return QStringLiteral("<p style=\"white-space:pre-wrap\">") + wrapped.toHtmlEscaped() +
         QStringLiteral("</p>");
}

// Ctrl 1, Shift 2, Alt 4, added.
int key_state(Qt::KeyboardModifiers modifiers) {
  return (modifiers & Qt::ControlModifier ? 1 : 0) | (modifiers & Qt::ShiftModifier ? 2 : 0) |
         (modifiers & Qt::AltModifier ? 4 : 0);
}

// The layout was drawn for a 12-pixel font; the platform's default family at that
// size keeps every label inside its box whatever size the desktop theme prefers.
constexpr int font_pixels = 12;

// Shrinks the label's font a pixel at a time until its text fits `width`: Latin
// letters of the desktop's font can be wider than the CJK font's half-width ones.
void fit_font(QLabel* label, int width) {
  QFont font = label->font();
  while (font.pixelSize() > 9 && QFontMetrics(font).horizontalAdvance(label->text()) > width) {
    font.setPixelSize(font.pixelSize() - 1);
    label->setFont(font);
  }
}

// Changes only this button; the user's clicks keep the pair exclusive.
void set_radio(QRadioButton* radio, bool on) {
  radio->setAutoExclusive(false);
  radio->setChecked(on);
  radio->setAutoExclusive(true);
}

}  // namespace

// The files of the list, as the list view asks for them: only the rows in sight
// are ever turned into text, so ten thousand files show at once.
class file_list_model final : public QAbstractTableModel {
 public:
  using QAbstractTableModel::QAbstractTableModel;

  void reset(std::vector<resolved_file> files) {
    beginResetModel();
    files_ = std::move(files);
    endResetModel();
  }

  const resolved_file& file(int row) const { return files_[static_cast<std::size_t>(row)]; }

  int rowCount(const QModelIndex& parent) const override {
    return parent.isValid() ? 0 : static_cast<int>(files_.size());
  }
  int columnCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : 2; }

  QVariant data(const QModelIndex& index, int role) const override {
    if (!index.isValid() || index.row() >= rowCount({})) return {};
    const resolved_file& f = file(index.row());
    switch (role) {
      case Qt::DisplayRole:
        return from_local(index.column() == 0 ? f.file_name : f.size);
      case Qt::ToolTipRole:  // a name cut short in its column shows whole here
        return index.column() == 0 ? tooltip_for(from_local(f.file_name)) : QVariant();
      case Qt::TextAlignmentRole:
        return QVariant::fromValue(Qt::AlignVCenter |
                                   (index.column() == 0 ? Qt::AlignLeft : Qt::AlignRight));
      default:
        return {};
    }
  }

  QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
    if (orientation != Qt::Horizontal) return {};
    if (role == Qt::TextAlignmentRole)  // each heading above its column's texts
      return QVariant::fromValue(Qt::AlignVCenter | (section == 0 ? Qt::AlignLeft : Qt::AlignRight));
    if (role != Qt::DisplayRole) return {};
    return from_utf8(section == 0 ? file_list_name_heading : file_list_size_heading);
  }

 private:
  std::vector<resolved_file> files_;
};

qt_main_window::qt_main_window(action_services services, std::span<const control_record> controls,
                               std::span<const std::string_view> order)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      services_(std::move(services)) {
  const window_record& record = main_window();
  setWindowTitle(from_utf8(record.title));
  setFixedSize(record.client_width, record.client_height);
  // Centred on the primary screen, which overrides the stored position. The point
  // is the frame's corner only while the native window does not exist yet: moved
  // later, the inside would go there and the title bar above it.
  QPoint corner(record.left, record.top);
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->geometry();
    corner = QPoint(area.x() + (area.width() - record.outer_width) / 2,
                    area.y() + (area.height() - record.outer_height) / 2);
  }
  move(corner);

  QFont font = QApplication::font();
  font.setPixelSize(font_pixels);
  setFont(font);
  // The face colour of buttons, behind everything that is not an edit box.
  setBackgroundRole(QPalette::Button);
  setAutoFillBackground(true);

  bool all_made = true;
  for (const control_record& c : controls) all_made = make_control(c) && all_made;
  all_made = make_control(file_list()) && all_made;

  for (std::string_view name : order) {
    QWidget* w = control(name);
    if (!w) {
      all_made = false;
      continue;
    }
    if (!focus_chain_.empty()) setTabOrder(focus_chain_.back(), w);
    focus_chain_.push_back(w);
    if (auto* radio = qobject_cast<QRadioButton*>(w)) radio_chain_.push_back(radio);
  }
  // Each box is announced by the text of its label.
  for (const box_label& pair : box_labels()) {
    QWidget* box = control(pair.box);
    QWidget* label = control(pair.label);
    if (!box || !label) continue;
    if (auto* l = qobject_cast<QLabel*>(label)) {
      l->setBuddy(box);
      box->setAccessibleName(l->text());
    } else if (auto* b = qobject_cast<QAbstractButton*>(label)) {
      box->setAccessibleName(b->text());
    }
  }
  winId();  // creates the native window now, so a failure shows here
  complete_ = all_made && focus_chain_.size() == order.size() && windowHandle() &&
              windowHandle()->handle();
}

qt_main_window::~qt_main_window() {
  if (job_) {
    job_->abandon();
    if (services_.stop_fetches) *services_.stop_fetches = true;
    job_.reset();
    QApplication::restoreOverrideCursor();
  }
  // A window that never came into being has no being-destroyed event.
  if (complete_ && services_.open_web_address) home_page_action(services_);
}

QWidget* qt_main_window::make_control(const control_record& c) {
  QWidget* w = nullptr;
  const QString text = from_utf8(c.text);
  QPalette black_on_face = palette();
  black_on_face.setColor(QPalette::WindowText, Qt::black);
  black_on_face.setColor(QPalette::ButtonText, Qt::black);

  switch (c.kind) {
    case control_kind::radio_button: {
      auto* radio = new QRadioButton(text, this);
      set_radio(radio, c.checked);
      radio->setPalette(black_on_face);
      w = radio;
      break;
    }
    case control_kind::edit_box: {
      auto* edit = new QLineEdit(this);
      edit->setMaxLength(std::numeric_limits<int>::max());
      QPalette p = edit->palette();
      for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        p.setColor(group, QPalette::Base, Qt::white);
        p.setColor(group, QPalette::Text, Qt::black);
      }
      // No visible selection while the box is not the focus of the active window.
      p.setColor(QPalette::Inactive, QPalette::Highlight, Qt::white);
      p.setColor(QPalette::Inactive, QPalette::HighlightedText, Qt::black);
      edit->setPalette(p);
      connect(edit, &QLineEdit::textChanged, edit,
              [edit](const QString& now) { edit->setToolTip(tooltip_for(now)); });
      edit->setText(text);
      edit->setCursorPosition(0);
      if (c.name == names::download_url) {
        // The box must not take the focus before the press has run the copy
        // action; the event filter gives it the focus itself.
        edit->setFocusPolicy(Qt::TabFocus);
        download_box_ = edit;
      }
      w = edit;
      break;
    }
    case control_kind::label: {
      auto* label = new QLabel(text, this);
      label->setTextFormat(Qt::PlainText);
      label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
      label->setWordWrap(false);
      label->setPalette(black_on_face);
      fit_font(label, c.width);
      w = label;
      break;
    }
    case control_kind::push_button: {
      auto* button = new QPushButton(text, this);
      button->setAutoDefault(false);
      button->setDefault(false);
      button->setPalette(black_on_face);
      connect(button, &QPushButton::clicked, this, &qt_main_window::on_resolve_clicked);
      w = button;
      break;
    }
    case control_kind::list_view:
      w = make_file_list(c);
      break;
  }
  if (!w) return nullptr;
  w->setObjectName(object_name(c.name));
  w->setGeometry(c.left, c.top, c.width, c.height);
  if (!c.tab_stop) w->setFocusPolicy(Qt::NoFocus);
  w->installEventFilter(this);
  return w;
}

QTreeView* qt_main_window::make_file_list(const control_record& c) {
  files_ = new file_list_model(this);
  auto* view = new QTreeView(this);
  file_list_ = view;
  view->setAccessibleName(from_utf8(c.text));
  view->setModel(files_);
  view->setRootIsDecorated(false);
  view->setItemsExpandable(false);
  view->setUniformRowHeights(true);  // rows are not measured one by one
  view->setAllColumnsShowFocus(true);
  view->setSelectionMode(QAbstractItemView::SingleSelection);
  view->setSelectionBehavior(QAbstractItemView::SelectRows);
  view->setEditTriggers(QAbstractItemView::NoEditTriggers);
  view->setTextElideMode(Qt::ElideMiddle);  // the extension stays in sight
  QHeaderView* header = view->header();
  header->setSectionsMovable(false);
  header->setStretchLastSection(false);
  header->setSectionResizeMode(0, QHeaderView::Stretch);
  header->setSectionResizeMode(1, QHeaderView::Fixed);
  header->resizeSection(1, file_list_size_width);
  QPalette p = view->palette();
  for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
    p.setColor(group, QPalette::Base, Qt::white);
    p.setColor(group, QPalette::Text, Qt::black);
  }
  view->setPalette(p);
  view->hide();  // until a page lists several files
  connect(view->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          [this](const QItemSelection& selected) { on_file_selected(selected); });
  // The keys reach the view, the clicks its viewport: both wait while a page loads.
  view->viewport()->installEventFilter(this);
  return view;
}

void qt_main_window::on_file_selected(const QItemSelection& selected) {
  if (choosing_ || selected.isEmpty()) return;
  choose_file_action(*this, files_->file(selected.indexes().front().row()));
}

void qt_main_window::show_files(std::vector<resolved_file> files, std::ptrdiff_t chosen) {
  const bool listing = !files.empty();
  choosing_ = true;
  files_->reset(std::move(files));
  const window_record& w = main_window();
  setFixedSize(w.client_width, listing ? w.listing_client_height : w.client_height);
  file_list_->setVisible(listing);
  if (listing) {
    keep_on_screen();
    if (chosen >= 0) {
      const QModelIndex row = files_->index(static_cast<int>(chosen), 0);
      file_list_->selectionModel()->setCurrentIndex(
          row, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
      file_list_->scrollTo(row);
    }
  }
  choosing_ = false;
}

void qt_main_window::keep_on_screen() {
  QScreen* where = screen();
  if (!where || !isVisible()) return;
  const QRect area = where->availableGeometry();
  const QRect frame = frameGeometry();
  if (frame.bottom() > area.bottom())
    move(frame.x(), std::max(area.top(), area.bottom() + 1 - frame.height()));
}

QWidget* qt_main_window::control(std::string_view name) const {
  return findChild<QWidget*>(object_name(name), Qt::FindDirectChildrenOnly);
}

QLineEdit* qt_main_window::edit_box(std::string_view name) const {
  return qobject_cast<QLineEdit*>(control(name));
}

QRadioButton* qt_main_window::radio_button(std::string_view name) const {
  return qobject_cast<QRadioButton*>(control(name));
}

local_text qt_main_window::text(std::string_view name) const {
  QLineEdit* edit = edit_box(name);
  return edit ? utf8_to_local(edit->text().toStdString()) : local_text();
}

void qt_main_window::set_text(std::string_view name, std::string_view local) {
  QLineEdit* edit = edit_box(name);
  if (!edit) return;
  edit->setText(from_local(local));
  edit->setCursorPosition(0);  // caret at the start, the text scrolled to it
}

bool qt_main_window::text_is_local(std::string_view name) const {
  QLineEdit* edit = edit_box(name);
  if (!edit) return true;
  // Local text is UTF-8 and holds any character; only half of a surrogate pair
  // has no UTF-8 form.
  return edit->text().isValidUtf16();
}

bool qt_main_window::checked(std::string_view name) const {
  QRadioButton* radio = radio_button(name);
  return radio && radio->isChecked();
}

void qt_main_window::set_checked(std::string_view name, bool on) {
  if (QRadioButton* radio = radio_button(name)) set_radio(radio, on);
}

QWidget* qt_main_window::step_focus(const std::vector<QWidget*>& chain, QWidget* from, int step,
                                    Qt::FocusReason reason) {
  const int n = static_cast<int>(chain.size());
  if (n == 0) return nullptr;
  auto it = std::find(chain.begin(), chain.end(), from);
  int i = it != chain.end() ? static_cast<int>(it - chain.begin()) : (step > 0 ? -1 : n);
  for (int tries = 0; tries < n; ++tries) {
    i = ((i + step) % n + n) % n;
    QWidget* w = chain[i];
    if (w->isVisible() && w->isEnabled()) {
      w->setFocus(reason);
      return w;
    }
  }
  return nullptr;
}

bool qt_main_window::focusNextPrevChild(bool next) {
  step_focus(focus_chain_, focusWidget(), next ? 1 : -1,
             next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
  return true;
}

void qt_main_window::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    close();
    return;
  }
  QWidget::keyPressEvent(event);
}

bool qt_main_window::eventFilter(QObject* watched, QEvent* event) {
  if (job_ && watched != this && is_input(event->type())) {
    // Waiting for a page: nothing reaches the controls, but Escape still closes.
    if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape)
      close();
    return true;
  }
  if (event->type() == QEvent::MouseButtonPress && watched == download_box_) {
    on_download_box_pressed(static_cast<QMouseEvent*>(event));
    return false;  // the box still takes the press: caret placement
  }
  if (event->type() != QEvent::KeyPress) return QWidget::eventFilter(watched, event);

  auto* key = static_cast<QKeyEvent*>(event);
  const Qt::KeyboardModifiers mods = key->modifiers();
  const bool ctrl_or_alt = mods & (Qt::ControlModifier | Qt::AltModifier);
  switch (key->key()) {
    case Qt::Key_Tab:
      if (ctrl_or_alt) break;
      focusNextPrevChild(!(mods & Qt::ShiftModifier));
      return true;
    case Qt::Key_Backtab:
      if (ctrl_or_alt) break;
      focusNextPrevChild(false);
      return true;
    case Qt::Key_Escape:
      close();
      return true;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      // No default button: Enter never presses a button, whatever the theme says.
      if (qobject_cast<QAbstractButton*>(watched)) return true;
      break;
    case Qt::Key_Right:
    case Qt::Key_Down:
    case Qt::Key_Left:
    case Qt::Key_Up: {
      auto* radio = qobject_cast<QRadioButton*>(watched);
      if (!radio || ctrl_or_alt) break;
      const int step = key->key() == Qt::Key_Right || key->key() == Qt::Key_Down ? 1 : -1;
      std::vector<QWidget*> radios(radio_chain_.begin(), radio_chain_.end());
      if (auto* reached = qobject_cast<QRadioButton*>(
              step_focus(radios, radio, step, Qt::OtherFocusReason))) {
        for (QWidget* other : radios) set_radio(static_cast<QRadioButton*>(other), other == reached);
      }
      return true;
    }
    default:
      break;
  }
  return QWidget::eventFilter(watched, event);
}

void qt_main_window::on_download_box_pressed(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) {
    const QPoint at = event->position().toPoint();
    copy_action(*this, services_, at.x(), at.y(), key_state(event->modifiers()));
  }
  download_box_->setFocus(Qt::MouseFocusReason);
}

void qt_main_window::on_resolve_clicked() {
  if (job_) return;
  std::vector<resolve_request> requests = read_resolve_requests(*this);
  // The fetches run on a thread of their own, so the window keeps painting and can
  // be closed; the controls wait for the results (see eventFilter) under the wait
  // cursor.
  job_ = resolve_job::start(requests, services_, [this] {
    QMetaObject::invokeMethod(this, &qt_main_window::on_resolved, Qt::QueuedConnection);
  });
  if (job_) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    hold_focus(true);
    return;
  }
  // No thread to be had: resolve here, the window waiting as a whole.
  busy_cursor busy;
  show_resolved(*this, run_resolve_requests(requests, services_));
}

void qt_main_window::on_resolved() {
  if (!job_) return;
  const std::shared_ptr<resolve_job> job = std::move(job_);  // job_ is empty now
  show_resolved(*this, job->take_results());
  hold_focus(false);
  QApplication::restoreOverrideCursor();
}

void qt_main_window::hold_focus(bool off) {
  // Qt gives a clicked control the focus before any event filter sees the click.
  if (off) {
    held_policies_.clear();
    for (QWidget* w : focus_chain_) {
      held_policies_.push_back(w->focusPolicy());
      w->setFocusPolicy(Qt::NoFocus);
    }
    return;
  }
  for (std::size_t i = 0; i < focus_chain_.size() && i < held_policies_.size(); ++i)
    focus_chain_[i]->setFocusPolicy(held_policies_[i]);
  held_policies_.clear();
}

std::unique_ptr<qt_main_window> create_main_window(action_services services) {
  auto window = std::make_unique<qt_main_window>(std::move(services));
  if (!window->complete()) return nullptr;

  default_choice_action(*window);

  QWidget* first = window->control(focus_order().front());
  if (first) first->setFocus(Qt::OtherFocusReason);
  window->show();
  window->raise();
  window->activateWindow();
  return window;
}

int run_window_program(action_services services) {
  QCoreApplication::setApplicationName(QStringLiteral("sharelink"));
  QGuiApplication::setDesktopFileName(QStringLiteral("sharelink"));
  QIcon icon;
  for (int size : {16, 24, 32, 48, 64, 128, 256})
    icon.addFile(QStringLiteral(":/icons/sharelink-%1.png").arg(size), QSize(size, size));
  QApplication::setWindowIcon(icon);
  QDir::setCurrent(QCoreApplication::applicationDirPath());

  auto window = create_main_window(std::move(services));
  if (!window) {
    QMessageBox::critical(nullptr, from_utf8(startup_error_caption), from_utf8(startup_error_text));
    return -1;
  }
  QApplication::exec();
  window.reset();  // the home-page action runs here
  return 0;
}

}  // namespace sharelink::app
