#pragma once

#include <QString>

// Makes sure the folder exists, creating missing parents. False for an empty path or when creation fails.
bool ensureDirectory(const QString& path);
