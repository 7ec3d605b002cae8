#include "coding/KeyedUnarchiver.hpp"

#include "coding/BinaryPropertyList.hpp"
#include "coding/KeyedArchiveError.hpp"

#include <algorithm>

namespace velmora {

namespace {

using Code = KeyedArchiveError::Code;
using Kind = PropertyListObject::Kind;

[[noreturn]] void fail(Code code, const std::string& message) {
    throw KeyedArchiveError(code, message);
}

PropertyListObject readArchive(auto&& decode) {
    try {
        return decode();
    } catch (const PropertyListError& e) {
        fail(Code::notAnArchive, std::string("The data is not a keyed archive: ") + e.what());
    }
}

// Counts nodes and text bytes, the measure of the budgets that stop shared
// references from expanding without bound.
void measure(const PropertyListObject& o, std::uint64_t& nodes, std::uint64_t& text) {
    ++nodes;
    if (const auto* s = o.string()) {
        text += s->size();
    } else if (const auto* a = o.array()) {
        for (const auto& e : *a) {
            measure(e, nodes, text);
        }
    } else if (const auto* set = o.set()) {
        for (const auto& e : set->elements) {
            measure(e, nodes, text);
        }
    } else if (const auto* d = o.dictionary()) {
        for (const auto& e : d->entries()) {
            text += e.key.size();
            measure(e.value, nodes, text);
        }
    }
}

// What a record's class is built as, and the class it derives from.
struct ClassInfo {
    std::string_view name;
    std::string_view base;
};

constexpr ClassInfo knownClasses[] = {
    {"NSDictionary", "NSDictionary"},
    {"NSMutableDictionary", "NSDictionary"},
    {"NSArray", "NSArray"},
    {"NSMutableArray", "NSArray"},
    {"NSSet", "NSSet"},
    {"NSMutableSet", "NSSet"},
    {"NSString", "NSString"},
    {"NSMutableString", "NSString"},
    {"NSData", "NSData"},
    {"NSMutableData", "NSData"},
    {"NSDate", "NSDate"},
    {"NSNull", "NSNull"},
};

constexpr std::string_view plistClasses[] = {"NSDictionary", "NSArray", "NSSet",  "NSString",
                                             "NSNumber",     "NSData",  "NSDate", "NSNull"};

} // namespace

class KeyedUnarchiver::Resolver {
public:
    Resolver(const KeyedUnarchiver& owner, std::span<const std::string_view> allowed,
             std::string_view key)
        : owner_(owner), allowed_(allowed), key_(key), nodeBudget_(owner.nodeCount_ + 1024),
          textBudget_(2 * owner.textBytes_ + 64 * owner.nodeCount_ + (std::uint64_t(1) << 20)),
          inProgress_(owner.objects().size(), false) {}

    PropertyListObject resolve(const PropertyListObject& reference, std::size_t depth) {
        const PropertyListUID* uid = reference.uid();
        if (uid == nullptr) {
            fail(Code::corrupt, "The archive holds a " + std::string(describe(reference.kind())) +
                                    " where an object reference belongs");
        }
        return resolve(uid->value, depth);
    }

private:
    PropertyListObject resolve(std::uint64_t uid, std::size_t depth) {
        if (depth > BinaryPropertyList::maximumDepth) {
            fail(Code::nestingTooDeep, "The archive's objects are nested too deeply");
        }
        if (uid == 0) {
            return PropertyListObject();
        }
        const PropertyListArray& objects = owner_.objects();
        if (uid >= objects.size()) {
            fail(Code::corrupt, "An object reference of the archive names no object");
        }
        if (inProgress_[uid]) {
            fail(Code::cycle, "An object of the archive contains itself");
        }
        spend(1, 0);
        const PropertyListObject& o = objects[uid];
        switch (o.kind()) {
        case Kind::string:
            check("NSString", "NSString");
            spend(0, o.string()->size());
            return o;
        case Kind::integer:
        case Kind::real:
        case Kind::boolean:
            check("NSNumber", "NSNumber");
            return o;
        case Kind::data:
            check("NSData", "NSData");
            return o;
        case Kind::dictionary:
            break;
        default:
            fail(Code::corrupt,
                 "The archive holds a " + std::string(describe(o.kind())) + " among its objects");
        }
        inProgress_[uid] = true;
        PropertyListObject result = record(*o.dictionary(), depth);
        inProgress_[uid] = false;
        return result;
    }

