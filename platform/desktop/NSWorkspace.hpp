#pragma once

#include "foundation/URL.hpp"

#include <QIcon>
#include <QStringList>
#include <QUrl>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

// The desktop around the application: the file manager, icons and programs.
class NSWorkspace {
public:
    // What reaches outside the process; tests put their own in place.
    struct Backend {
        // org.freedesktop.FileManager1.ShowItems with the files' URIs.
        std::function<bool(const QStringList& uris)> showItems;
        // The desktop's handler for a URL (a folder opens in the file manager).
        std::function<bool(const QUrl& url)> openUrl;
        std::function<bool(const QString& program, const QStringList& arguments)> startDetached;
    };

    static NSWorkspace& shared();
    static Backend systemBackend();
    void setBackend(Backend backend) { backend_ = std::move(backend); }

    // Shows the files selected in the file manager; where the file manager has
    // no such service, opens the folder of the first. False when neither worked.
    bool activateFileViewerSelectingURLs(const std::vector<URL>& urls);
    bool openURL(const URL& url);

    // The theme's icon for the file's type (a folder's for folders), else the
    // generic one of its kind.
    QIcon iconForFile(const std::string& path) const;
    QIcon iconForContentType(std::string_view mimeType) const;

    // Starts the program detached from this process; false with a message when it cannot start.
    bool launchApplication(const URL& program, const std::vector<std::string>& arguments,
                           std::string* error = nullptr);

private:
    NSWorkspace() : backend_(systemBackend()) {}
    Backend backend_;
};

} // namespace velmora
