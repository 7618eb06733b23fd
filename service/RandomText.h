#pragma once

#include <string>

// `length` characters drawn uniformly from A-Z, a-z and 0-9, each from the operating system's random source
// (QRandomGenerator::system()): fit for a secret.
std::string randomAlphaNumeric(int length);
