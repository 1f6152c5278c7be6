#include "platform/message_box.h"

#include <atomic>
#include <cstdio>

namespace {

void presentOnStandardError(const char* caption, const char* text, UINT) {
    std::fprintf(stderr, "%s: %s\n", caption != nullptr ? caption : "", text != nullptr ? text : "");
    std::fflush(stderr);
}

std::atomic<MessageBoxPresenter> presenter{presentOnStandardError};

}  // namespace

int MessageBoxA(HWND, LPCSTR text, LPCSTR caption, UINT type) {
    presenter.load()(caption, text, type);
    return IDOK;
}

MessageBoxPresenter setMessageBoxPresenter(MessageBoxPresenter next) {
    return presenter.exchange(next != nullptr ? next : presentOnStandardError);
}
