#include "native/VornNative.h"

std::int32_t RNIGetCompatibleVersion() { return compatibleVersion; }
