#pragma once

#include <QString>

// Where the file dialogs start: the Linux counterpart of the program folder.
// An installed program's own folder is not writable, so each kind of file
// starts in the folder the user last chose for it, kept in the settings, or
// else in the program's folder inside the user's documents folder.
namespace kelvora {

enum class FileKind { Results, Export, PartnerText };

// The user's documents folder (XDG_DOCUMENTS_DIR, by default ~/Documents)
// followed by "/Kelvora".
QString DocumentsFolder();

// The folder a dialog for kind starts in: the last one remembered for kind
// when it still exists, otherwise DocumentsFolder(), which is created then.
// Never fails; when nothing can be created the home folder is given.
QString StartFolder(FileKind kind);

// Keeps the folder of file, a file the user chose for kind, in the settings
// for the next dialog of that kind. Failures to store are ignored: the
// dialog still works, it only forgets.
void RememberFolder(FileKind kind, const QString &file);

// The settings key that holds the folders, one string value per kind.
inline constexpr const char *kFoldersKeyPath = "\\Software\\Torvane\\Kelvora1Software\\Folders";

} // namespace kelvora
