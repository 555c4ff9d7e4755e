// The system clipboard through Qt.
#include <QClipboard>
#include <QGuiApplication>
#include <QString>

#include "app/desktop.h"
#include "codec/codepage.h"

namespace sharelink {

bool set_clipboard_text(std::string_view local) {
  auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
  if (!app) return false;
  QClipboard* clipboard = QGuiApplication::clipboard();
  if (!clipboard) return false;
  const QString text = QString::fromStdString(local_to_utf8(as_local(local)));
  clipboard->setText(text, QClipboard::Clipboard);
  // Whether we now own the clipboard with exactly this text.
  return clipboard->text(QClipboard::Clipboard) == text;
}

}  // namespace sharelink
