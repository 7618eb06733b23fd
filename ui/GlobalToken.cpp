#include "GlobalToken.h"

GlobalToken::GlobalToken()
    : m_hex{{
          QStringLiteral("FFFFFF"), QStringLiteral("FAFAFC"), QStringLiteral("F5F5F7"), QStringLiteral("F0F0F2"),
          QStringLiteral("E1E1E3"), QStringLiteral("D2D2D4"), QStringLiteral("BEBEC0"), QStringLiteral("A8A8AA"),
          QStringLiteral("666668"), QStringLiteral("000000"), QStringLiteral("F0F1FF"), QStringLiteral("DDDEFF"),
          QStringLiteral("C2C5FF"), QStringLiteral("A8ACFF"), QStringLiteral("A3A7FF"), QStringLiteral("918CFF"),
          QStringLiteral("887DFF"), QStringLiteral("FF989F"), QStringLiteral("F53241"),
      }}
{}

GlobalToken::~GlobalToken() = default;
