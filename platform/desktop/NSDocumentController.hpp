#pragma once

#include "desktop/NSResponder.hpp"
#include "foundation/URL.hpp"

#include <cstddef>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

class NSDocument;

// A type of document the application reads or writes, with its maker.
struct NSDocumentType {
    std::string identifier;              // "public.png"
    std::vector<std::string> extensions; // without the dot, the first preferred
    std::string mimeType;                // for file dialogs and the desktop
    std::string name;                    // shown in file dialogs
    bool writable = false;
    std::function<std::shared_ptr<NSDocument>()> make;
};

// The open documents and the ways to make them: new, open (an open URL gives its
// document), the registered types, and the recent documents, newest first,
// without duplicates, at most ten, kept in the user defaults under
// "NSRecentDocuments". The first controller made is the shared one; it answers
// "newDocument:", "openDocument:" and "clearRecentDocuments:". Main thread only.
class NSDocumentController : public NSResponder {
public:
    static constexpr std::string_view recentDocumentsKey = "NSRecentDocuments";
    static constexpr std::size_t maximumRecentDocumentCount = 10;

    using OpenCompletion =
        std::function<void(std::shared_ptr<NSDocument> document, bool documentWasAlreadyOpen,
                           std::exception_ptr error)>;

    NSDocumentController();
    ~NSDocumentController() override;

    // The first controller made; one of this class when none was made.
    static NSDocumentController& shared();

    void registerDocumentType(NSDocumentType type);
    const std::vector<NSDocumentType>& documentTypes() const { return types_; }
    // The first registered type; empty without any.
    std::string defaultType() const;
    const NSDocumentType* documentType(std::string_view identifier) const;
    // By the file's extension, ignoring case; throws NSDocument::Error for none.
    virtual std::string typeForContents(const URL& url) const;

    const std::vector<std::shared_ptr<NSDocument>>& documents() const { return documents_; }
    void addDocument(std::shared_ptr<NSDocument> document);
    void removeDocument(const NSDocument* document);
    std::shared_ptr<NSDocument> documentForURL(const URL& url) const;
    // The document of the main window, if any.
    std::shared_ptr<NSDocument> currentDocument() const;
    bool hasEditedDocuments() const;

    // Throws when the type has no maker.
    virtual std::shared_ptr<NSDocument> makeUntitledDocument(const std::string& typeName);
    // Throws what reading throws.
    virtual std::shared_ptr<NSDocument> makeDocument(const URL& url, const std::string& typeName);

    // "newDocument:": an untitled document of the default type, with its windows.
    std::shared_ptr<NSDocument> openUntitledDocumentAndDisplay(bool display);
    void newDocument();
    // "openDocument:": the files the open panel gives.
    void openDocument();
    // An open document for the URL is given as it is (its windows shown);
    // otherwise the file is read, the document added and noted as recent.
    void openDocument(const URL& url, bool display, const OpenCompletion& completion);

    std::vector<URL> recentDocumentURLs() const;
    virtual void noteNewRecentDocumentURL(const URL& url);
    void noteNewRecentDocument(const NSDocument& document);
    virtual void clearRecentDocuments();

    // At quit: each document may close (autosaving, or asking about unsaved
    // changes); false as soon as one refuses.
    bool closeAllDocumentsForTermination();

private:
    void storeRecentDocumentURLs(const std::vector<URL>& urls);

    std::vector<NSDocumentType> types_;
    std::vector<std::shared_ptr<NSDocument>> documents_;
};

} // namespace velmora
