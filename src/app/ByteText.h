#pragma once

#include <QString>
#include <string>

// File names are bytes; the window shows them as text. Bytes that are not
// valid UTF-8 travel as lone surrogates U+DC80..U+DCFF, so every name comes
// back to exactly the bytes it was read from.
QString BytesToText(const std::string& bytes);
std::string TextToBytes(const QString& text);