    PropertyListObject record(const PropertyListDictionary& record, std::size_t depth) {
        const PropertyListObject* classRef = record.find("$class");
        if (classRef == nullptr || classRef->uid() == nullptr ||
            classRef->uid()->value >= owner_.objects().size()) {
            fail(Code::corrupt, "An object record of the archive has no class");
        }
        const auto* classRecord = (owner_.objects())[classRef->uid()->value].dictionary();
        const PropertyListObject* nameObject =
            classRecord != nullptr ? classRecord->find("$classname") : nullptr;
        if (nameObject == nullptr || nameObject->string() == nullptr) {
            fail(Code::corrupt, "A class record of the archive has no class name");
        }
        const std::string& name = *nameObject->string();
        const auto info = std::find_if(std::begin(knownClasses), std::end(knownClasses),
                                       [&](const ClassInfo& c) { return c.name == name; });
        if (info == std::end(knownClasses)) {
            if (owner_.requiresSecureCoding_ && !allows(name, name)) {
                notAllowed(name);
            }
            fail(Code::unsupportedClass, "The archive holds an object of class \"" + name +
                                             "\", which cannot be decoded here");
        }
        check(info->name, info->base);
        if (info->base == "NSDictionary") {
            const PropertyListArray& keys = members(record, "NS.keys");
            const PropertyListArray& values = members(record, "NS.objects");
            if (keys.size() != values.size()) {
                fail(Code::corrupt, "A dictionary of the archive has as many keys as values");
            }
            PropertyListDictionary out;
            out.reserve(keys.size());
            for (std::size_t i = 0; i < keys.size(); ++i) {
                PropertyListObject key = resolve(keys[i], depth + 1);
                if (key.string() == nullptr) {
                    fail(Code::unsupportedClass, "A dictionary of the archive has a key that is "
                                                 "not a string");
                }
                if (out.contains(*key.string())) {
                    fail(Code::corrupt, "A dictionary of the archive repeats a key");
                }
                out.append(std::move(*key.string()), resolve(values[i], depth + 1));
            }
            return out;
        }
        if (info->base == "NSArray" || info->base == "NSSet") {
            const PropertyListArray& refs = members(record, "NS.objects");
            PropertyListArray out;
            out.reserve(refs.size());
            for (const auto& ref : refs) {
                out.push_back(resolve(ref, depth + 1));
            }
            if (info->base == "NSSet") {
                return PropertyListSet{std::move(out)};
            }
            return out;
        }
        if (info->base == "NSString") {
            const PropertyListObject* s = record.find("NS.string");
            if (s == nullptr || s->string() == nullptr) {
                fail(Code::corrupt, "A string record of the archive has no text");
            }
            spend(0, s->string()->size());
            return *s;
        }
        if (info->base == "NSData") {
            const PropertyListObject* d = record.find("NS.data");
            if (d == nullptr || d->data() == nullptr) {
                fail(Code::corrupt, "A data record of the archive has no bytes");
            }
            return *d;
        }
        if (info->base == "NSDate") {
            const PropertyListObject* t = record.find("NS.time");
            if (t != nullptr && t->real() != nullptr) {
                return PropertyListDate{t->real()->value};
            }
            if (t != nullptr && t->integer() != nullptr && t->integer()->int64Value()) {
                return PropertyListDate{static_cast<double>(*t->integer()->int64Value())};
            }
            fail(Code::corrupt, "A date record of the archive has no time");
        }
        return PropertyListObject(); // NSNull
    }

    const PropertyListArray& members(const PropertyListDictionary& record, std::string_view key) {
        const PropertyListObject* m = record.find(key);
        if (m == nullptr || m->array() == nullptr) {
            fail(Code::corrupt,
                 "A collection record of the archive has no \"" + std::string(key) + "\" array");
        }
        return *m->array();
    }

    bool allows(std::string_view name, std::string_view base) const {
        return std::any_of(allowed_.begin(), allowed_.end(), [&](std::string_view a) {
            return a == name || a == base || a == "NSObject";
        });
    }

    void check(std::string_view name, std::string_view base) const {
        if (owner_.requiresSecureCoding_ && !allows(name, base)) {
            notAllowed(name);
        }
    }

