#include "app/error_folder_view.h"

#include <QDesktopServices>
#include <QString>
#include <QUrl>
#include <stdexcept>
#include <string>

namespace quillport {

void ViewErrorFolder(std::string_view folder) {
  const QString path = QString::fromUtf8(folder.data(), static_cast<qsizetype>(folder.size()));
  if (!QDesktopServices::openUrl(QUrl::fromLocalFile(path))) {
    throw std::runtime_error("no file browser could be started for " + std::string(folder));
  }
}

}  // namespace quillport
