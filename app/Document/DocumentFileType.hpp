#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

// The formats a document is read from and written to; the order is the index
// wherever a type identifier is looked up.
enum class DocumentFileType { tiff, jpeg, png, gif, bmp, velmora };

// How the application declares one format to the desktop.
struct DocumentFileTypeDeclaration {
    DocumentFileType type;
    std::string_view identifier;
    std::string_view mimeType;
    std::vector<std::string> extensions; // the first preferred
    std::string_view name;               // in file dialogs
    bool writable;
};

namespace DocumentFileTypes {

inline constexpr std::array<DocumentFileType, 6> allCases{
    DocumentFileType::tiff, DocumentFileType::jpeg, DocumentFileType::png,
    DocumentFileType::gif,  DocumentFileType::bmp,  DocumentFileType::velmora};

const DocumentFileTypeDeclaration& declaration(DocumentFileType type);
std::string_view identifier(DocumentFileType type);
// None for an identifier that is not one of the six.
std::optional<DocumentFileType> fileType(std::string_view identifier);
// By the path's extension, in any case; none for other extensions.
std::optional<DocumentFileType> fileTypeForPath(std::string_view path);
bool isWritable(DocumentFileType type);
// The writable identifiers, in table order.
std::vector<std::string> writableIdentifiers();

} // namespace DocumentFileTypes

} // namespace velmora
