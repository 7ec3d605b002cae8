#pragma once

namespace velmora {

class Document;

// Told when a document's content has been replaced.
class DocumentDelegate {
public:
    virtual ~DocumentDelegate() = default;
    virtual void documentContentDidChange(Document& document) = 0;
};

} // namespace velmora
