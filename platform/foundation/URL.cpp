#include "foundation/URL.hpp"

#include <system_error>

namespace velmora {

namespace {

std::string withoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

bool isDirectoryOnDisk(const std::string& path) {
    std::error_code error;
    return std::filesystem::is_directory(path, error);
}

bool isAllowedInPath(unsigned char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
        return true;
    }
    switch (c) {
    case '-':
    case '.':
    case '_':
    case '~':
    case '!':
    case '$':
    case '&':
    case '\'':
    case '(':
    case ')':
    case '*':
    case '+':
    case ',':
    case ';':
    case '=':
    case ':':
    case '@':
    case '/':
        return true;
    default:
        return false;
    }
}

} // namespace

URL URL::fileURL(const std::filesystem::path& path, std::optional<bool> isDirectory) {
    std::string text = path.string();
    if (text.empty()) {
        text = ".";
    }
    const bool trailingSlash = text.back() == '/';
    if (text.front() != '/') {
        std::error_code error;
        const auto absolute = std::filesystem::absolute(path, error);
        text = error ? "/" + text : absolute.string();
    }
    std::string clean = withoutTrailingSlashes(text);
    const bool directory = isDirectory.value_or(trailingSlash || isDirectoryOnDisk(clean));
    return URL(std::move(clean), directory);
}

std::string URL::path() const {
    return path_;
}

std::string URL::absoluteString() const {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string out = "file://";
    for (const char ch : path_) {
        const auto c = static_cast<unsigned char>(ch);
        if (isAllowedInPath(c)) {
            out.push_back(ch);
        } else {
            out.push_back('%');
            out.push_back(digits[c >> 4]);
            out.push_back(digits[c & 0x0F]);
        }
    }
    if (isDirectory_ && path_ != "/") {
        out.push_back('/');
    }
    return out;
}

std::string URL::lastPathComponent() const {
    if (path_ == "/") {
        return "/";
    }
    return path_.substr(path_.rfind('/') + 1);
}

std::string URL::pathExtension() const {
    const std::string name = lastPathComponent();
    const auto dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 == name.size()) {
        return {};
    }
    return name.substr(dot + 1);
}

URL URL::deletingLastPathComponent() const {
    if (path_ == "/") {
        return URL("/", true);
    }
    const auto slash = path_.rfind('/');
    return URL(slash == 0 ? "/" : path_.substr(0, slash), true);
}

URL URL::appendingPathComponent(std::string_view component) const {
    if (component.empty() || component.back() == '/') {
        return appendingPathComponent(component, true);
    }
    URL joined = appendingPathComponent(component, false);
    joined.isDirectory_ = isDirectoryOnDisk(joined.path_);
    return joined;
}

URL URL::appendingPathComponent(std::string_view component, bool isDirectory) const {
    // No doubled separators at the seam, whichever side brings one.
    while (!component.empty() && component.front() == '/') {
        component.remove_prefix(1);
    }
    std::string joined = path_;
    if (!component.empty()) {
        if (joined.back() != '/') {
            joined.push_back('/');
        }
        joined.append(component);
    }
    return URL(withoutTrailingSlashes(std::move(joined)), isDirectory || component.empty());
}

} // namespace velmora
