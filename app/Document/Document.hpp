#pragma once

#include "Canvas/CanvasArchive.hpp"
#include "Canvas/LayeredCanvas.hpp"
#include "Canvas/PreviewCanvas.hpp"
#include "Document/BitmapProvider.hpp"
#include "Document/DocumentDelegate.hpp"
#include "Document/DocumentFileType.hpp"
#include "Document/ImageDropDelegate.hpp"
#include "Document/ManagedDocument.hpp"
#include "MulticastDelegate/MulticastDelegate.hpp"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace velmora {

class DocumentConversionController;
class NSSavePanel;
class SaveAccessoryViewController;
class VersionStore;
class VersionsBrowser;

// One open picture: a layered canvas of the application's own type or a flat
// image made into a one-layer canvas, or, when only viewed, a flat preview.
// Flat images opened for editing may become unsaved native documents as the
// conversion policy says. A flat document is written back into its image only
// by an explicit save, never autosaved in place. Main thread only.
class Document : public ManagedDocument, public BitmapReceiver {
public:
    using FileType = DocumentFileType;
    using Content = std::variant<std::shared_ptr<PreviewCanvas>, std::shared_ptr<LayeredCanvas>>;

    Document();
    ~Document() override;

    MulticastDelegate<DocumentDelegate> delegates;
    // Shown in a modal alert by the document before a failed read from a file
    // is passed on (marked as shown).
    bool modalErrorOpenHandler = true;
    // Where versions are kept before a save replaces a file; none keeps none.
    std::shared_ptr<VersionStore> versionStore;

    const std::optional<Content>& content() const { return content_; }
    // Makes the drop handler of a layered canvas, then tells the delegates.
    void setContent(std::optional<Content> content);
    std::shared_ptr<LayeredCanvas> layeredCanvas() const;
    std::shared_ptr<PreviewCanvas> previewCanvas() const;
    const std::shared_ptr<ImageDropDelegate>& imageDropHandler() const { return imageDropHandler_; }

    std::shared_ptr<BitmapProvider> bitmapProvider() const override {
        return bitmapProvider_.lock();
    }
    void setBitmapProvider(const std::shared_ptr<BitmapProvider>& provider) override {
        bitmapProvider_ = provider;
    }

    // A version shown by itself: only previews are read.
    bool isInViewingMode() const { return viewingMode_; }
    void setInViewingMode(bool viewing) { viewingMode_ = viewing; }

    SaveAccessoryViewController& accessoryViewController();
    DocumentConversionController& conversionController();

    // The native type only: a flat image would lose its original and be
    // flattened silently.
    bool autosavesInPlace() const override;
    // The window controller "Document Window Controller" of the storyboard
    // "Document", its content view controller representing this document.
    void makeWindowControllers() override;
    std::vector<std::string> writableTypes() const override;
    std::string fileTypeFromLastRunSavePanel() const override;

    void read(const URL& url, const std::string& typeName) override;
    void read(const Data& data, const std::string& typeName) override;
    Data data(const std::string& typeName) override;
    // Writes and waits: the two parts of an asynchronous save, one after the other.
    void write(const URL& url, const std::string& typeName) override;
    // Every type: the canvas and its flattened picture are taken on the main
    // thread; encoding what is left and the file itself happen on the save's.
    bool canAsynchronouslyWrite(const URL& url, const std::string& typeName,
                                NSSaveOperationType operation) const override;
    BackgroundWrite prepareAsynchronousWrite(const URL& url, const std::string& typeName,
                                             NSSaveOperationType operation) override;

    // The save panel with the format chooser beneath it; the chosen format is
    // the type written.
    std::optional<SaveDestination> runSavePanel() override;
    // Shows the extension and installs the format chooser.
    bool prepareSavePanel(NSSavePanel& panel);

    // Errors already shown by the document are not shown again.
    void presentError(const std::exception& error) override;

    // Turns the document into an unsaved native one named after its file; the
    // file is left as it is.
    void convertToNativeType();

    // Replaces the canvas by the one of an earlier version of this document's
    // file, as one edit that undo takes back. The state it replaces is kept as
    // a version first (an autosaving document saves its changes before). A
    // version that cannot be read, or a document without a layered canvas, a
    // file or its undo manager (an edit under way), changes nothing: false,
    // after an alert for what the user can act on.
    bool restoreVersion(const URL& version);
    // "browseDocumentVersions:": the versions browser beside the document's
    // window, brought to the front when it is open already.
    void browseVersions();
    const std::shared_ptr<VersionsBrowser>& versionsBrowser() const { return versionsBrowser_; }
    // Browsing needs a file, a version store, a layered canvas and no edit
    // under way.
    bool validateMenuItem(const NSMenuItem& item) override;
    // The type of a version of this document's file: by its extension, else
    // the document's.
    std::string versionType(const URL& version) const;

private:
    struct Flattened {
        std::shared_ptr<LayeredCanvas> canvas;
        std::shared_ptr<NSBitmapImageRep> bitmap;
        FileType type;
    };
    // The checks every write makes, in order, then the flattened canvas.
    Flattened flattened(const std::string& typeName) const;
    void runAlert(const std::exception& error);
    // The content `data` makes: previews when viewing, else the canvas.
    Content contentOf(const Data& data, FileType type, bool viewing) const;
    // Puts the state the restore replaces among the versions.
    bool keepCurrentStateAsVersion();
    // Undo puts `canvas` back and registers the redo.
    void registerContentUndo(UndoManager& undo, std::shared_ptr<LayeredCanvas> canvas);

    std::optional<Content> content_;
    std::weak_ptr<BitmapProvider> bitmapProvider_;
    std::shared_ptr<ImageDropDelegate> imageDropHandler_;
    std::shared_ptr<SaveAccessoryViewController> accessoryViewController_;
    std::shared_ptr<DocumentConversionController> conversionController_;
    bool viewingMode_ = false;
    std::shared_ptr<VersionsBrowser> versionsBrowser_;
};

} // namespace velmora
