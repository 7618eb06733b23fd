#pragma once

#include "Failure.h"

// What a service call fetched, or why it has nothing: `value` counts only when ok().
template <typename T> struct Fetched
{
    T value;
    Failure failure;

    bool ok() const { return !failure.failed(); }
};
