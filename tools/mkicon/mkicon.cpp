// mkicon: turns the readable pixel map of the program icon (res/icon.txt)
// into a Windows .ico file holding one 32x32, 16-colour (4 bpp) image.
//
//   mkicon <icon.txt> <out.ico>
//
// Map format (one item per line; lines starting with '#' and blank lines
// are ignored):
//
//   <index> = <RRGGBB> [name]   palette entry, index 0..15 (decimal)
//   . = transparent             optional; documents the '.' pixel
//   <32 pixel characters>       one pixel row, top row first, 32 rows
//
// In a pixel row, '0'-'9' and 'a'-'f' (or 'A'-'F') select palette entries
// 0..15, and '.' is a transparent pixel (AND mask bit set, colour index 0).
// Every palette entry a pixel uses must appear in the legend; entries that
// are not listed are written as black. All legend lines come before the
// first pixel row.
//
// The output is written byte by byte in little-endian order, so the result
// is the same whatever the byte order or struct layout of the build host.

#include <array>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr int kSize = 32;                   // width and height in pixels
constexpr int kPaletteSize = 16;            // 4 bpp
constexpr int kColourRowBytes = kSize / 2;  // 4 bpp: two pixels a byte
constexpr int kMaskRowBytes = kSize / 8;    // 1 bpp, already a multiple of 4
constexpr std::uint32_t kHeaderBytes = 40;  // BITMAPINFOHEADER
constexpr std::uint32_t kPaletteBytes = kPaletteSize * 4;
constexpr std::uint32_t kColourBytes = kColourRowBytes * kSize;                                  // 512
constexpr std::uint32_t kMaskBytes = kMaskRowBytes * kSize;                                      // 128
constexpr std::uint32_t kImageBytes = kHeaderBytes + kPaletteBytes + kColourBytes + kMaskBytes;  // 744
constexpr std::uint32_t kDirBytes = 6 + 16;  // ICONDIR + one ICONDIRENTRY

struct MapError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct Colour {
    std::uint8_t r = 0, g = 0, b = 0;
};

struct IconMap {
    std::array<Colour, kPaletteSize> palette{};
    std::array<bool, kPaletteSize> defined{};
    int entryCount = 0;
    // pixels[y][x]: palette index 0..15, or -1 for transparent; y = 0 is the top row.
    std::vector<std::array<int, kSize>> pixels;
};

std::string trim(const std::string& s) {
    const char* ws = " \t\r\n\v\f";
    const auto first = s.find_first_not_of(ws);
    if (first == std::string::npos) return std::string();
    const auto last = s.find_last_not_of(ws);
    return s.substr(first, last - first + 1);
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string describeChar(char c) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 0x21 && u <= 0x7e) return std::string("'") + c + "'";
    if (c == ' ') return "a space";
    if (c == '\t') return "a tab";
    char buf[16];
    std::snprintf(buf, sizeof buf, "byte 0x%02X", static_cast<unsigned>(u));
    return buf;
}

void parseLegend(const std::string& line, IconMap& map) {
    const auto eq = line.find('=');
    const std::string key = trim(line.substr(0, eq));
    const std::string value = trim(line.substr(eq + 1));

    if (key == ".") {
        if (value != "transparent")
            throw MapError("'.' is always the transparent pixel; write '. = transparent', not '. = " + value + "'");
        return;
    }

    if (key.empty() || key.size() > 3 || key.find_first_not_of("0123456789") != std::string::npos)
        throw MapError("legend key '" + key + "' is not a palette index (0 to 15, in decimal) or '.'");
    const int index = std::stoi(key);
    if (index > kPaletteSize - 1) throw MapError("palette index " + std::to_string(index) + " is above 15");
    if (map.entryCount == kPaletteSize) throw MapError("more than 16 palette entries in the legend");
    if (map.defined[static_cast<std::size_t>(index)])
        throw MapError("palette index " + std::to_string(index) + " is defined twice");

    // The colour: exactly six hex digits, then optionally a space and a name.
    bool ok = value.size() >= 6;
    for (std::size_t i = 0; ok && i < 6; ++i)
        ok = hexValue(value[i]) >= 0;
    if (ok && value.size() > 6) ok = value[6] == ' ' || value[6] == '\t';
    if (!ok)
        throw MapError("palette index " + std::to_string(index) + ": colour must be six hex digits RRGGBB, got '" +
                       value + "'");

    auto byteAt = [&value](std::size_t i) {
        return static_cast<std::uint8_t>(hexValue(value[i]) * 16 + hexValue(value[i + 1]));
    };
    Colour& c = map.palette[static_cast<std::size_t>(index)];
    c.r = byteAt(0);
    c.g = byteAt(2);
    c.b = byteAt(4);
    map.defined[static_cast<std::size_t>(index)] = true;
    ++map.entryCount;
}

void parseRow(const std::string& row, IconMap& map) {
    const int rowNumber = static_cast<int>(map.pixels.size()) + 1;
    if (rowNumber > kSize) throw MapError("more than 32 pixel rows");
    if (row.size() != static_cast<std::size_t>(kSize))
        throw MapError("pixel row " + std::to_string(rowNumber) + " is " + std::to_string(row.size()) +
                       " characters wide, expected 32");

    std::array<int, kSize> pixels{};
    for (int x = 0; x < kSize; ++x) {
        const char c = row[static_cast<std::size_t>(x)];
        int index = -1;
        if (c != '.') {
            index = hexValue(c);
            if (index < 0)
                throw MapError("unknown character " + describeChar(c) + " in pixel row " + std::to_string(rowNumber) +
                               ", column " + std::to_string(x + 1) + " (use 0-9, a-f or '.')");
            if (!map.defined[static_cast<std::size_t>(index)])
                throw MapError("pixel row " + std::to_string(rowNumber) + ", column " + std::to_string(x + 1) +
                               " uses palette index " + std::to_string(index) + ", which the legend does not define");
        }
        pixels[static_cast<std::size_t>(x)] = index;
    }
    map.pixels.push_back(pixels);
}

