#include "coding/KeyedArchiver.hpp"

#include "coding/BinaryPropertyList.hpp"
#include "coding/KeyedArchiveError.hpp"
#include "foundation/FatalError.hpp"

namespace velmora {

KeyedArchiver::KeyedArchiver(bool requiringSecureCoding)
    : requiresSecureCoding_(requiringSecureCoding) {
    // Only UID 0 means nil; a text "$null" is archived as an object of its own.
    objects_.push_back("$null");
}

void KeyedArchiver::requireOpen() const {
    precondition(!finished_, "Encoding into a keyed archiver after it has finished");
}

void KeyedArchiver::encode(bool value, std::string_view key) {
    requireOpen();
    top_.set(std::string(key), value);
}

void KeyedArchiver::encode(std::int64_t value, std::string_view key) {
    requireOpen();
    top_.set(std::string(key), value);
}

void KeyedArchiver::encode(double value, std::string_view key) {
    requireOpen();
    top_.set(std::string(key), value);
}

void KeyedArchiver::encodeObject(PropertyListObject object, std::string_view key) {
    requireOpen();
    const std::size_t count = objects_.size();
    try {
        top_.set(std::string(key), archiveObject(std::move(object), 0));
    } catch (...) {
        // A refused graph leaves nothing behind.
        objects_.resize(count);
        std::erase_if(strings_, [&](const auto& e) { return e.second >= count; });
        std::erase_if(classes_, [&](const auto& e) { return e.second >= count; });
        throw;
    }
}

PropertyListUID KeyedArchiver::classRecord(std::string_view name) {
    const std::string_view chain[] = {name};
    return classRecord(chain);
}

PropertyListUID KeyedArchiver::classRecord(std::span<const std::string_view> classes) {
    auto [it, inserted] = classes_.try_emplace(std::string(classes.front()), objects_.size());
    if (inserted) {
        PropertyListArray chain;
        for (std::string_view name : classes) {
            chain.push_back(name);
        }
        if (classes.back() != "NSObject") {
            chain.push_back("NSObject");
        }
        PropertyListDictionary record;
        record.append("$classname", classes.front());
        record.append("$classes", std::move(chain));
        objects_.push_back(std::move(record));
    }
    return PropertyListUID{it->second};
}

void KeyedArchiver::encodeRecord(std::span<const std::string_view> classes,
                                 PropertyListDictionary fields, std::string_view key) {
    requireOpen();
    if (classes.empty() || classes.front().empty()) {
        throw KeyedArchiveError(KeyedArchiveError::Code::invalidValue,
                                "An archived object needs a class");
    }
    using Kind = PropertyListObject::Kind;
    PropertyListDictionary record;
    for (auto& entry : fields.takeEntries()) {
        const Kind kind = entry.value.kind();
        if (kind != Kind::boolean && kind != Kind::integer && kind != Kind::real &&
            kind != Kind::data) {
            throw KeyedArchiveError(KeyedArchiveError::Code::invalidValue,
                                    "The field \"" + entry.key + "\" of an archived " +
                                        std::string(classes.front()) +
                                        " is not a Boolean, number or data");
        }
        if (entry.key == "$class") {
            throw KeyedArchiveError(KeyedArchiveError::Code::invalidValue,
                                    "An archived object's field cannot be named \"$class\"");
        }
        record.append(std::move(entry.key), std::move(entry.value));
    }
    // The record takes its place before its class record, as the platform's archiver does.
    const std::size_t index = objects_.size();
    objects_.emplace_back();
    record.append("$class", classRecord(classes));
    objects_[index] = std::move(record);
    top_.set(std::string(key), PropertyListUID{index});
}

// Returns the UID that refers to the archived object.
PropertyListObject KeyedArchiver::archiveObject(PropertyListObject&& object, std::size_t depth) {
    if (depth > BinaryPropertyList::maximumDepth) {
        throw KeyedArchiveError(KeyedArchiveError::Code::nestingTooDeep,
                                "The object graph is nested too deeply to be archived");
    }
    using Kind = PropertyListObject::Kind;
    switch (object.kind()) {
    case Kind::null:
        return PropertyListUID{0};
    case Kind::string: {
        auto [it, inserted] = strings_.try_emplace(*object.string(), objects_.size());
        if (inserted) {
            objects_.push_back(std::move(object));
        }
        return PropertyListUID{it->second};
    }
    case Kind::boolean:
    case Kind::integer:
    case Kind::real:
    case Kind::data:
        objects_.push_back(std::move(object));
        return PropertyListUID{objects_.size() - 1};
    case Kind::uid:
        throw KeyedArchiveError(KeyedArchiveError::Code::invalidValue,
                                "A UID cannot be archived as an object");
    default:
        break;
    }
    // Records take their place before their members, as the platform's archiver does.
    const std::size_t index = objects_.size();
    objects_.emplace_back();
    PropertyListDictionary record;
    if (object.kind() == Kind::date) {
        record.append("NS.time", object.date()->secondsSinceReferenceDate);
        record.append("$class", classRecord("NSDate"));
    } else if (object.kind() == Kind::dictionary) {
        PropertyListArray keys;
        PropertyListArray values;
        auto entries = object.dictionary()->takeEntries();
        keys.reserve(entries.size());
        values.reserve(entries.size());
        for (auto& e : entries) {
            keys.push_back(archiveObject(std::move(e.key), depth + 1));
            values.push_back(archiveObject(std::move(e.value), depth + 1));
        }
        record.append("NS.keys", std::move(keys));
        record.append("NS.objects", std::move(values));
        record.append("$class", classRecord("NSDictionary"));
    } else {
        const bool isSet = object.kind() == Kind::set;
        auto& elements = isSet ? object.set()->elements : *object.array();
        PropertyListArray refs;
        refs.reserve(elements.size());
        for (auto& e : elements) {
            refs.push_back(archiveObject(std::move(e), depth + 1));
        }
        record.append("NS.objects", std::move(refs));
        record.append("$class", classRecord(isSet ? "NSSet" : "NSArray"));
    }
    objects_[index] = std::move(record);
    return PropertyListUID{index};
}

void KeyedArchiver::finishEncoding() {
    if (finished_) {
        return;
    }
    finished_ = true;
    PropertyListDictionary root;
    root.append("$version", 100000);
    root.append("$archiver", "NSKeyedArchiver");
    root.append("$top", std::move(top_));
    root.append("$objects", std::move(objects_));
    archive_ = std::move(root);
    strings_.clear();
    classes_.clear();
}

const PropertyListObject& KeyedArchiver::archive() {
    finishEncoding();
    return archive_;
}

std::vector<std::uint8_t> KeyedArchiver::encodedData() {
    return BinaryPropertyList::encode(archive());
}

void KeyedArchiver::write(ByteSink& sink) {
    BinaryPropertyList::write(archive(), sink);
}

void KeyedArchiver::write(ByteSink& sink, const BinaryPropertyList::DataResolver& resolve) {
    BinaryPropertyList::write(archive(), sink, resolve);
}

void KeyedArchiver::writeToFile(const std::filesystem::path& path) {
    BinaryPropertyList::writeFile(archive(), path);
}

} // namespace velmora
