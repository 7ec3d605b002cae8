#include "coding/Decoder.hpp"

namespace velmora {

namespace {
const CodedValue& nullValue() {
    static const CodedValue value;
    return value;
}
} // namespace

Decoder Decoder::child(const CodedValue& value, CodingKey key) const {
    return Decoder(storage_, &value, appending(codingPath_, std::move(key)));
}

KeyedDecodingContainer Decoder::container() const {
    if (value_->isNull()) {
        throw DecodingError::valueNotFound(
            "Dictionary", {codingPath_, "Cannot get keyed decoding container -- found null value "
                                        "instead."});
    }
    const CodedDictionary* dictionary = value_->dictionary();
    if (dictionary == nullptr) {
        throw DecodingError::typeMismatch(
            "Dictionary",
            {codingPath_, "Expected to decode a dictionary but found " +
                              std::string(CodedValue::describe(value_->kind())) + " instead."});
    }
    return KeyedDecodingContainer(*this, dictionary);
}

UnkeyedDecodingContainer Decoder::unkeyedContainer() const {
    if (value_->isNull()) {
        throw DecodingError::valueNotFound(
            "Array", {codingPath_, "Cannot get unkeyed decoding container -- found null value "
                                   "instead."});
    }
    const CodedValue::Array* array = value_->array();
    if (array == nullptr) {
        throw DecodingError::typeMismatch(
            "Array",
            {codingPath_, "Expected to decode an array but found " +
                              std::string(CodedValue::describe(value_->kind())) + " instead."});
    }
    return UnkeyedDecodingContainer(*this, array);
}

SingleValueDecodingContainer Decoder::singleValueContainer() const {
    return SingleValueDecodingContainer(*this);
}

std::vector<std::string> KeyedDecodingContainer::allKeys() const {
    std::vector<std::string> keys;
    keys.reserve(dictionary_->size());
    for (const auto& entry : *dictionary_) {
        keys.push_back(entry.first);
    }
    return keys;
}

bool KeyedDecodingContainer::contains(std::string_view key) const {
    return dictionary_->contains(key);
}

const CodedValue& KeyedDecodingContainer::require(std::string_view key) const {
    const CodedValue* value = dictionary_->find(key);
    if (value == nullptr) {
        throw DecodingError::keyNotFound(
            CodingKey(std::string(key)),
            {codingPath(), "No value associated with key \"" + std::string(key) + "\"."});
    }
    return *value;
}

bool KeyedDecodingContainer::decodeNil(std::string_view key) const {
    return require(key).isNull();
}

KeyedDecodingContainer KeyedDecodingContainer::nestedContainer(std::string_view key) const {
    return owner_.child(require(key), CodingKey(std::string(key))).container();
}

UnkeyedDecodingContainer
KeyedDecodingContainer::nestedUnkeyedContainer(std::string_view key) const {
    return owner_.child(require(key), CodingKey(std::string(key))).unkeyedContainer();
}

Decoder KeyedDecodingContainer::superDecoder(std::string_view key) const {
    const CodedValue* value = dictionary_->find(key);
    return owner_.child(value != nullptr ? *value : nullValue(), CodingKey(std::string(key)));
}

DecodingError KeyedDecodingContainer::dataCorruptedError(std::string_view key,
                                                         std::string debugDescription) const {
    return DecodingError::dataCorrupted(
        {appending(codingPath(), CodingKey(std::string(key))), std::move(debugDescription)});
}

const CodedValue& UnkeyedDecodingContainer::current(std::string_view typeName) const {
    if (isAtEnd()) {
        throw DecodingError::valueNotFound(
            std::string(typeName), {appending(codingPath(), CodingKey::index(currentIndex_)),
                                    "Unkeyed container is at end."});
    }
    return (*array_)[currentIndex_];
}

bool UnkeyedDecodingContainer::decodeNil() {
    if (current("Optional").isNull()) {
        ++currentIndex_;
        return true;
    }
    return false;
}

void UnkeyedDecodingContainer::skip() {
    current("Any");
    ++currentIndex_;
}

KeyedDecodingContainer UnkeyedDecodingContainer::nestedContainer() {
    const CodedValue& value = current("Dictionary");
    KeyedDecodingContainer out = owner_.child(value, CodingKey::index(currentIndex_)).container();
    ++currentIndex_;
    return out;
}

UnkeyedDecodingContainer UnkeyedDecodingContainer::nestedUnkeyedContainer() {
    const CodedValue& value = current("Array");
    UnkeyedDecodingContainer out =
        owner_.child(value, CodingKey::index(currentIndex_)).unkeyedContainer();
    ++currentIndex_;
    return out;
}

Decoder UnkeyedDecodingContainer::superDecoder() {
    const CodedValue& value = current("Decoder");
    Decoder out = owner_.child(value, CodingKey::index(currentIndex_));
    ++currentIndex_;
    return out;
}

DecodingError UnkeyedDecodingContainer::dataCorruptedError(std::string debugDescription) const {
    return DecodingError::dataCorrupted(
        {appending(codingPath(), CodingKey::index(currentIndex_)), std::move(debugDescription)});
}

DecodingError SingleValueDecodingContainer::dataCorruptedError(std::string debugDescription) const {
    return DecodingError::dataCorrupted({codingPath(), std::move(debugDescription)});
}

} // namespace velmora
