#include "vm/vm.h"

#include <cstdlib>
#include <cstring>

namespace vm {

namespace {

const StringObject* objectOf(Handle string) { return reinterpret_cast<const StringObject*>(string); }

std::uint8_t* newBlock(std::int32_t length, std::size_t elementSize) {
    if (length < 0) length = 0;
    auto* block = static_cast<std::uint8_t*>(
        std::calloc(1, arrayElementsOffset + static_cast<std::size_t>(length) * elementSize));
    if (block != nullptr) std::memcpy(block + arrayLengthOffset, &length, sizeof length);
    return block;
}

}  // namespace

std::int32_t arrayLength(Handle array) {
    std::int32_t length;
    std::memcpy(&length, reinterpret_cast<const std::uint8_t*>(array) + arrayLengthOffset, sizeof length);
    return length;
}

const std::int32_t* intElements(Handle array) {
    return reinterpret_cast<const std::int32_t*>(reinterpret_cast<const std::uint8_t*>(array) + arrayElementsOffset);
}

Handle stringElement(Handle array, std::int32_t index) {
    Handle element;
    std::memcpy(&element,
                reinterpret_cast<const std::uint8_t*>(array) + arrayElementsOffset +
                    static_cast<std::size_t>(index) * sizeof(Handle),
                sizeof element);
    return element;
}

LocalString::LocalString(const char* text) : LocalString(text, text != nullptr ? std::strlen(text) : 0) {}

LocalString::LocalString(const char* bytes, std::size_t length) : object{0, nullptr} {
    if (length > 0x7FFFFFFF) return;
    auto* copy = static_cast<char*>(std::malloc(length + 1));
    if (copy == nullptr) return;
    if (length > 0) std::memcpy(copy, bytes, length);
    copy[length] = '\0';
    object.length = static_cast<std::int32_t>(length);
    object.characters = copy;
}

LocalString::~LocalString() { std::free(const_cast<char*>(object.characters)); }

IntArray::IntArray(std::int32_t length) : block(newBlock(length, sizeof(std::int32_t))) {}
IntArray::~IntArray() { std::free(block); }
std::int32_t* IntArray::elements() { return reinterpret_cast<std::int32_t*>(block + arrayElementsOffset); }
void IntArray::setLengthWord(std::int32_t length) { std::memcpy(block + arrayLengthOffset, &length, sizeof length); }

StringArray::StringArray(const Handle* strings, std::int32_t length) : block(newBlock(length, sizeof(Handle))) {
    if (block != nullptr && length > 0)
        std::memcpy(block + arrayElementsOffset, strings, static_cast<std::size_t>(length) * sizeof(Handle));
}
StringArray::~StringArray() { std::free(block); }

}  // namespace vm

std::int32_t javaStringLength(vm::Handle string) {
    const vm::StringObject* object = vm::objectOf(string);
    return object == nullptr || object->characters == nullptr ? 0 : object->length;
}

char* javaString2CString(vm::Handle string, char* buffer, std::int32_t size) {
    if (buffer == nullptr || size <= 0) return buffer;
    std::int32_t length = javaStringLength(string);
    std::int32_t take = length < size - 1 ? length : size - 1;
    if (take > 0) std::memcpy(buffer, vm::objectOf(string)->characters, static_cast<std::size_t>(take));
    buffer[take] = '\0';
    return buffer;
}
