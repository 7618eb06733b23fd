#include "RandomText.h"

#include <random>

std::string randomAlphaNumeric(int length)
{
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device source;
    std::mt19937 generator(source());
    std::uniform_int_distribution<int> pick(0, 61);
    std::string text;
    text.reserve(static_cast<size_t>(std::max(length, 0)));
    for (int i = 0; i < length; ++i)
        text.push_back(alphabet[pick(generator)]);
    return text;
}
