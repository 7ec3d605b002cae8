#pragma once

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
    void write(const URL& url, const std::string& typeName) override;

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

private:
    struct Flattened {
        std::shared_ptr<LayeredCanvas> canvas;
        std::shared_ptr<NSBitmapImageRep> bitmap;
        FileType type;
    };
    // The checks every write makes, in order, then the flattened canvas.
    Flattened flattened(const std::string& typeName) const;
    void writeNative(const URL& url, const Flattened& flat);
    void runAlert(const std::exception& error);

    std::optional<Content> content_;
    std::weak_ptr<BitmapProvider> bitmapProvider_;
    std::shared_ptr<ImageDropDelegate> imageDropHandler_;
    std::shared_ptr<SaveAccessoryViewController> accessoryViewController_;
    std::shared_ptr<DocumentConversionController> conversionController_;
    bool viewingMode_ = false;
};

} // namespace velmora
