// Turning the VM's arguments into native strings and lists.
#pragma once

#include <cstdint>

#include "vm/vm.h"

constexpr int nameBufferSize = 256;
using NameBuffer = char[nameBufferSize];

// Converts a file or directory name into a name buffer. Returns 0, with the
// buffer empty, for a null handle, a name of more than 255 bytes (cut, it
// could name another file) or a name holding a zero byte (the same danger).
int convertName(vm::Handle string, NameBuffer& buffer);

// The entry list of a cabinet build: one heap copy per element of a VM string
// array, each exactly its length plus the terminating zero, released with
// the list.
class EntryList {
public:
    EntryList() = default;
    ~EntryList();
    EntryList(const EntryList&) = delete;
    EntryList& operator=(const EntryList&) = delete;

    // 0 for a null array, an element that is null or holds a zero byte, or
    // memory that cannot be had; the list is then empty.
    int convert(vm::Handle array);
    std::int32_t count() const { return entryCount; }
    char** entries() const { return list; }

private:
    void clear();
    char** list = nullptr;
    std::int32_t entryCount = 0;
};
