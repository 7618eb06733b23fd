#include "RandomText.h"

#include <algorithm>

#include <QRandomGenerator>

std::string randomAlphaNumeric(int length)
{
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    // The text is the sign-in poll's secret: every character straight from the operating system's source, so that
    // one observed id tells nothing about the next.
    QRandomGenerator* source = QRandomGenerator::system();
    std::string text;
    text.reserve(static_cast<size_t>(std::max(length, 0)));
    for (int i = 0; i < length; ++i)
        text.push_back(alphabet[source->bounded(62)]);
    return text;
}
