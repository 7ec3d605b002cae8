#pragma once

#include "desktop/NSModalResponse.hpp"
#include "desktop/NSObject.hpp"
#include "foundation/URL.hpp"

#include <QPointer>
#include <QStringList>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class QFileDialog;

namespace velmora {

class NSWindow;

// A file dialog for choosing where to save, over a non-native QFileDialog so
// that an accessory view fits under it. Allowed file types become its name
// filters, the chosen one giving the default suffix; they may change while the
// panel runs (an accessory's format chooser does that).
class NSSavePanel : public NSObject {
public:
    // A type's extensions (without the dot, the first preferred) and its name in the filter.
    struct FileType {
        std::string identifier;
        std::vector<std::string> extensions;
        std::string name;
    };
    using FileTypeResolver = std::function<std::optional<FileType>(std::string_view identifier)>;
    // The chosen URLs, or nothing for Cancel.
    using Responder = std::function<std::optional<std::vector<URL>>(NSSavePanel&)>;

    static std::shared_ptr<NSSavePanel> savePanel();
    NSSavePanel();
    virtual ~NSSavePanel();

    std::string title;
    std::string message;
    std::string prompt;
    std::string nameFieldStringValue;
    std::optional<URL> directoryURL;
    bool canCreateDirectories = true;
    // The dialog takes the view over while it runs and gives it back after.
    QPointer<QWidget> accessoryView;
    bool isExtensionHidden() const { return extensionHidden_; }
    void setExtensionHidden(bool hidden) { extensionHidden_ = hidden; }

    // Type identifiers the resolver knows, or bare extensions; empty allows any file.
    const std::vector<std::string>& allowedFileTypes() const { return allowedTypes_; }
    void setAllowedFileTypes(std::vector<std::string> types);
    // How identifiers become extensions: set once by the application (its document types).
    static void setFileTypeResolver(FileTypeResolver resolver);
    std::vector<FileType> resolvedFileTypes() const;

    // The chosen file after OK.
    std::optional<URL> url() const;
    const std::vector<URL>& urls() const { return urls_; }

    NSModalResponse runModal();
    // Window-modal over the window; the handler runs on the main thread when it ends.
    void beginSheetModalForWindow(const std::shared_ptr<NSWindow>& window,
                                  std::function<void(NSModalResponse)> completionHandler);

    // The dialog the panel runs, configured; for callers and tests that drive it.
    std::unique_ptr<QFileDialog> makeDialog(QWidget* parent = nullptr);
    // Takes the dialog's outcome: OK answers the chosen URLs.
    NSModalResponse finish(QFileDialog& dialog, bool accepted);

    // Tests answer in place of a person while a responder is set.
    static void setTestResponder(Responder responder);

protected:
    virtual void configure(QFileDialog& dialog) const;
    // One name filter per type, in order.
    virtual QStringList nameFilters(const std::vector<FileType>& types) const;
    static QString nameFilter(const std::string& name, const std::vector<std::string>& extensions);
    std::vector<URL> urls_;

private:
    void applyTypes(QFileDialog& dialog) const;
    std::optional<NSModalResponse> answerByTest();

    std::vector<std::string> allowedTypes_;
    bool extensionHidden_ = false;
    QPointer<QFileDialog> running_;
};

} // namespace velmora
