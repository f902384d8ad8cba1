#include "platform/file_folders.h"

#include "platform/registry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <exception>
#include <string>

namespace kelvora {

namespace {

constexpr const char *kProgramFolderName = "Kelvora";

const char *valueName(FileKind kind)
{
    switch (kind) {
    case FileKind::Results:
        return "results";
    case FileKind::Export:
        return "export";
    case FileKind::PartnerText:
        return "partners";
    }
    return "results";
}

QString rememberedFolder(FileKind kind)
{
    try {
        RegistryKey key;
        if (!key.OpenKey(kFoldersKeyPath, false) || !key.ValueExists(valueName(kind)))
            return {};
        return QFile::decodeName(QByteArray::fromStdString(key.ReadString(valueName(kind))));
    } catch (const std::exception &) {
        return {};
    }
}

} // namespace

QString DocumentsFolder()
{
    QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (documents.isEmpty())
        documents = QDir::homePath() + QStringLiteral("/Documents");
    return QDir::cleanPath(documents + QLatin1Char('/') + QLatin1String(kProgramFolderName));
}

QString StartFolder(FileKind kind)
{
    const QString remembered = rememberedFolder(kind);
    if (!remembered.isEmpty() && QFileInfo(remembered).isDir())
        return remembered;
    const QString documents = DocumentsFolder();
    if (QDir().mkpath(documents))
        return documents;
    return QDir::homePath();
}

void RememberFolder(FileKind kind, const QString &file)
{
    if (file.isEmpty())
        return;
    const QString folder = QFileInfo(file).absolutePath();
    if (!QFileInfo(folder).isDir())
        return;
    try {
        RegistryKey key;
        if (key.OpenKey(kFoldersKeyPath, true))
            key.WriteString(valueName(kind), QFile::encodeName(folder).toStdString());
    } catch (const std::exception &) {
        // Only the next dialog's starting folder is lost.
    }
}

} // namespace kelvora
