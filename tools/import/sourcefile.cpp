#include "sourcefile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace {

// Characters 0x80 to 0x9F of Windows-1252; the five it leaves undefined keep
// their Latin-1 code, as browsers read them.
constexpr char16_t kWindows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

std::string windows1252ToUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 8);
    for (const char ch : text) {
        const auto byte = static_cast<unsigned char>(ch);
        if (byte < 0x80)
            out += ch;
        else if (byte < 0xA0)
            appendUtf8(out, kWindows1252High[byte - 0x80]);
        else
            appendUtf8(out, byte);
    }
    return out;
}

// The offset of the first byte that breaks UTF-8 (overlong forms, surrogates
// and code points past U+10FFFF included), or npos.
std::size_t invalidUtf8(std::string_view text) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t size = text.size();
    std::size_t i = 0;
    while (i < size) {
        const unsigned char b = bytes[i];
        if (b < 0x80) {
            ++i;
            continue;
        }
        int length;
        unsigned char low = 0x80;
        unsigned char high = 0xBF;
        if (b >= 0xC2 && b <= 0xDF) {
            length = 2;
        } else if (b >= 0xE0 && b <= 0xEF) {
            length = 3;
            if (b == 0xE0)
                low = 0xA0;
            else if (b == 0xED)
                high = 0x9F;
        } else if (b >= 0xF0 && b <= 0xF4) {
            length = 4;
            if (b == 0xF0)
                low = 0x90;
            else if (b == 0xF4)
                high = 0x8F;
        } else {
            return i;
        }
        if (i + static_cast<std::size_t>(length) > size || bytes[i + 1] < low ||
            bytes[i + 1] > high)
            return i;
        for (int k = 2; k < length; ++k)
            if ((bytes[i + static_cast<std::size_t>(k)] & 0xC0) != 0x80)
                return i;
        i += static_cast<std::size_t>(length);
    }
    return std::string_view::npos;
}

} // namespace

bool ReadSourceText(const std::string& path, TextEncoding encoding, SourceText& source,
                    std::string& error, long& errorLine) {
    errorLine = 0;
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = std::string("le fichier ne peut pas être lu (") + std::strerror(errno) + ")";
        return false;
    }
    std::string bytes;
    file.seekg(0, std::ios::end);
    const auto size = file.tellg();
    if (size > 0) {
        bytes.resize(static_cast<std::size_t>(size));
        file.seekg(0);
        file.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    if (!file && !file.eof()) {
        error = "le fichier ne peut pas être lu jusqu'au bout";
        return false;
    }

    const bool bom = bytes.rfind("\xEF\xBB\xBF", 0) == 0;
    bool utf8 = encoding == TextEncoding::Utf8 || (encoding == TextEncoding::Detect && bom);
    if (encoding != TextEncoding::Windows1252) {
        const std::size_t bad = invalidUtf8(bytes);
        if (bad != std::string_view::npos && utf8) {
            errorLine = 1 + std::count(bytes.begin(),
                                       bytes.begin() + static_cast<std::ptrdiff_t>(bad), '\n');
            char hex[8];
            std::snprintf(hex, sizeof hex, "0x%02X", static_cast<unsigned char>(bytes[bad]));
            error = std::string("l'octet ") + hex +
                    " n'est pas de l'UTF-8 (le fichier est lu en UTF-8" +
                    (bom ? ", comme son marqueur d'ordre des octets l'indique" : "") + ")";
            return false;
        }
        utf8 = bad == std::string_view::npos;
    }
    source.windows1252 = !utf8;
    if (utf8) {
        if (bom)
            bytes.erase(0, 3);
        source.text = std::move(bytes);
    } else {
        source.text = windows1252ToUtf8(bytes);
    }
    source.lines = std::count(source.text.begin(), source.text.end(), '\n') +
                   (source.text.empty() || source.text.back() == '\n' ? 0 : 1);
    return true;
}

