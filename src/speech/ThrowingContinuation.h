#pragma once

#include "base/Continuation.h"

template<typename T = void> using ThrowingContinuation = Continuation<T>;
