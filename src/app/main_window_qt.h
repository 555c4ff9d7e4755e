#pragma once
// The main window built with Qt Widgets from the window description.
#include <QWidget>

#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "app/actions.h"
#include "app/background.h"
#include "app/window_description.h"

class QItemSelection;
class QLineEdit;
class QRadioButton;
class QTreeView;

namespace sharelink::app {

class file_list_model;

class qt_main_window final : public QWidget, public window_access {
  Q_OBJECT

 public:
  /// Builds the window (native window included, its frame centred on the primary
  /// screen) and the controls of `controls` and the file list, ordered by `order`,
  /// hidden. Runs no action; see create_main_window.
  qt_main_window(action_services services, std::span<const control_record> controls = main_controls(),
                 std::span<const std::string_view> order = focus_order_with_list());
  /// Runs the home-page action when the window was complete: it is being destroyed.
  /// A resolution still under way is abandoned: its fetch is told to stop, and its
  /// results go nowhere.
  ~qt_main_window() override;

  /// Whether every control of the description and the native window exist.
  bool complete() const { return complete_; }

  /// The control named `name` (its objectName), or nullptr.
  QWidget* control(std::string_view name) const;

  /// Whether a press of the resolve button is still waiting for its results. The
  /// controls take no input meanwhile, but Escape and Close still close the window.
  bool resolving() const { return job_ != nullptr; }

  local_text text(std::string_view name) const override;
  void set_text(std::string_view name, std::string_view local) override;
  bool checked(std::string_view name) const override;
  void set_checked(std::string_view name, bool on) override;
  bool text_is_local(std::string_view name) const override;
  void show_files(std::vector<resolved_file> files, std::ptrdiff_t chosen) override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  bool focusNextPrevChild(bool next) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  QWidget* make_control(const control_record& record);
  QLineEdit* edit_box(std::string_view name) const;
  QRadioButton* radio_button(std::string_view name) const;
  QTreeView* make_file_list(const control_record& record);  // hidden, empty
  /// A row selected by the user: its file fills the boxes.
  void on_file_selected(const QItemSelection& selected);
  /// Moves the window up as far as it must to show its lower edge, or to the top.
  void keep_on_screen();
  /// Moves the focus `step` places along `chain` from `from`, wrapping, skipping
  /// hidden and disabled controls. Returns the control reached, or nullptr.
  QWidget* step_focus(const std::vector<QWidget*>& chain, QWidget* from, int step,
                      Qt::FocusReason reason);
  void on_download_box_pressed(QMouseEvent* event);
  void on_resolve_clicked();
  void on_resolved();
  /// While a page loads a click gives no control the focus either; `off` false
  /// gives the controls back the focus policies they had.
  void hold_focus(bool off);

  action_services services_;
  std::vector<QWidget*> focus_chain_;  ///< the focus order
  std::vector<QWidget*> radio_chain_;  ///< radio buttons in focus order
  QLineEdit* download_box_ = nullptr;
  QTreeView* file_list_ = nullptr;
  file_list_model* files_ = nullptr;
  bool choosing_ = false;  ///< the program, not the user, is selecting a row
  std::shared_ptr<resolve_job> job_;  ///< the resolution under way, if any
  std::vector<Qt::FocusPolicy> held_policies_;  ///< of focus_chain_, while job_ runs
  bool complete_ = false;
};

/// Builds the main window from the description, runs the created event (the
/// default-choice action), shows and activates it, with the focus in the first control of the focus order.
/// Returns nullptr when the window cannot be created.
std::unique_ptr<qt_main_window> create_main_window(action_services services);

/// The window program: shows the main window and runs until it is closed. A
/// QApplication must exist. Returns 0, or -1 after a message box when the window
/// cannot be created.
int run_window_program(action_services services);

}  // namespace sharelink::app
