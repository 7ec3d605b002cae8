#include "coding/Encoder.hpp"

#include "foundation/FatalError.hpp"

namespace velmora {

Encoder::Encoder(std::shared_ptr<detail::EncodingStorage> storage, detail::SlotPath slot,
                 CodingPath codingPath)
    : storage_(std::move(storage)), slot_(std::move(slot)), codingPath_(std::move(codingPath)) {}

CodedValue& Encoder::slot() const {
    CodedValue* value = &storage_->root;
    for (const std::size_t position : slot_) {
        if (CodedValue::Array* array = value->array()) {
            precondition(position < array->size(), "Encoder slot out of range");
            value = &(*array)[position];
        } else if (CodedDictionary* dictionary = value->dictionary()) {
            precondition(position < dictionary->size(), "Encoder slot out of range");
            value = &dictionary->entryAt(position).second;
        } else {
            fatalError("Encoder slot no longer inside a container");
        }
    }
    return *value;
}

Encoder Encoder::child(std::size_t position, CodingKey key) const {
    detail::SlotPath path = slot_;
    path.push_back(position);
    return Encoder(storage_, std::move(path), appending(codingPath_, std::move(key)));
}

KeyedEncodingContainer Encoder::container() {
    precondition(use_ == Use::none || use_ == Use::keyed,
                 "Attempt to push new keyed encoding container when already previously encoded "
                 "at this path.");
    CodedValue& value = slot();
    if (use_ == Use::none && value.dictionary() == nullptr) {
        value = CodedDictionary();
    }
    use_ = Use::keyed;
    return KeyedEncodingContainer(*this);
}

UnkeyedEncodingContainer Encoder::unkeyedContainer() {
    precondition(use_ == Use::none || use_ == Use::unkeyed,
                 "Attempt to push new unkeyed encoding container when already previously encoded "
                 "at this path.");
    if (use_ == Use::none) {
        slot() = CodedValue::Array();
    }
    use_ = Use::unkeyed;
    return UnkeyedEncodingContainer(*this);
}

SingleValueEncodingContainer Encoder::singleValueContainer() {
    precondition(use_ == Use::none || use_ == Use::single,
                 "Attempt to encode value through single value container when previously value "
                 "already encoded.");
    use_ = Use::single;
    return SingleValueEncodingContainer(*this);
}

std::size_t KeyedEncodingContainer::place(std::string_view key, CodedValue value) {
    CodedDictionary* dictionary = owner_.slot().dictionary();
    precondition(dictionary != nullptr, "Keyed encoding container lost its dictionary");
    return dictionary->set(std::string(key), std::move(value));
}

void KeyedEncodingContainer::encodeNil(std::string_view key) {
    place(key, CodedValue());
}

KeyedEncodingContainer KeyedEncodingContainer::nestedContainer(std::string_view key) {
    Encoder child = owner_.child(place(key, CodedDictionary()), CodingKey(std::string(key)));
    return child.container();
}

UnkeyedEncodingContainer KeyedEncodingContainer::nestedUnkeyedContainer(std::string_view key) {
    Encoder child = owner_.child(place(key, CodedDictionary()), CodingKey(std::string(key)));
    return child.unkeyedContainer();
}

Encoder KeyedEncodingContainer::superEncoder(std::string_view key) {
    return owner_.child(place(key, CodedDictionary()), CodingKey(std::string(key)));
}

std::size_t UnkeyedEncodingContainer::append(CodedValue value) {
    CodedValue::Array* array = owner_.slot().array();
    precondition(array != nullptr, "Unkeyed encoding container lost its array");
    array->push_back(std::move(value));
    return array->size() - 1;
}

std::size_t UnkeyedEncodingContainer::count() const {
    const CodedValue::Array* array = owner_.slot().array();
    return array == nullptr ? 0 : array->size();
}

void UnkeyedEncodingContainer::encodeNil() {
    append(CodedValue());
}

KeyedEncodingContainer UnkeyedEncodingContainer::nestedContainer() {
    const std::size_t position = append(CodedDictionary());
    return owner_.child(position, CodingKey::index(position)).container();
}

UnkeyedEncodingContainer UnkeyedEncodingContainer::nestedUnkeyedContainer() {
    const std::size_t position = append(CodedDictionary());
    return owner_.child(position, CodingKey::index(position)).unkeyedContainer();
}

Encoder UnkeyedEncodingContainer::superEncoder() {
    const std::size_t position = append(CodedDictionary());
    return owner_.child(position, CodingKey::index(position));
}

void SingleValueEncodingContainer::encodeNil() {
    owner_.slot() = CodedValue();
}

} // namespace velmora
