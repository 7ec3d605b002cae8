#include "desktop/NSFilePromiseReceiver.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <string>
#include <unistd.h>

namespace velmora {

namespace {

std::string extensionFor(const NSPasteboardType& type) {
    if (type == "image/jpeg") {
        return "jpg";
    }
    return type.substr(type.find('/') + 1); // png, tiff, gif, bmp
}

void writeAll(int fd, const NSPasteboardData& data, const std::string& path) {
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            throw FilePromiseError("The dropped image could not be written to " + path + ": " +
                                   std::strerror(errno));
        }
        done += size_t(n);
    }
}

// A file of its own, never one that was there: "Dropped Image.png",
// "Dropped Image 2.png", ...
URL writeNewFile(const URL& folder, const NSPasteboardType& type, const NSPasteboardData& data) {
    const std::string extension = extensionFor(type);
    for (int n = 1; n < 10000; ++n) {
        const std::string name =
            "Dropped Image" + (n == 1 ? std::string() : " " + std::to_string(n)) + "." + extension;
        const URL file = folder.appendingPathComponent(name, false);
        const int fd = ::open(file.path().c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0 && errno == EEXIST) {
            continue;
        }
        if (fd < 0) {
            throw FilePromiseError("The dropped image could not be written to " + file.path() +
                                   ": " + std::strerror(errno));
        }
        try {
            writeAll(fd, data, file.path());
        } catch (...) {
            ::close(fd);
            ::unlink(file.path().c_str());
            throw;
        }
        if (::close(fd) != 0) {
            ::unlink(file.path().c_str());
            throw FilePromiseError("The dropped image could not be written to " + file.path());
        }
        return file;
    }
    throw FilePromiseError("The folder " + folder.path() + " has no free name for a dropped image");
}

} // namespace

const std::vector<NSPasteboardType>& NSFilePromiseReceiver::readableDraggedTypes() {
    static const std::vector<NSPasteboardType> types{"image/png", "image/jpeg", "image/tiff",
                                                     "image/gif", "image/bmp"};
    return types;
}

std::shared_ptr<NSFilePromiseReceiver> NSFilePromiseReceiver::make(const NSPasteboardItem& item) {
    if (item.hasType(NSPasteboardTypeFileURL)) {
        return nullptr;
    }
    const auto type = item.availableType(readableDraggedTypes());
    if (!type) {
        return nullptr;
    }
    return std::shared_ptr<NSFilePromiseReceiver>(new NSFilePromiseReceiver(item, *type));
}

void NSFilePromiseReceiver::receivePromisedFiles(const URL& destination, DispatchQueue queue,
                                                 Reader reader) const {
    auto data = std::make_shared<NSPasteboardData>(item_.data(type_).value_or(NSPasteboardData{}));
    DispatchQueue::global(DispatchQoS::userInitiated)
        .async([data, destination, type = type_, queue, reader = std::move(reader)] {
            std::exception_ptr error;
            URL file = destination;
            try {
                file = writeNewFile(destination, type, *data);
            } catch (...) {
                error = std::current_exception();
            }
            queue.async([reader, file, error] { reader(file, error); });
        });
}

} // namespace velmora
