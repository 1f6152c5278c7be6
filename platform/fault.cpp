#include "platform/fault.h"

#include <atomic>

namespace fault {
namespace {

constexpr int kinds = static_cast<int>(Kind::Count_);

struct Plan {
    std::atomic<long> counted{0};
    std::atomic<long> failures{0};
    std::atomic<long> target{0};  // 0: no plan; otherwise the counted value that fails
    std::atomic<bool> persist{false};
};

Plan plans[kinds];

Plan& planOf(Kind kind) { return plans[static_cast<int>(kind)]; }

}  // namespace

void failAt(Kind kind, long nth, bool persist) {
    Plan& plan = planOf(kind);
    plan.persist = persist;
    plan.target = nth > 0 ? plan.counted + nth : 0;
}

long count(Kind kind) { return planOf(kind).counted; }

long injected(Kind kind) { return planOf(kind).failures; }

void reset() {
    for (Plan& plan : plans) {
        plan.counted = 0;
        plan.failures = 0;
        plan.target = 0;
        plan.persist = false;
    }
}

bool shouldFail(Kind kind) {
    Plan& plan = planOf(kind);
    long now = ++plan.counted;
    long target = plan.target;
    bool fail = target != 0 && (now == target || (plan.persist && now > target));
    if (fail) ++plan.failures;
    return fail;
}

}  // namespace fault
