// What the user sees, and what only a diagnostic would.
#pragma once

// The modal box captioned "Error" with the stop icon and one OK button.
void showError(const char* text);

// Takes a diagnostic text and discards it. Callers trace a message, then in a
// second call the name it concerns (which may be null).
void traceMessage(const char* text);

// Tests may watch the traces; the sink stays a sink for everyone else.
using TraceObserver = void (*)(const char* text);
TraceObserver setTraceObserver(TraceObserver observer);
