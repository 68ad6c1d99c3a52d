#include "shell/folder_picker.h"

#include "shell/file_routines.h"
#include "shell/prompts.h"

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
