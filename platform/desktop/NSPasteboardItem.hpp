#pragma once

#include <QPointer>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QMimeData;

namespace velmora {

// Type texts are Qt's format names: the platform's ("public.file-url"), MIME
// types ("image/png") and the application's own ("Velmora.Layer").
using NSPasteboardType = std::string;
using NSPasteboardData = std::vector<uint8_t>;

inline const NSPasteboardType NSPasteboardTypeFileURL = "public.file-url";
inline const NSPasteboardType NSPasteboardTypeString = "public.utf8-plain-text";

// One item of a pasteboard: data by type. Items read from a drag fetch their
// data from the drag when first asked, which works while the drop is handled.
class NSPasteboardItem {
public:
    NSPasteboardItem() = default;

    // In the order they were set.
    std::vector<NSPasteboardType> types() const;
    bool hasType(const NSPasteboardType& type) const;
    // The first of `types` the item has.
    std::optional<NSPasteboardType> availableType(const std::vector<NSPasteboardType>& types) const;

    void setData(NSPasteboardData data, const NSPasteboardType& type);
    void setString(const std::string& string, const NSPasteboardType& type);
    std::optional<NSPasteboardData> data(const NSPasteboardType& type) const;
    std::optional<std::string> string(const NSPasteboardType& type) const;

    // An item whose `type` is read from `format` of `source` when asked.
    void setPromisedData(const NSPasteboardType& type, QPointer<const QMimeData> source,
                         std::string format);

private:
    struct Entry {
        NSPasteboardType type;
        mutable std::optional<NSPasteboardData> data;
        QPointer<const QMimeData> source;
        std::string format;
    };
    Entry* find(const NSPasteboardType& type);
    const Entry* find(const NSPasteboardType& type) const;

    std::vector<Entry> entries_;
};

} // namespace velmora
