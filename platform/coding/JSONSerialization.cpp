#include "coding/JSONSerialization.hpp"

#include "coding/Base64.hpp"
#include "coding/DecodingError.hpp"
#include "coding/EncodingError.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <nlohmann/json.hpp>
#include <optional>
#include <type_traits>
#include <vector>

namespace velmora {

namespace {

bool isValidUTF8(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        std::size_t length = 0;
        std::uint32_t code = 0;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            length = 2;
            code = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            length = 3;
            code = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            length = 4;
            code = c & 0x07;
        } else {
            return false;
        }
        if (i + length > s.size()) {
            return false;
        }
        for (std::size_t k = 1; k < length; ++k) {
            const auto d = static_cast<unsigned char>(s[i + k]);
            if ((d & 0xC0) != 0x80) {
                return false;
            }
            code = (code << 6) | (d & 0x3F);
        }
        const bool overlong = (length == 2 && code < 0x80) || (length == 3 && code < 0x800) ||
                              (length == 4 && code < 0x10000);
        if (overlong || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
            return false;
        }
        i += length;
    }
    return true;
}

class Writer {
public:
    Writer(const JSONWritingOptions& options, std::size_t maximumDepth)
        : options_(options), maximumDepth_(maximumDepth) {}

    std::string finish(const CodedValue& value) {
        write(value, 0);
        return std::move(out_);
    }

private:
    [[noreturn]] void refuse(std::string value, std::string why) {
        throw EncodingError::invalidValue(std::move(value), {path_, std::move(why)});
    }

    void newline(std::size_t depth) {
        if (options_.prettyPrinted) {
            out_ += '\n';
            out_.append(depth * 2, ' ');
        }
    }

    template <class F> void writeNumber(F v, const char* typeName) {
        if (!std::isfinite(v)) {
            const std::string text = std::isnan(v) ? "nan" : (v < 0 ? "-inf" : "inf");
            refuse(text,
                   std::string("Unable to encode ") + typeName + " " + text + " directly in JSON.");
        }
        if (v == 0 && std::signbit(v)) {
            out_ += "-0.0"; // "-0" would read back as the integer 0
            return;
        }
        char buffer[64];
        auto r = std::to_chars(buffer, buffer + sizeof buffer, v);
        if constexpr (std::is_same_v<F, float>) {
            // Readers (ours too) parse numbers as doubles. For one float in four
            // billion the shortest text rounds twice to a neighbour; write the
            // float's exact double text then.
            double parsed = 0;
            std::from_chars(buffer, r.ptr, parsed);
            if (static_cast<float>(parsed) != v) {
                r = std::to_chars(buffer, buffer + sizeof buffer, static_cast<double>(v));
            }
        }
        out_.append(buffer, r.ptr);
    }

    template <class I> void writeInteger(I v) {
        char buffer[32];
        const auto r = std::to_chars(buffer, buffer + sizeof buffer, v);
        out_.append(buffer, r.ptr);
    }

    void writeText(std::string_view s) {
        if (!isValidUTF8(s)) {
            refuse("String", "String is not valid UTF-8.");
        }
        static constexpr char hex[] = "0123456789abcdef";
        out_ += '"';
        for (const char ch : s) {
            const auto c = static_cast<unsigned char>(ch);
            switch (c) {
            case '"':
                out_ += "\\\"";
                break;
            case '\\':
                out_ += "\\\\";
                break;
            case '\n':
                out_ += "\\n";
                break;
            case '\r':
                out_ += "\\r";
                break;
            case '\t':
                out_ += "\\t";
                break;
            case '\b':
                out_ += "\\b";
                break;
            case '\f':
                out_ += "\\f";
                break;
            default:
                if (c < 0x20) {
                    out_ += "\\u00";
                    out_ += hex[c >> 4];
                    out_ += hex[c & 15];
                } else {
                    out_ += ch;
                }
            }
        }
        out_ += '"';
    }

    void write(const CodedValue& value, std::size_t depth) {
        switch (value.kind()) {
        case CodedValue::Kind::null:
            out_ += "null";
            return;
        case CodedValue::Kind::boolean:
            out_ += *value.boolean() ? "true" : "false";
            return;
        case CodedValue::Kind::integer:
            writeInteger(*value.integer());
            return;
        case CodedValue::Kind::unsignedInteger:
            writeInteger(*value.unsignedInteger());
            return;
        case CodedValue::Kind::float32:
            writeNumber(*value.float32(), "Float");
            return;
        case CodedValue::Kind::float64:
            writeNumber(*value.float64(), "Double");
            return;
        case CodedValue::Kind::text:
            writeText(*value.text());
            return;
        case CodedValue::Kind::data:
            out_ += '"';
            out_ += base64Encode(value.bytes());
            out_ += '"';
            return;
        case CodedValue::Kind::array:
            writeArray(*value.array(), depth);
            return;
        case CodedValue::Kind::dictionary:
            writeDictionary(*value.dictionary(), depth);
            return;
        }
    }

    void enter(std::size_t depth) {
        if (depth + 1 > maximumDepth_) {
            refuse("nesting", "Value is nested too deeply for JSON.");
        }
    }

