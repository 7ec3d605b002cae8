#pragma once

#include "desktop/VersionStore.hpp"
#include "desktop/VersionsBrowser.hpp"

#include <QImage>
#include <memory>

namespace velmora {

class Document;
class NSWindow;

// What the versions browser does for a document: its versions from the
// document's store, thumbnails from each version's own previews (native) or its
// image (flat), a chosen version opened as a second, read-only document in
// viewing mode with a window of its own, and "Restore" as the document's
// restore of that version. The utility panels leave the screen while the
// browser is open; the document window brings them back as it closes.
// Main thread only, except `thumbnail`.
class DocumentVersionsBrowser {
public:
    // Opens the browser beside the document's first window; none for a
    // document without a file, a version store or a window.
    static std::shared_ptr<VersionsBrowser> browse(Document& document);

    // Any thread: the version's stored preview (native, never its layers) or
    // its image (flat), fitted in a thumbnail. Throws when it cannot be read.
    static QImage thumbnail(const DocumentVersion& version);
    // The version as a document of its own, in viewing mode, with its window
    // made but not shown. Throws when it cannot be read.
    static std::shared_ptr<Document> openVersion(const Document& document,
                                                 const DocumentVersion& version);
};

} // namespace velmora
