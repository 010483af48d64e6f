#pragma once
// Text helpers for the forms' fields.
#include <QString>
#include <string>

// Removes leading and trailing space characters (only the space; other blanks stay).
QString TrimSpaces(const QString& text);
std::string TrimSpaces(const std::string& text);