    void writeArray(const CodedValue::Array& array, std::size_t depth) {
        enter(depth);
        if (array.empty()) {
            out_ += "[]";
            return;
        }
        out_ += '[';
        for (std::size_t i = 0; i < array.size(); ++i) {
            if (i > 0) {
                out_ += ',';
            }
            newline(depth + 1);
            path_.push_back(CodingKey::index(i));
            write(array[i], depth + 1);
            path_.pop_back();
        }
        newline(depth);
        out_ += ']';
    }

    void writeDictionary(const CodedDictionary& dictionary, std::size_t depth) {
        enter(depth);
        if (dictionary.empty()) {
            out_ += "{}";
            return;
        }
        std::vector<const CodedDictionary::Entry*> entries;
        entries.reserve(dictionary.size());
        for (const auto& entry : dictionary) {
            entries.push_back(&entry);
        }
        if (options_.sortedKeys) {
            std::sort(entries.begin(), entries.end(),
                      [](const auto* a, const auto* b) { return a->first < b->first; });
        }
        out_ += '{';
        bool first = true;
        for (const auto* entry : entries) {
            if (!first) {
                out_ += ',';
            }
            first = false;
            newline(depth + 1);
            path_.push_back(CodingKey(entry->first));
            writeText(entry->first);
            out_ += options_.prettyPrinted ? " : " : ":";
            write(entry->second, depth + 1);
            path_.pop_back();
        }
        newline(depth);
        out_ += '}';
    }

    const JSONWritingOptions& options_;
    std::size_t maximumDepth_;
    std::string out_;
    CodingPath path_;
};

// Builds the tree from parser events; refuses nesting beyond the limit
// before it is allocated.
class TreeBuilder : public nlohmann::json_sax<nlohmann::json> {
public:
    explicit TreeBuilder(std::size_t maximumDepth) : maximumDepth_(maximumDepth) {}

    bool null() override { return add(CodedValue()); }
    bool boolean(bool v) override { return add(CodedValue(v)); }
    bool number_integer(number_integer_t v) override { return add(CodedValue(std::int64_t(v))); }
    bool number_unsigned(number_unsigned_t v) override { return add(CodedValue(std::uint64_t(v))); }
    bool number_float(number_float_t v, const string_t&) override {
        if (!std::isfinite(v)) {
            problem_ = "Number is out of range.";
            return false;
        }
        return add(CodedValue(double(v)));
    }
    bool string(string_t& v) override { return add(CodedValue(std::move(v))); }
    bool binary(binary_t&) override {
        problem_ = "Unexpected binary value.";
        return false;
    }
    bool start_object(std::size_t) override { return open(CodedDictionary()); }
    bool key(string_t& v) override {
        stack_.back().key = std::move(v);
        return true;
    }
    bool end_object() override { return close(); }
    bool start_array(std::size_t) override { return open(CodedValue::Array()); }
    bool end_array() override { return close(); }
    bool parse_error(std::size_t position, const std::string&,
                     const nlohmann::detail::exception& error) override {
        problem_ = "Error at byte " + std::to_string(position) + ": " + error.what();
        return false;
    }

    std::optional<CodedValue> root;
    std::string problem_;

private:
    struct Frame {
        CodedValue value;
        std::string key;
    };

    bool add(CodedValue value) {
        if (stack_.empty()) {
            root = std::move(value);
            return true;
        }
        Frame& top = stack_.back();
        if (CodedDictionary* dictionary = top.value.dictionary()) {
            dictionary->set(std::move(top.key), std::move(value));
        } else {
            top.value.array()->push_back(std::move(value));
        }
        return true;
    }

    bool open(CodedValue container) {
        if (stack_.size() >= maximumDepth_) {
            problem_ = "Nesting is deeper than " + std::to_string(maximumDepth_) + " levels.";
            return false;
        }
        stack_.push_back(Frame{std::move(container), {}});
        return true;
    }

    bool close() {
        CodedValue value = std::move(stack_.back().value);
        stack_.pop_back();
        return add(std::move(value));
    }

    std::size_t maximumDepth_;
    std::vector<Frame> stack_;
};

[[noreturn]] void invalidJSON(const std::string& detail) {
    throw DecodingError::dataCorrupted(
        {{}, "The given data was not valid JSON." + (detail.empty() ? "" : " " + detail)});
}

} // namespace

std::string JSONSerialization::write(const CodedValue& value, const JSONWritingOptions& options) {
    return Writer(options, JSONReadingLimits{}.maximumDepth).finish(value);
}

CodedValue JSONSerialization::read(std::string_view text, const JSONReadingLimits& limits) {
    if (text.size() > limits.maximumLength) {
        invalidJSON("Input of " + std::to_string(text.size()) + " bytes exceeds the limit of " +
                    std::to_string(limits.maximumLength) + " bytes.");
    }
    TreeBuilder builder(limits.maximumDepth);
    bool ok = false;
    try {
        ok = nlohmann::json::sax_parse(text.begin(), text.end(), &builder,
                                       nlohmann::json::input_format_t::json, true, false);
    } catch (const nlohmann::json::exception& error) {
        invalidJSON(error.what());
    }
    if (!ok || !builder.root) {
        invalidJSON(builder.problem_);
    }
    return std::move(*builder.root);
}

} // namespace velmora
