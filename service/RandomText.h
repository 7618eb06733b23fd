#pragma once

#include <string>

// `length` characters drawn uniformly from A-Z, a-z and 0-9, from a generator seeded afresh by the operating
// system's random source.
std::string randomAlphaNumeric(int length);
