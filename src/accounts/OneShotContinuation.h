#pragma once

#include "base/Continuation.h"

template<typename T> using OneShotContinuation = ContinuationSlot<T>;
