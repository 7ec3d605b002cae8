#pragma once

#include <memory>

namespace velmora {

class DisplayViewModel;
class Document;

// Where the canvas information title bar reads its values (the drawing view controller).
class CanvasInfoDataSource {
public:
    virtual ~CanvasInfoDataSource() = default;
    virtual std::shared_ptr<Document> representedDocument() const = 0;
    virtual std::shared_ptr<DisplayViewModel> displayViewModel() const = 0;
};

} // namespace velmora