IconMap parseMap(std::istream& in, const std::string& name) {
    IconMap map;
    std::string line;
    int lineNumber = 0;
    try {
        while (std::getline(in, line)) {
            ++lineNumber;
            if (!line.empty() && line.back() == '\r') line.pop_back();  // CRLF files
            const std::string text = trim(line);
            if (text.empty() || text[0] == '#') continue;
            if (text.find('=') != std::string::npos) {
                if (!map.pixels.empty()) throw MapError("legend line after the pixel rows; the legend comes first");
                parseLegend(text, map);
            } else {
                // Leading spaces would shift the row, so only the end is trimmed.
                parseRow(line.substr(0, line.find_last_not_of(" \t") + 1), map);
            }
        }
    } catch (const MapError& e) {
        throw MapError(name + ":" + std::to_string(lineNumber) + ": " + e.what());
    }
    if (map.pixels.size() != static_cast<std::size_t>(kSize))
        throw MapError(name + ": missing pixel rows: found " + std::to_string(map.pixels.size()) + ", expected 32");
    return map;
}

void put8(std::vector<std::uint8_t>& out, unsigned v) { out.push_back(static_cast<std::uint8_t>(v & 0xFFu)); }
void put16(std::vector<std::uint8_t>& out, unsigned v) {
    put8(out, v);
    put8(out, v >> 8);
}
void put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    put16(out, v & 0xFFFFu);
    put16(out, v >> 16);
}

std::vector<std::uint8_t> buildIcon(const IconMap& map) {
    std::vector<std::uint8_t> out;
    out.reserve(kDirBytes + kImageBytes);

    // ICONDIR
    put16(out, 0);  // reserved
    put16(out, 1);  // type: icon
    put16(out, 1);  // image count
    // ICONDIRENTRY
    put8(out, kSize);         // width
    put8(out, kSize);         // height
    put8(out, kPaletteSize);  // colour count
    put8(out, 0);             // reserved
    put16(out, 1);            // planes
    put16(out, 4);            // bits per pixel
    put32(out, kImageBytes);  // bytes in resource
    put32(out, kDirBytes);    // image offset

    // BITMAPINFOHEADER; the height covers the colour bitmap and the mask.
    put32(out, kHeaderBytes);
    put32(out, kSize);
    put32(out, 2 * kSize);
    put16(out, 1);  // planes
    put16(out, 4);  // bit count
    put32(out, 0);  // BI_RGB
    put32(out, kColourBytes + kMaskBytes);
    put32(out, 0);             // x pels per metre
    put32(out, 0);             // y pels per metre
    put32(out, kPaletteSize);  // colours used
    put32(out, 0);             // colours important

    // Colour table: RGBQUAD is blue, green, red, reserved.
    for (const Colour& c : map.palette) {
        put8(out, c.b);
        put8(out, c.g);
        put8(out, c.r);
        put8(out, 0);
    }

    // Colour bitmap, bottom row first, left pixel in the high nibble.
    for (int y = kSize - 1; y >= 0; --y) {
        const auto& row = map.pixels[static_cast<std::size_t>(y)];
        for (int x = 0; x < kSize; x += 2) {
            const int left = row[static_cast<std::size_t>(x)];
            const int right = row[static_cast<std::size_t>(x + 1)];
            const unsigned hi = left < 0 ? 0u : static_cast<unsigned>(left);
            const unsigned lo = right < 0 ? 0u : static_cast<unsigned>(right);
            put8(out, (hi << 4) | lo);
        }
    }

    // AND mask, bottom row first, leftmost pixel in the top bit; set = transparent.
    for (int y = kSize - 1; y >= 0; --y) {
        const auto& row = map.pixels[static_cast<std::size_t>(y)];
        for (int byte = 0; byte < kMaskRowBytes; ++byte) {
            unsigned bits = 0;
            for (int bit = 0; bit < 8; ++bit)
                if (row[static_cast<std::size_t>(byte * 8 + bit)] < 0) bits |= 0x80u >> bit;
            put8(out, bits);
        }
    }

    if (out.size() != kDirBytes + kImageBytes)
        throw std::logic_error("icon has " + std::to_string(out.size()) + " bytes, expected " +
                               std::to_string(kDirBytes + kImageBytes));
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: mkicon <icon.txt> <out.ico>\n";
        return 2;
    }
    const std::string inName = argv[1];
    const std::string outName = argv[2];
    try {
        std::ifstream in(inName, std::ios::binary);
        if (!in) {
            std::cerr << "mkicon: cannot open " << inName << " for reading\n";
            return 1;
        }
        const IconMap map = parseMap(in, inName);
        const std::vector<std::uint8_t> bytes = buildIcon(map);

        std::ofstream out(outName, std::ios::binary | std::ios::trunc);
        if (!out) {
            std::cerr << "mkicon: cannot open " << outName << " for writing\n";
            return 1;
        }
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        out.close();
        if (!out) {
            std::cerr << "mkicon: error writing " << outName << "\n";
            std::remove(outName.c_str());
            return 1;
        }
    } catch (const MapError& e) {
        std::cerr << "mkicon: " << e.what() << "\n";
        return 1;
    } catch (const std::exception& e) {
        std::cerr << "mkicon: internal error: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
