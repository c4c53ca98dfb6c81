#include "ByteText.h"

namespace {

// Length of the valid UTF-8 sequence at i, or 0 when the bytes there are not one.
std::size_t ValidSequenceLength(const std::string& s, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char lead = byte(i);
    std::size_t length = 0;
    char32_t minimum = 0;
    char32_t code = 0;
    if (lead < 0x80) {
        return 1;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2, minimum = 0x80, code = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, minimum = 0x800, code = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, minimum = 0x10000, code = lead & 0x07;
    } else {
        return 0;
    }
    if (i + length > s.size()) {
        return 0;
    }
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) {
            return 0;
        }
        code = (code << 6) | (byte(i + k) & 0x3F);
    }
    const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
    return code < minimum || code > 0x10FFFF || surrogate ? 0 : length;
}

} // namespace

QString BytesToText(const std::string& bytes) {
    QString text;
    text.reserve(static_cast<qsizetype>(bytes.size()));
    std::size_t i = 0;
    while (i < bytes.size()) {
        // Whole runs of valid UTF-8 are converted at once; names are nearly always one run.
        std::size_t end = i;
        while (end < bytes.size()) {
            const std::size_t length = ValidSequenceLength(bytes, end);
            if (length == 0) {
                break;
            }
            end += length;
        }
        text.append(QString::fromUtf8(bytes.data() + i, static_cast<qsizetype>(end - i)));
        if (end < bytes.size()) {
            text.append(QChar(static_cast<char16_t>(0xDC00 + static_cast<unsigned char>(bytes[end]))));
            ++end;
        }
        i = end;
    }
    return text;
}

std::string TextToBytes(const QString& text) {
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(text.size()));
    qsizetype start = 0;
    const auto flush = [&](qsizetype end) {
        if (end > start) {
            bytes += text.mid(start, end - start).toStdString();
        }
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t unit = text.at(i).unicode();
        const bool escapedByte = unit >= 0xDC80 && unit <= 0xDCFF;
        const bool pairedLow = i > 0 && text.at(i - 1).isHighSurrogate();
        if (escapedByte && !pairedLow) {
            flush(i);
            bytes += static_cast<char>(unit - 0xDC00);
            start = i + 1;
        }
    }
    flush(text.size());
    return bytes;
}
