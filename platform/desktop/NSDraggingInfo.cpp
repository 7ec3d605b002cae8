#include "desktop/NSDraggingInfo.hpp"

#include <QDropEvent>
#include <QMimeDatabase>
#include <QUrl>

namespace velmora {

namespace {

bool conforms(const QMimeType& mime, const std::string& type) {
    const auto isImage = [](const QString& name) {
        return name.startsWith(QLatin1String("image/"));
    };
    if (type == kUTTypeImage) {
        if (isImage(mime.name())) {
            return true;
        }
        for (const QString& ancestor : mime.allAncestors()) {
            if (isImage(ancestor)) {
                return true;
            }
        }
        return false;
    }
    return mime.inherits(QString::fromStdString(type));
}

// The file's content type is decided by its name and, where that says nothing,
// by its first bytes.
bool conformsToAny(const URL& url, const std::vector<std::string>& types) {
    if (types.empty()) {
        return true;
    }
    static const QMimeDatabase database;
    const QMimeType mime = database.mimeTypeForFile(QString::fromStdString(url.path()));
    for (const auto& type : types) {
        if (conforms(mime, type)) {
            return true;
        }
    }
    return false;
}

std::optional<URL> fileURLOf(const NSPasteboardItem& item) {
    const auto text = item.string(NSPasteboardTypeFileURL);
    if (!text) {
        return std::nullopt;
    }
    const QUrl url(QString::fromStdString(*text));
    if (!url.isLocalFile()) {
        return std::nullopt;
    }
    return URL::fileURL(url.toLocalFile().toStdString());
}

NSDragOperation operationsFrom(Qt::DropActions actions) {
    auto mask = NSDragOperation::none;
    if (actions.testFlag(Qt::CopyAction)) {
        mask = mask | NSDragOperation::copy;
    }
    if (actions.testFlag(Qt::MoveAction)) {
        mask = mask | NSDragOperation::move | NSDragOperation::generic;
    }
    if (actions.testFlag(Qt::LinkAction)) {
        mask = mask | NSDragOperation::link;
    }
    return mask;
}

} // namespace

NSDraggingInfo::NSDraggingInfo(NSPasteboard pasteboard, CGPoint draggingLocation,
                               NSDragOperation sourceOperationMask, QWidget* destinationWindow,
                               QObject* source)
    : pasteboard_(std::move(pasteboard)), location_(draggingLocation), mask_(sourceOperationMask),
      window_(destinationWindow), source_(source) {}

NSDraggingInfo NSDraggingInfo::fromDropEvent(const QDropEvent& event, const QWidget& receiver) {
    QWidget* window = receiver.window();
    const QPointF p = receiver.mapTo(window, event.position());
    const NSPasteboard pasteboard = event.mimeData() != nullptr
                                        ? NSPasteboard::fromMimeData(*event.mimeData())
                                        : NSPasteboard();
    return NSDraggingInfo(pasteboard, {p.x(), window->height() - p.y()},
                          operationsFrom(event.possibleActions()), window, event.source());
}

CGPoint NSDraggingInfo::location(const QWidget& view) const {
    const QWidget* window = window_.data();
    if (window == nullptr) {
        return location_;
    }
    const QPointF inView =
        view.mapFrom(window, QPointF(location_.x, window->height() - location_.y));
    return {inView.x(), view.height() - inView.y()};
}

void NSDraggingInfo::enumerateDraggingItems(
    const std::vector<ItemClass>& classes, const SearchOptions& options,
    const std::function<void(const DraggingItem& item, size_t index, bool& stop)>& block) const {
    const auto& items = pasteboard_.pasteboardItems();
    bool stop = false;
    for (size_t index = 0; index < items.size() && !stop; ++index) {
        for (const ItemClass itemClass : classes) {
            if (itemClass == ItemClass::filePromiseReceiver) {
                if (auto receiver = NSFilePromiseReceiver::make(items[index])) {
                    block(DraggingItem(std::move(receiver)), index, stop);
                    break;
                }
            } else if (auto url = fileURLOf(items[index])) {
                // Every URL we read is a file URL, so `fileURLsOnly` holds already.
                if (conformsToAny(*url, options.contentsConformToTypes)) {
                    block(DraggingItem(std::move(*url)), index, stop);
                    break;
                }
            }
        }
    }
}

} // namespace velmora
