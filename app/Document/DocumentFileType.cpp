#include "Document/DocumentFileType.hpp"

#include <algorithm>
#include <cctype>
#include <filesystem>

namespace velmora::DocumentFileTypes {

namespace {

const std::array<DocumentFileTypeDeclaration, 6>& table() {
    // Leaked: thumbnail and decoding queues may still ask while the program exits.
    static const auto* declarations = new std::array<DocumentFileTypeDeclaration, 6>{{
        {DocumentFileType::tiff, "public.tiff", "image/tiff", {"tiff", "tif"}, "TIFF", true},
        {DocumentFileType::jpeg, "public.jpeg", "image/jpeg", {"jpg", "jpeg"}, "JPEG", true},
        {DocumentFileType::png, "public.png", "image/png", {"png"}, "PNG", true},
        {DocumentFileType::gif, "com.compuserve.gif", "image/gif", {"gif"}, "GIF", false},
        {DocumentFileType::bmp, "com.microsoft.bmp", "image/bmp", {"bmp"}, "BMP", false},
        {DocumentFileType::velmora,
         "com.tovik.velmora-image",
         "application/x-velmora-image",
         {"velmora"},
         "Velmora Document",
         true},
    }};
    return *declarations;
}

std::string lowercased(std::string text) {
    std::ranges::transform(text, text.begin(),
                           [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

} // namespace

const DocumentFileTypeDeclaration& declaration(DocumentFileType type) {
    return table()[size_t(type)];
}

std::string_view identifier(DocumentFileType type) {
    return declaration(type).identifier;
}

std::optional<DocumentFileType> fileType(std::string_view identifier) {
    for (const auto& entry : table()) {
        if (entry.identifier == identifier) {
            return entry.type;
        }
    }
    return std::nullopt;
}

std::optional<DocumentFileType> fileTypeForPath(std::string_view path) {
    const std::string extension = std::filesystem::path(path).extension().string();
    if (extension.size() < 2) {
        return std::nullopt;
    }
    const std::string wanted = lowercased(extension.substr(1));
    for (const auto& entry : table()) {
        if (std::ranges::find(entry.extensions, wanted) != entry.extensions.end()) {
            return entry.type;
        }
    }
    return std::nullopt;
}

bool isWritable(DocumentFileType type) {
    return declaration(type).writable;
}

std::vector<std::string> writableIdentifiers() {
    std::vector<std::string> identifiers;
    for (const auto& entry : table()) {
        if (entry.writable) {
            identifiers.emplace_back(entry.identifier);
        }
    }
    return identifiers;
}

} // namespace velmora::DocumentFileTypes
