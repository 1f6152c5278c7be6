// The library's exports: the version handshake and the native methods of the
// VM class VornNative. Each method takes the receiver first (never read),
// then its VM handles and integers, and returns 1 or 0.
#pragma once

#include <cstdint>

#include "vm/vm.h"

#define VORN_EXPORT extern "C" __attribute__((visibility("default")))

VORN_EXPORT std::int32_t RNIGetCompatibleVersion();

VORN_EXPORT std::int32_t VornNative_copyToClipboard(vm::Handle receiver, vm::Handle text);
VORN_EXPORT std::int32_t VornNative_showFile(vm::Handle receiver, vm::Handle directory, vm::Handle file);
VORN_EXPORT std::int32_t VornNative_makeCab(vm::Handle receiver, vm::Handle entries, vm::Handle cabDirectory,
                                            vm::Handle cabName);
VORN_EXPORT std::int32_t VornNative_makeTransparent(vm::Handle receiver, vm::Handle gifFile);
VORN_EXPORT std::int32_t VornNative_saveJPEG(vm::Handle receiver, vm::Handle jpegFile, vm::Handle pixels,
                                             std::int32_t width, std::int32_t height);
VORN_EXPORT std::int32_t VornNative_wav2au(vm::Handle receiver, vm::Handle wavFile, vm::Handle auFile);

constexpr std::int32_t compatibleVersion = 0x00020000;
