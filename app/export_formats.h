#pragma once

#include "app/export_table.h"

#include <QString>

#include <span>
#include <string>
#include <string_view>

namespace kelvora {

// One kind of export file. Adding a kind takes its writer and a row in
// ExportFormats(); the dialog, the choice by extension and the write follow.
struct ExportFormat {
    std::string_view name;
    std::string_view suffix;    // the extension, without the dot
    std::string_view filter;    // the file dialog's filter text
    // Writes the whole export to path; the empty text on success, otherwise the reason.
    std::string (*write)(const std::string &path, const ExportContent &content);
};

// Every export format; the first is the one offered first.
std::span<const ExportFormat> ExportFormats();

// The format whose extension is suffix (any letter case), or null.
const ExportFormat *ExportFormatForSuffix(const QString &suffix);
// The format of a filter text; the first format for a filter that is none of them.
const ExportFormat &ExportFormatForFilter(std::string_view filter);

} // namespace kelvora
