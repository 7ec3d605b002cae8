#include "desktop/NSPasteboard.hpp"

#include <QMimeData>
#include <QUrl>
#include <algorithm>
#include <charconv>

namespace velmora {

namespace {

const QString uriList = QStringLiteral("text/uri-list");

// "<type>#<k>" names type of item k; anything else belongs to item 0.
std::pair<std::string, size_t> splitFormat(const std::string& format) {
    const auto hash = format.rfind('#');
    if (hash == std::string::npos || hash == 0 || hash + 1 == format.size()) {
        return {format, 0};
    }
    size_t index = 0;
    const char* first = format.data() + hash + 1;
    const char* last = format.data() + format.size();
    const auto [end, error] = std::from_chars(first, last, index);
    if (error != std::errc() || end != last || index == 0 || index > 100000) {
        return {format, 0};
    }
    return {format.substr(0, hash), index};
}

std::optional<URL> fileURL(const std::string& text) {
    const QUrl url(QString::fromStdString(text));
    if (!url.isLocalFile()) {
        return std::nullopt;
    }
    return URL::fileURL(url.toLocalFile().toStdString());
}

} // namespace

std::vector<NSPasteboardType> NSPasteboard::types() const {
    std::vector<NSPasteboardType> all;
    for (const auto& item : items_) {
        for (auto& type : item.types()) {
            if (std::find(all.begin(), all.end(), type) == all.end()) {
                all.push_back(std::move(type));
            }
        }
    }
    return all;
}

std::optional<NSPasteboardType>
NSPasteboard::availableType(const std::vector<NSPasteboardType>& types) const {
    for (const auto& type : types) {
        for (const auto& item : items_) {
            if (item.hasType(type)) {
                return type;
            }
        }
    }
    return std::nullopt;
}

std::vector<URL> NSPasteboard::fileURLs() const {
    std::vector<URL> urls;
    for (const auto& item : items_) {
        if (const auto text = item.string(NSPasteboardTypeFileURL)) {
            if (auto url = fileURL(*text)) {
                urls.push_back(std::move(*url));
            }
        }
    }
    return urls;
}

NSPasteboard NSPasteboard::fromMimeData(const QMimeData& data) {
    std::vector<NSPasteboardItem> items;
    const auto itemAt = [&](size_t index) -> NSPasteboardItem& {
        if (items.size() <= index) {
            items.resize(index + 1);
        }
        return items[index];
    };
    const QPointer<const QMimeData> source(&data);
    for (const QString& format : data.formats()) {
        if (format == uriList) {
            continue;
        }
        const auto [type, index] = splitFormat(format.toStdString());
        itemAt(index).setPromisedData(type, source, format.toStdString());
    }
    size_t index = 0;
    for (const QUrl& url : data.urls()) {
        if (url.isLocalFile()) {
            itemAt(index++).setString(url.toString(QUrl::FullyEncoded).toStdString(),
                                      NSPasteboardTypeFileURL);
        }
    }
    return NSPasteboard(std::move(items));
}

std::unique_ptr<QMimeData> NSPasteboard::makeMimeData() const {
    auto mime = std::make_unique<QMimeData>();
    QList<QUrl> urls;
    for (size_t k = 0; k < items_.size(); ++k) {
        const auto& item = items_[k];
        for (const auto& type : item.types()) {
            const auto bytes = item.data(type);
            if (!bytes) {
                continue;
            }
            if (type == NSPasteboardTypeFileURL) {
                urls.append(
                    QUrl(QString::fromStdString(std::string(bytes->begin(), bytes->end()))));
                continue;
            }
            const std::string format = k == 0 ? type : type + "#" + std::to_string(k);
            mime->setData(
                QString::fromStdString(format),
                QByteArray(reinterpret_cast<const char*>(bytes->data()), qsizetype(bytes->size())));
        }
    }
    if (!urls.isEmpty()) {
        mime->setUrls(urls);
    }
    return mime;
}

} // namespace velmora
