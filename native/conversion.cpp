#include "native/conversion.h"

#include <climits>
#include <cstring>

#include "platform/runtime.h"

int convertName(vm::Handle string, NameBuffer& buffer) {
    buffer[0] = '\0';
    if (string == 0) return 0;
    std::int32_t length = javaStringLength(string);
    if (length < 0 || length > nameBufferSize - 1) return 0;
    javaString2CString(string, buffer, nameBufferSize);
    if (static_cast<std::int32_t>(std::strlen(buffer)) != length) {
        buffer[0] = '\0';
        return 0;
    }
    return 1;
}

EntryList::~EntryList() { clear(); }

void EntryList::clear() {
    for (std::int32_t i = 0; i < entryCount; ++i) crt::free(list[i]);
    crt::free(list);
    list = nullptr;
    entryCount = 0;
}

int EntryList::convert(vm::Handle array) {
    clear();
    if (array == 0) return 0;
    std::int32_t length = vm::arrayLength(array);
    if (length <= 0) return 1;
    list = static_cast<char**>(crt::calloc(static_cast<std::size_t>(length), sizeof(char*)));
    if (list == nullptr) return 0;
    for (std::int32_t i = 0; i < length; ++i) {
        vm::Handle element = vm::stringElement(array, i);
        std::int32_t n = javaStringLength(element);
        char* copy = element != 0 && n >= 0 && n < INT32_MAX ? static_cast<char*>(crt::malloc(static_cast<std::size_t>(n) + 1)) : nullptr;
        entryCount = i + (copy != nullptr ? 1 : 0);
        if (copy == nullptr) {
            clear();
            return 0;
        }
        list[i] = copy;
        javaString2CString(element, copy, n + 1);
        if (static_cast<std::int32_t>(std::strlen(copy)) != n) {
            clear();
            return 0;
        }
    }
    return 1;
}
