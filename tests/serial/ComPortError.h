#pragma once
// The EComPort an operation raises; a test failure when it raises none.

#include <gtest/gtest.h>

#include "serial/CPort.h"

namespace kestrel::test {

template <typename F>
EComPort comPortError(F&& f) {
    try {
        f();
    } catch (const EComPort& e) {
        return e;
    }
    ADD_FAILURE() << "no EComPort raised";
    return EComPort(0);
}

}  // namespace kestrel::test
