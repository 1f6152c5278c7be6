// Fault injection for tests: any allocation, open, read, write or program
// start that the stand-ins perform can be made to fail, counted from the
// moment a plan is set, with no code edited. The counters also tell a test
// how many operations of each kind a run made, so that a sweep can fail each
// one in turn.
#pragma once

namespace fault {

enum class Kind { Alloc, Open, Read, Write, TempName, Start, Count_ };

// The nth operation of this kind from now on fails (1 = the next one). With
// persist, that one and every later one fail. 0 disables the plan.
void failAt(Kind kind, long nth, bool persist = false);

// Operations of this kind counted since the last reset.
long count(Kind kind);

// How many injected failures of this kind happened since the last reset.
long injected(Kind kind);

// Clears every plan and counter.
void reset();

// Called by the stand-ins before each operation: counts it and says whether
// it is to fail.
bool shouldFail(Kind kind);

// Sets up a plan for the life of a scope and clears everything at its end.
class Scope {
public:
    Scope() { reset(); }
    ~Scope() { reset(); }
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;
};

}  // namespace fault
