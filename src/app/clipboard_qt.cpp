// The system clipboard through Qt.
#include <QClipboard>
#include <QGuiApplication>
#include <QString>

#include "app/desktop.h"
#include "codec/local_text.h"

namespace sharelink {

bool set_clipboard_text(std::string_view local) {
  auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
  if (!app) return false;
  QClipboard* clipboard = QGuiApplication::clipboard();
  if (!clipboard) return false;
  const std::string_view utf8 = as_local(local);
  const QString text = QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
  clipboard->setText(text, QClipboard::Clipboard);
  // Whether we now own the clipboard with exactly this text.
  return clipboard->text(QClipboard::Clipboard) == text;
}

}  // namespace sharelink
