#include "support/errors.h"

#include <atomic>

#include "platform/message_box.h"

namespace {
std::atomic<TraceObserver> observer{nullptr};
}

void showError(const char* text) { MessageBoxA(nullptr, text, "Error", MB_OK | MB_ICONSTOP); }

void traceMessage(const char* text) {
    if (TraceObserver watch = observer.load()) watch(text);
}

TraceObserver setTraceObserver(TraceObserver next) { return observer.exchange(next); }
