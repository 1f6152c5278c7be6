// The modal message box. Here nothing can wait for a person, so the box is
// handed to a presenter: by default one line "caption: text" on standard
// error. Hosts (the command, tests, the Java bridge) may install their own.
#pragma once

#include "platform/win_types.h"

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);

using MessageBoxPresenter = void (*)(const char* caption, const char* text, UINT type);

// Installs a presenter; null restores the default. Returns the previous one.
MessageBoxPresenter setMessageBoxPresenter(MessageBoxPresenter presenter);
