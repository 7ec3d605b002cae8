#include "Document/DocumentController.hpp"

#include "Document/Document.hpp"
#include "Document/DocumentError.hpp"
#include "Document/DocumentFileType.hpp"
#include "desktop/NSSavePanel.hpp"
#include "foundation/DispatchQueue.hpp"
#include "foundation/FatalError.hpp"

namespace velmora {

namespace {

void registerType(NSDocumentController& controller, DocumentFileType type) {
    const auto& declaration = DocumentFileTypes::declaration(type);
    controller.registerDocumentType({
        .identifier = std::string(declaration.identifier),
        .extensions = declaration.extensions,
        .mimeType = std::string(declaration.mimeType),
        .name = std::string(declaration.name),
        .writable = declaration.writable,
        .make = [] { return std::make_shared<Document>(); },
    });
}

} // namespace

DocumentController::DocumentController() {
    registerType(*this, DocumentFileType::velmora);
    for (const auto type : DocumentFileTypes::allCases) {
        if (type != DocumentFileType::velmora) {
            registerType(*this, type);
        }
    }
    NSSavePanel::setFileTypeResolver(
        [](std::string_view identifier) -> std::optional<NSSavePanel::FileType> {
            const auto type = DocumentFileTypes::fileType(identifier);
            if (!type) {
                return std::nullopt;
            }
            const auto& declaration = DocumentFileTypes::declaration(*type);
            return NSSavePanel::FileType{std::string(declaration.identifier),
                                         declaration.extensions, std::string(declaration.name)};
        });
}

DocumentController& DocumentController::shared() {
    auto* controller = dynamic_cast<DocumentController*>(&NSDocumentController::shared());
    if (controller == nullptr) {
        fatalError("The shared document controller is not the application's");
    }
    return *controller;
}

std::string DocumentController::typeForContents(const URL& url) const {
    const auto type = DocumentFileTypes::fileTypeForPath(url.path());
    if (!type) {
        throw DocumentError::unsupportedFormat();
    }
    return std::string(DocumentFileTypes::identifier(*type));
}

void DocumentController::noteNewRecentDocumentURL(const URL& url) {
    NSDocumentController::noteNewRecentDocumentURL(url);
    DispatchQueue::main().async([weak = weakAs<DocumentController>()] {
        const auto self = weak.lock();
        if (const auto delegate = self ? self->delegate.lock() : nullptr) {
            delegate->documentControllerDidChangeRecentDocuments(*self);
        }
    });
}

void DocumentController::clearRecentDocuments() {
    NSDocumentController::clearRecentDocuments();
    if (const auto delegate = this->delegate.lock()) {
        delegate->documentControllerDidChangeRecentDocuments(*this);
    }
}

} // namespace velmora
