// What the native methods see of the Java VM: string objects and array
// blocks, reached through handles, and the VM's two string services.
//
// A handle is the VM's machine word. A string's characters are the bytes of
// the platform's narrow encoding (UTF-8 here), one byte per character as the
// native methods count them. An array block is laid out as
//   offset 0: reserved 32-bit word, never read
//   offset 4: signed 32-bit length (number of elements)
//   offset 8: the elements: signed 32-bit integers, or string handles
#pragma once

#include <cstddef>
#include <cstdint>

namespace vm {

using Handle = std::intptr_t;

constexpr std::size_t arrayLengthOffset = 4;
constexpr std::size_t arrayElementsOffset = 8;

// A string object as the VM holds it.
struct StringObject {
    std::int32_t length;
    const char* characters;
};

// The length word of an array block.
std::int32_t arrayLength(Handle array);
// The address of element 0 of an integer array.
const std::int32_t* intElements(Handle array);
// Element i of a string array.
Handle stringElement(Handle array, std::int32_t index);

// Host side: objects that a caller of the native methods (the command, tests,
// the Java bridge) makes and passes by handle. Each owns its memory.
class LocalString {
public:
    explicit LocalString(const char* text);
    LocalString(const char* bytes, std::size_t length);
    ~LocalString();
    LocalString(const LocalString&) = delete;
    LocalString& operator=(const LocalString&) = delete;
    Handle handle() const { return reinterpret_cast<Handle>(&object); }
    bool valid() const { return object.characters != nullptr; }

private:
    StringObject object;
};

class IntArray {
public:
    explicit IntArray(std::int32_t length);
    ~IntArray();
    IntArray(const IntArray&) = delete;
    IntArray& operator=(const IntArray&) = delete;
    Handle handle() const { return reinterpret_cast<Handle>(block); }
    bool valid() const { return block != nullptr; }
    std::int32_t* elements();
    // Lets a test claim more elements than the block holds.
    void setLengthWord(std::int32_t length);

private:
    std::uint8_t* block;
};

class StringArray {
public:
    // The strings are referred to, not copied: they must outlive the array.
    StringArray(const Handle* strings, std::int32_t length);
    ~StringArray();
    StringArray(const StringArray&) = delete;
    StringArray& operator=(const StringArray&) = delete;
    Handle handle() const { return reinterpret_cast<Handle>(block); }
    bool valid() const { return block != nullptr; }

private:
    std::uint8_t* block;
};

}  // namespace vm

// The VM's services. A null handle reads as the empty string.
std::int32_t javaStringLength(vm::Handle string);
// Writes at most size - 1 characters and a terminating zero; returns buffer.
char* javaString2CString(vm::Handle string, char* buffer, std::int32_t size);
