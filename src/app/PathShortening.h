#pragma once

#include <QString>
#include <functional>

// Shortens a path to fit a width: the leading folders give way to "/.../" one
// by one, then the drive, then the mark itself; the file name always stays
// whole, even when it alone is too wide.
QString ShortenPath(const QString& path, int maxWidth, const std::function<int(const QString&)>& widthOf);