char DetectSeparator(std::string_view text) {
    int semicolons = 0;
    int tabs = 0;
    int commas = 0;
    bool quoted = false;
    for (const char c : text) {
        if (c == '"')
            quoted = !quoted;
        else if (quoted)
            continue;
        else if (c == '\n' || c == '\r')
            break;
        else if (c == ';')
            ++semicolons;
        else if (c == '\t')
            ++tabs;
        else if (c == ',')
            ++commas;
    }
    if (semicolons == 0 && tabs == 0 && commas == 0)
        return '\0';
    if (semicolons >= tabs && semicolons >= commas)
        return ';';
    return tabs >= commas ? '\t' : ',';
}

CsvReader::CsvReader(std::string_view text, char separator, std::deque<std::string>& unescaped)
    : text(text)
    , separator(separator)
    , unescaped(unescaped) {}

// Steps over the line break at `at`: CRLF, LF or a lone CR.
void CsvReader::lineBreak(std::size_t& at) {
    if (text[at] == '\r' && at + 1 < text.size() && text[at + 1] == '\n')
        ++at;
    ++at;
    ++line;
}

void CsvReader::skipLine() {
    while (pos < text.size() && text[pos] != '\n' && text[pos] != '\r')
        ++pos;
    if (pos < text.size())
        lineBreak(pos);
}

CsvReader::Result CsvReader::Next(std::vector<std::string_view>& fields, long& recordLine,
                                  std::string& message) {
    const std::size_t size = text.size();
    const auto blank = [&](char c) { return c == ' ' || (c == '\t' && separator != '\t'); };
    for (;;) {
        std::size_t at = pos;
        while (at < size && blank(text[at]))
            ++at;
        if (at >= size) {
            pos = size;
            return Result::End;
        }
        recordLine = line;
        fields.clear();
        bool allEmpty = true;
        for (;;) {
            while (at < size && blank(text[at]))
                ++at;
            std::string_view field;
            if (at < size && text[at] == '"') {
                const std::size_t start = at + 1;
                std::size_t scan = start;
                bool doubled = false;
                std::size_t close;
                for (;;) {
                    close = text.find('"', scan);
                    if (close == std::string_view::npos) {
                        message = "un guillemet ouvert n'est jamais fermé";
                        pos = size;
                        return Result::Malformed;
                    }
                    if (close + 1 < size && text[close + 1] == '"') {
                        doubled = true;
                        scan = close + 2;
                        continue;
                    }
                    break;
                }
                // Line breaks inside the quotes belong to the field.
                for (std::size_t k = start; k < close; ++k)
                    if (text[k] == '\n' || (text[k] == '\r' && text[k + 1] != '\n'))
                        ++line;
                field = text.substr(start, close - start);
                if (doubled) {
                    std::string value;
                    value.reserve(field.size());
                    for (std::size_t k = 0; k < field.size(); ++k) {
                        value += field[k];
                        if (field[k] == '"')
                            ++k;
                    }
                    field = unescaped.emplace_back(std::move(value));
                }
                at = close + 1;
                while (at < size && blank(text[at]))
                    ++at;
                if (at < size && text[at] != separator && text[at] != '\n' && text[at] != '\r') {
                    message = "du texte suit le guillemet fermant du champ " +
                              std::to_string(fields.size() + 1);
                    pos = at;
                    skipLine();
                    return Result::Malformed;
                }
                allEmpty = false;
            } else {
                const std::size_t start = at;
                while (at < size && text[at] != separator && text[at] != '\n' && text[at] != '\r')
                    ++at;
                std::size_t end = at;
                while (end > start && blank(text[end - 1]))
                    --end;
                field = text.substr(start, end - start);
                allEmpty = allEmpty && field.empty();
            }
            fields.push_back(field);
            if (at >= size)
                break;
            if (text[at] == separator) {
                ++at;
                continue;
            }
            lineBreak(at);
            break;
        }
        pos = at;
        if (!allEmpty)
            return Result::Record;
    }
}
