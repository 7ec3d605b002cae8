#include "TypedCodable/FamilyDecoding.hpp"
#include "TypedCodable/TypedCodable.hpp"
#include "coding/JSONEncoder.hpp"

#include <cstdint>
#include <cstdlib>
#include <string_view>

// JSON text read as a list of tagged objects of a small family with a nested
// group: every input either decodes, and then encodes and decodes again to the
// same text, or fails with a DecodingError.
namespace {

using namespace velmora;

class Node : public TypedCodable {
public:
    std::string name;

protected:
    void encodeBase(Encoder& encoder) const {
        auto c = encoder.container();
        Encoder base = c.superEncoder();
        base.container().encode(name, "name");
    }
    void decodeBase(Decoder& decoder) {
        name = decoder.container().superDecoder().container().decode<std::string>("name");
    }
};

class Leaf : public Node {
public:
    std::vector<float> values;
    std::optional<std::int32_t> tag;

    void typedEncode(Encoder& encoder) const override {
        encodeBase(encoder);
        auto c = encoder.container();
        c.encode(values, "values");
        c.encodeIfPresent(tag, "tag");
    }
    static std::shared_ptr<Leaf> decode(Decoder& decoder) {
        auto leaf = std::make_shared<Leaf>();
        leaf->decodeBase(decoder);
        const auto c = decoder.container();
        leaf->values = c.decode<std::vector<float>>("values");
        leaf->tag = c.decodeIfPresent<std::int32_t>("tag");
        return leaf;
    }
};

struct NodeFamily;

class Branch : public Node {
public:
    std::vector<std::shared_ptr<Node>> children;

    void typedEncode(Encoder& encoder) const override {
        encodeBase(encoder);
        encoder.container().encode(children, "children");
    }
    static std::shared_ptr<Branch> decode(Decoder& decoder);
};

class Note : public TypedCodable {
public:
    void typedEncode(Encoder&) const override {}
    static std::shared_ptr<Note> decode(Decoder&) { return std::make_shared<Note>(); }
};

struct NodeFamily {
    enum class Case { leaf, branch, note } value;
    static Discriminator discriminator() { return Discriminator::type; }
    static std::optional<NodeFamily> fromRawValue(std::string_view text) {
        if (text == "Leaf") {
            return NodeFamily{Case::leaf};
        }
        if (text == "Branch") {
            return NodeFamily{Case::branch};
        }
        if (text == "Note") {
            return NodeFamily{Case::note};
        }
        return std::nullopt;
    }
    static NodeFamily decode(Decoder& decoder) {
        return decodeFamilyFromRawValue<NodeFamily>(decoder);
    }
    template <class V> void withType(V&& visitor) const {
        switch (value) {
        case Case::leaf:
            return visitor(ClassTag<Leaf>{});
        case Case::branch:
            return visitor(ClassTag<Branch>{});
        case Case::note:
            return visitor(ClassTag<Note>{});
        }
    }
};

std::shared_ptr<Branch> Branch::decode(Decoder& decoder) {
    auto branch = std::make_shared<Branch>();
    branch->decodeBase(decoder);
    branch->children = decodeFamily<NodeFamily, Node>(decoder.container(), "children");
    return branch;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<std::shared_ptr<Node>> nodes;
    try {
        nodes = decodeFamily<NodeFamily, Node>(JSONDecoder{}, text);
    } catch (const DecodingError&) {
        return 0;
    }
    const std::string once = JSONEncoder{}.encode(nodes);
    const std::string twice =
        JSONEncoder{}.encode(decodeFamily<NodeFamily, Node>(JSONDecoder{}, once));
    if (once != twice) {
        std::abort();
    }
    return 0;
}
