#pragma once

#include <QString>

// What the design application learns from the "/token" argument the launcher hands it.
struct SignedInUser
{
    bool bSignedIn = false;
    QString email;
    qint64 userId = -1;
};

// `text`: Base64url (with padding) of the sealed token blob. Anything that does not decode, open or hold a
// JWT payload means "not signed in".
SignedInUser openSealedToken(const QString& text);

// "Orvel VERSION: signed in as EMAIL (userId N)" or "Orvel VERSION: not signed in".
QString statusLine(const QString& version, const SignedInUser& user);

// The version text kept in "version.txt" beside the program, so one binary can be published as several builds.
QString versionBeside(const QString& programFolder);