    [[noreturn]] void notAllowed(std::string_view name) const {
        fail(Code::classNotAllowed, "The value for key \"" + std::string(key_) +
                                        "\" was of unexpected class \"" + std::string(name) + "\"");
    }

    void spend(std::uint64_t nodes, std::uint64_t text) {
        if (nodes > nodeBudget_ || text > textBudget_) {
            fail(Code::tooLarge, "The archive's objects expand beyond their own size");
        }
        nodeBudget_ -= nodes;
        textBudget_ -= text;
    }

    const KeyedUnarchiver& owner_;
    std::span<const std::string_view> allowed_;
    std::string_view key_;
    std::uint64_t nodeBudget_;
    std::uint64_t textBudget_;
    std::vector<bool> inProgress_;
};

KeyedUnarchiver::KeyedUnarchiver(std::span<const std::uint8_t> data)
    : KeyedUnarchiver(readArchive([&] { return BinaryPropertyList::decode(data); })) {}

KeyedUnarchiver::KeyedUnarchiver(const SharedBytes& data)
    : KeyedUnarchiver(readArchive([&] { return BinaryPropertyList::decode(data); })) {}

KeyedUnarchiver KeyedUnarchiver::readingFile(const std::filesystem::path& path) {
    try {
        return KeyedUnarchiver(BinaryPropertyList::readFile(path));
    } catch (const PropertyListError& e) {
        if (e.code() == PropertyListError::Code::fileError) {
            throw;
        }
        fail(Code::notAnArchive, std::string("The file is not a keyed archive: ") + e.what());
    }
}

KeyedUnarchiver::KeyedUnarchiver(PropertyListObject archive) : archive_(std::move(archive)) {
    const PropertyListDictionary* root = archive_.dictionary();
    if (root == nullptr) {
        fail(Code::notAnArchive, "The archive is not a dictionary");
    }
    const PropertyListObject* archiver = root->find("$archiver");
    const PropertyListObject* version = root->find("$version");
    if (archiver == nullptr || archiver->string() == nullptr ||
        *archiver->string() != "NSKeyedArchiver") {
        fail(Code::notAnArchive, "The archive does not name the keyed archiver as its writer");
    }
    if (version == nullptr || version->integer() == nullptr ||
        version->integer()->int64Value() != 100000) {
        fail(Code::notAnArchive, "The archive's version is not 100000");
    }
    const PropertyListObject* top = root->find("$top");
    if (top == nullptr || top->dictionary() == nullptr) {
        fail(Code::notAnArchive, "The archive has no \"$top\" dictionary");
    }
    const PropertyListObject* objects = root->find("$objects");
    if (objects == nullptr || objects->array() == nullptr) {
        fail(Code::notAnArchive, "The archive has no \"$objects\" array");
    }
    measure(*objects, nodeCount_, textBytes_);
}

void KeyedUnarchiver::failWithError(std::exception_ptr error) {
    if (!error_) {
        error_ = std::move(error);
    }
}

// Both were checked on opening.
const PropertyListObject* KeyedUnarchiver::topValue(std::string_view key) const {
    return archive_.dictionary()->find("$top")->dictionary()->find(key);
}

const PropertyListArray& KeyedUnarchiver::objects() const {
    return *archive_.dictionary()->find("$objects")->array();
}

bool KeyedUnarchiver::containsValue(std::string_view key) const {
    return topValue(key) != nullptr;
}

bool KeyedUnarchiver::decodeBool(std::string_view key) {
    const PropertyListObject* v = topValue(key);
    if (error_ || v == nullptr) {
        return false;
    }
    if (v->boolean() != nullptr) {
        return *v->boolean();
    }
    if (v->integer() != nullptr) {
        return v->integer()->bits() != 0;
    }
    failWithError(std::make_exception_ptr(KeyedArchiveError(
        Code::corrupt, "The value for key \"" + std::string(key) + "\" is not a boolean")));
    return false;
}

std::int64_t KeyedUnarchiver::decodeInt64(std::string_view key) {
    const PropertyListObject* v = topValue(key);
    if (error_ || v == nullptr) {
        return 0;
    }
    if (v->integer() != nullptr && v->integer()->int64Value()) {
        return *v->integer()->int64Value();
    }
    if (v->boolean() != nullptr) {
        return *v->boolean() ? 1 : 0;
    }
    failWithError(std::make_exception_ptr(KeyedArchiveError(
        Code::corrupt, "The value for key \"" + std::string(key) + "\" is not a 64-bit integer")));
    return 0;
}

double KeyedUnarchiver::decodeDouble(std::string_view key) {
    const PropertyListObject* v = topValue(key);
    if (error_ || v == nullptr) {
        return 0;
    }
    if (v->real() != nullptr) {
        return v->real()->value;
    }
    if (v->integer() != nullptr) {
        return v->integer()->isLargeUnsigned()
                   ? static_cast<double>(v->integer()->bits())
                   : static_cast<double>(static_cast<std::int64_t>(v->integer()->bits()));
    }
    failWithError(std::make_exception_ptr(KeyedArchiveError(
        Code::corrupt, "The value for key \"" + std::string(key) + "\" is not a number")));
    return 0;
}

std::optional<PropertyListObject>
KeyedUnarchiver::decodeObject(std::span<const std::string_view> classes, std::string_view key) {
    const PropertyListObject* v = topValue(key);
    if (error_ || v == nullptr) {
        return std::nullopt;
    }
    try {
        PropertyListObject object = Resolver(*this, classes, key).resolve(*v, 0);
        if (object.isNull()) {
            return std::nullopt;
        }
        return object;
    } catch (const KeyedArchiveError&) {
        failWithError(std::current_exception());
        return std::nullopt;
    }
}

std::optional<PropertyListObject> KeyedUnarchiver::decodeObject(std::string_view key) {
    if (requiresSecureCoding_) {
        failWithError(std::make_exception_ptr(KeyedArchiveError(
            Code::classNotAllowed, "Decoding the value for key \"" + std::string(key) +
                                       "\" without naming its classes breaks secure coding")));
        return std::nullopt;
    }
    static constexpr std::string_view any[] = {"NSObject"};
    return decodeObject(any, key);
}

std::optional<PropertyListDictionary> KeyedUnarchiver::decodeRecord(std::string_view className,
                                                                    std::string_view key) {
    const PropertyListObject* v = topValue(key);
    if (error_ || v == nullptr) {
        return std::nullopt;
    }
    const auto refuse = [&](Code code, const std::string& message) {
        failWithError(std::make_exception_ptr(KeyedArchiveError(code, message)));
        return std::nullopt;
    };
    const PropertyListUID* uid = v->uid();
    if (uid == nullptr || uid->value >= objects().size()) {
        return refuse(Code::corrupt,
                      "The value for key \"" + std::string(key) + "\" is no object reference");
    }
    if (uid->value == 0) {
        return std::nullopt;
    }
    const PropertyListDictionary* record = objects()[uid->value].dictionary();
    const PropertyListObject* classRef = record != nullptr ? record->find("$class") : nullptr;
    if (classRef == nullptr || classRef->uid() == nullptr ||
        classRef->uid()->value >= objects().size() ||
        objects()[classRef->uid()->value].dictionary() == nullptr) {
        return refuse(Code::corrupt,
                      "The value for key \"" + std::string(key) + "\" is no object record");
    }
    const PropertyListDictionary& classRecord = *objects()[classRef->uid()->value].dictionary();
    const PropertyListObject* name = classRecord.find("$classname");
    const PropertyListObject* chain = classRecord.find("$classes");
    bool matches = name != nullptr && name->string() != nullptr && *name->string() == className;
    if (!matches && chain != nullptr && chain->array() != nullptr) {
        for (const PropertyListObject& entry : *chain->array()) {
            matches = matches || (entry.string() != nullptr && *entry.string() == className);
        }
    }
    if (!matches) {
        return refuse(Code::classNotAllowed,
                      "The value for key \"" + std::string(key) + "\" was of unexpected class \"" +
                          (name != nullptr && name->string() != nullptr ? *name->string()
                                                                        : std::string("?")) +
                          "\"");
    }
    PropertyListDictionary fields;
    for (const auto& entry : record->entries()) {
        if (entry.key != "$class") {
            fields.append(entry.key, entry.value);
        }
    }
    return fields;
}

std::span<const std::string_view> KeyedUnarchiver::propertyListClasses() {
    return plistClasses;
}

} // namespace velmora
