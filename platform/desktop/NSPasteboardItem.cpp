#include "desktop/NSPasteboardItem.hpp"

#include <QMimeData>
#include <algorithm>

namespace velmora {

NSPasteboardItem::Entry* NSPasteboardItem::find(const NSPasteboardType& type) {
    const auto it = std::find_if(entries_.begin(), entries_.end(),
                                 [&](const Entry& e) { return e.type == type; });
    return it == entries_.end() ? nullptr : &*it;
}

const NSPasteboardItem::Entry* NSPasteboardItem::find(const NSPasteboardType& type) const {
    return const_cast<NSPasteboardItem*>(this)->find(type);
}

std::vector<NSPasteboardType> NSPasteboardItem::types() const {
    std::vector<NSPasteboardType> types;
    types.reserve(entries_.size());
    for (const auto& e : entries_) {
        types.push_back(e.type);
    }
    return types;
}

bool NSPasteboardItem::hasType(const NSPasteboardType& type) const {
    return find(type) != nullptr;
}

std::optional<NSPasteboardType>
NSPasteboardItem::availableType(const std::vector<NSPasteboardType>& types) const {
    for (const auto& type : types) {
        if (hasType(type)) {
            return type;
        }
    }
    return std::nullopt;
}

void NSPasteboardItem::setData(NSPasteboardData data, const NSPasteboardType& type) {
    Entry* entry = find(type);
    if (entry == nullptr) {
        entry = &entries_.emplace_back();
        entry->type = type;
    }
    entry->data = std::move(data);
    entry->source = nullptr;
    entry->format.clear();
}

void NSPasteboardItem::setString(const std::string& string, const NSPasteboardType& type) {
    setData(NSPasteboardData(string.begin(), string.end()), type);
}

void NSPasteboardItem::setPromisedData(const NSPasteboardType& type,
                                       QPointer<const QMimeData> source, std::string format) {
    Entry* entry = find(type);
    if (entry == nullptr) {
        entry = &entries_.emplace_back();
        entry->type = type;
    }
    entry->data.reset();
    entry->source = std::move(source);
    entry->format = std::move(format);
}

std::optional<NSPasteboardData> NSPasteboardItem::data(const NSPasteboardType& type) const {
    const Entry* entry = find(type);
    if (entry == nullptr) {
        return std::nullopt;
    }
    if (!entry->data && entry->source != nullptr) {
        const QByteArray bytes = entry->source->data(QString::fromStdString(entry->format));
        entry->data = NSPasteboardData(bytes.begin(), bytes.end());
    }
    return entry->data;
}

std::optional<std::string> NSPasteboardItem::string(const NSPasteboardType& type) const {
    const auto bytes = data(type);
    if (!bytes) {
        return std::nullopt;
    }
    return std::string(bytes->begin(), bytes->end());
}

} // namespace velmora
