#include "app/folder_picker.h"

#include "base/file_routines.h"
#include "base/prompts.h"

#include <QDir>
#include <QFileInfo>

namespace AddFolder {

QString BrowseForFolder(Prompts& prompts, const QString& prompt, const QString& startFolder) {
    const QString chosen = prompts.browseForFolder(prompt, startFolder);
    if (chosen.isEmpty() || !Main::FolderExists(chosen))
        return QString();
    return QDir::cleanPath(QFileInfo(chosen).absoluteFilePath());
}

} // namespace AddFolder
