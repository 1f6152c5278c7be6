#include "cabinet/cabinet_builder.h"
#include "native/VornNative.h"
#include "native/conversion.h"

// Returns the build's result, so that a caller can tell that no cabinet was
// made; the printed lines are the same either way.
VORN_EXPORT std::int32_t VornNative_makeCab(vm::Handle, vm::Handle entries, vm::Handle cabDirectory,
                                            vm::Handle cabName) {
    char errorText[errorTextSize] = "";
    NameBuffer directory;
    NameBuffer name;
    EntryList list;
    if (!convertName(cabDirectory, directory) || !convertName(cabName, name)) return 0;
    if (!list.convert(entries)) return 0;
    return buildCabinetInDirectory(list.count(), list.entries(), directory, name, errorText);
}
