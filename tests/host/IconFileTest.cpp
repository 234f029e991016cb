// Checks the generated program icon (generated/ovq.ico) byte by byte against
// the layout Windows expects for a single 32x32, 16-colour icon, checks that
// it matches the pixel map it was made from, and checks that mkicon rejects
// malformed maps.
//
// Paths come from the build: OVQ_ICON_PATH (the generated .ico),
// OVQ_ICON_MAP_PATH (res/icon.txt) and OVQ_MKICON_PATH (the tool).

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#ifndef OVQ_ICON_PATH
#error "OVQ_ICON_PATH must name the generated ovq.ico"
#endif
#ifndef OVQ_ICON_MAP_PATH
#error "OVQ_ICON_MAP_PATH must name res/icon.txt"
#endif
#ifndef OVQ_MKICON_PATH
#error "OVQ_MKICON_PATH must name the mkicon tool"
#endif

namespace {

namespace fs = std::filesystem;

constexpr int kSize = 32;
constexpr std::size_t kFileSize = 766;
constexpr std::size_t kImageOffset = 22;
constexpr std::size_t kPaletteOffset = kImageOffset + 40;
constexpr std::size_t kColourOffset = kPaletteOffset + 16 * 4;
constexpr std::size_t kMaskOffset = kColourOffset + 512;

// Roles of the palette entries the pixels use.
constexpr int kBlack = 0;
constexpr int kLightBlue = 1;
constexpr int kBlue = 2;
constexpr int kDarkBlue = 3;
constexpr int kYellow = 4;

std::vector<std::uint8_t> readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string readText(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

unsigned u8(const std::vector<std::uint8_t>& b, std::size_t at)
{
    return b.at(at);
}
unsigned u16(const std::vector<std::uint8_t>& b, std::size_t at)
{
    return u8(b, at) | (u8(b, at + 1) << 8);
}
std::uint32_t u32(const std::vector<std::uint8_t>& b, std::size_t at)
{
    return static_cast<std::uint32_t>(u16(b, at)) | (static_cast<std::uint32_t>(u16(b, at + 2)) << 16);
}

// The source map as the test reads it, independently of mkicon.
struct SourceMap {
    std::array<std::uint32_t, 16> rgb{};  // 0xRRGGBB
    std::array<bool, 16> defined{};
    std::vector<std::string> rows;  // top row first
};

SourceMap readSourceMap()
{
    SourceMap map;
    std::istringstream in(readText(OVQ_ICON_MAP_PATH));
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        while (!line.empty() && (line.back() == ' ' || line.back() == '\t'))
            line.pop_back();
        if (line.empty() || line[0] == '#')
            continue;
        const auto eq = line.find('=');
        if (eq == std::string::npos) {
            map.rows.push_back(line);
            continue;
        }
        std::istringstream entry(line);
        std::string key, equals, colour;
        entry >> key >> equals >> colour;
        if (key == ".")
            continue;
        const int index = std::stoi(key);
        map.rgb.at(static_cast<std::size_t>(index)) = static_cast<std::uint32_t>(std::stoul(colour, nullptr, 16));
        map.defined.at(static_cast<std::size_t>(index)) = true;
    }
    return map;
}

class IconFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        bytes = readFile(OVQ_ICON_PATH);
        ASSERT_EQ(bytes.size(), kFileSize) << "cannot read or wrong size: " << OVQ_ICON_PATH;
    }

    // x, y with y = 0 the top row; the bitmaps are stored bottom row first.
    int colourIndex(int x, int y) const
    {
        const std::size_t row = static_cast<std::size_t>(kSize - 1 - y);
        const std::uint8_t b = bytes.at(kColourOffset + row * 16 + static_cast<std::size_t>(x / 2));
        return (x % 2 == 0) ? (b >> 4) : (b & 0x0F);
    }
    bool transparent(int x, int y) const
    {
        const std::size_t row = static_cast<std::size_t>(kSize - 1 - y);
        const std::uint8_t b = bytes.at(kMaskOffset + row * 4 + static_cast<std::size_t>(x / 8));
        return (b & (0x80 >> (x % 8))) != 0;
    }
    std::uint32_t paletteRgb(int index) const
    {
        const std::size_t at = kPaletteOffset + static_cast<std::size_t>(index) * 4;
        return (static_cast<std::uint32_t>(bytes.at(at + 2)) << 16) |
               (static_cast<std::uint32_t>(bytes.at(at + 1)) << 8) | bytes.at(at);
    }

    std::vector<std::uint8_t> bytes;
};

bool isCornerPixel(int x, int y)
{
    const int last = kSize - 1;
    const bool edgeRow = (y == 0 || y == last);
    const bool nextRow = (y == 1 || y == last - 1);
    if (edgeRow)
        return x <= 1 || x >= last - 1;
    if (nextRow)
        return x == 0 || x == last;
    return false;
}

TEST_F(IconFile, DirectoryHoldsOneEntryFor32x32At16Colours)
{
    EXPECT_EQ(u16(bytes, 0), 0u);     // reserved
    EXPECT_EQ(u16(bytes, 2), 1u);     // type: icon
    EXPECT_EQ(u16(bytes, 4), 1u);     // count
    EXPECT_EQ(u8(bytes, 6), 32u);     // width
    EXPECT_EQ(u8(bytes, 7), 32u);     // height
    EXPECT_EQ(u8(bytes, 8), 16u);     // colour count
    EXPECT_EQ(u8(bytes, 9), 0u);      // reserved
    EXPECT_EQ(u16(bytes, 10), 1u);    // planes
    EXPECT_EQ(u16(bytes, 12), 4u);    // bit count
    EXPECT_EQ(u32(bytes, 14), 744u);  // bytes in resource
    EXPECT_EQ(u32(bytes, 18), 22u);   // image offset
    EXPECT_EQ(u32(bytes, 14) + u32(bytes, 18), kFileSize);
}

TEST_F(IconFile, BitmapHeaderDescribesColourAndMask)
{
    const std::size_t h = kImageOffset;
    EXPECT_EQ(u32(bytes, h + 0), 40u);    // biSize
    EXPECT_EQ(u32(bytes, h + 4), 32u);    // biWidth
    EXPECT_EQ(u32(bytes, h + 8), 64u);    // biHeight: colour + mask
    EXPECT_EQ(u16(bytes, h + 12), 1u);    // biPlanes
    EXPECT_EQ(u16(bytes, h + 14), 4u);    // biBitCount
    EXPECT_EQ(u32(bytes, h + 16), 0u);    // biCompression: BI_RGB
    EXPECT_EQ(u32(bytes, h + 20), 640u);  // biSizeImage: 512 + 128
    EXPECT_EQ(u32(bytes, h + 24), 0u);    // biXPelsPerMeter
    EXPECT_EQ(u32(bytes, h + 28), 0u);    // biYPelsPerMeter
    EXPECT_EQ(u32(bytes, h + 32), 16u);   // biClrUsed
    EXPECT_EQ(u32(bytes, h + 36), 0u);    // biClrImportant
}

TEST_F(IconFile, ColourTableMatchesTheLegend)
{
    const SourceMap map = readSourceMap();
    for (int i = 0; i < 8; ++i)
        EXPECT_TRUE(map.defined[static_cast<std::size_t>(i)]) << "legend lacks entry " << i;
    for (int i = 0; i < 16; ++i) {
        const std::uint32_t expected =
            map.defined[static_cast<std::size_t>(i)] ? map.rgb[static_cast<std::size_t>(i)] : 0u;
        EXPECT_EQ(paletteRgb(i), expected) << "palette entry " << i;
        EXPECT_EQ(bytes.at(kPaletteOffset + static_cast<std::size_t>(i) * 4 + 3), 0u)
            << "reserved byte of palette entry " << i;
    }
    // The roles the look depends on.
    EXPECT_EQ(paletteRgb(kBlack), 0x000000u);
    const auto blueish = [this](int i) {
        const std::uint32_t c = paletteRgb(i);
        return (c & 0xFF) > ((c >> 16) & 0xFF);  // more blue than red
    };
    EXPECT_TRUE(blueish(kLightBlue));
    EXPECT_TRUE(blueish(kBlue));
    EXPECT_TRUE(blueish(kDarkBlue));
    const auto brightness = [this](int i) {
        const std::uint32_t c = paletteRgb(i);
        return ((c >> 16) & 0xFF) + ((c >> 8) & 0xFF) + (c & 0xFF);
    };
    EXPECT_GT(brightness(kLightBlue), brightness(kBlue));
    EXPECT_GT(brightness(kBlue), brightness(kDarkBlue));
    const std::uint32_t yellow = paletteRgb(kYellow);
    EXPECT_GE((yellow >> 16) & 0xFF, 0xC0u);  // strong red
    EXPECT_GE((yellow >> 8) & 0xFF, 0xC0u);   // strong green
    EXPECT_LE(yellow & 0xFF, 0x80u);          // little blue
}

TEST_F(IconFile, PixelsUseOnlyTheFirstEightEntries)
{
    for (int y = 0; y < kSize; ++y)
        for (int x = 0; x < kSize; ++x)
            EXPECT_LT(colourIndex(x, y), 8) << "pixel " << x << "," << y;
}

TEST_F(IconFile, MaskClearsExactlyThreePixelsAtEachCorner)
{
    int count = 0;
    for (int y = 0; y < kSize; ++y) {
        for (int x = 0; x < kSize; ++x) {
            EXPECT_EQ(transparent(x, y), isCornerPixel(x, y)) << "pixel " << x << "," << y;
            if (transparent(x, y)) {
                ++count;
                EXPECT_EQ(colourIndex(x, y), kBlack) << "transparent pixel " << x << "," << y;
            }
        }
    }
    EXPECT_EQ(count, 12);
}

TEST_F(IconFile, MatchesThePixelMap)
{
    const SourceMap map = readSourceMap();
    ASSERT_EQ(map.rows.size(), static_cast<std::size_t>(kSize));
    for (int y = 0; y < kSize; ++y) {
        const std::string& row = map.rows[static_cast<std::size_t>(y)];
        ASSERT_EQ(row.size(), static_cast<std::size_t>(kSize)) << "map row " << y;
        for (int x = 0; x < kSize; ++x) {
            const char c = row[static_cast<std::size_t>(x)];
            if (c == '.') {
                EXPECT_TRUE(transparent(x, y)) << "pixel " << x << "," << y;
            } else {
                EXPECT_FALSE(transparent(x, y)) << "pixel " << x << "," << y;
                EXPECT_EQ(colourIndex(x, y), std::stoi(std::string(1, c), nullptr, 16)) << "pixel " << x << "," << y;
            }
        }
    }
}

TEST_F(IconFile, LooksLikeAYellowBoltOnABlueSquare)
{
    // Top edge light blue, bottom rows dark blue.
    for (int x = 0; x < kSize; ++x) {
        if (!transparent(x, 0)) {
            EXPECT_EQ(colourIndex(x, 0), kLightBlue) << "top row, x " << x;
        }
        for (int y = kSize - 3; y < kSize; ++y) {
            if (!transparent(x, y)) {
                EXPECT_EQ(colourIndex(x, y), kDarkBlue) << x << "," << y;
            }
        }
    }
    // Mostly blue around the bolt: the side columns of the middle rows.
    for (int y = 2; y < kSize - 3; ++y) {
        EXPECT_EQ(colourIndex(0, y), kBlue) << "left edge, y " << y;
        EXPECT_EQ(colourIndex(kSize - 1, y), kBlue) << "right edge, y " << y;
    }
    // The bolt runs from the upper right to the lower left: compare the yellow
    // in the upper third with the yellow in the lower third.
    double upperX = 0, lowerX = 0;
    int upper = 0, lower = 0;
    for (int y = 0; y < kSize; ++y) {
        for (int x = 0; x < kSize; ++x) {
            if (colourIndex(x, y) != kYellow)
                continue;
            if (y < kSize / 3) {
                upperX += x;
                ++upper;
            } else if (y >= kSize - kSize / 3) {
                lowerX += x;
                ++lower;
            }
        }
    }
    ASSERT_GT(upper, 20) << "too little yellow in the upper third";
    ASSERT_GT(lower, 4) << "too little yellow in the lower third";
    EXPECT_GT(upperX / upper, lowerX / lower + 4.0);
    EXPECT_GT(upperX / upper, kSize / 2.0);
    EXPECT_LT(lowerX / lower, kSize / 2.0);
}

// --- mkicon's handling of malformed maps -------------------------------------

std::string quoted(const fs::path& p)
{
    return "\"" + p.string() + "\"";
}

// Runs mkicon on the given map text; returns the exit status (0 = success)
// and its error output.
struct RunResult {
    int status = 0;
    std::string errors;
    bool wroteIcon = false;
};

class MkIcon : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::random_device rd;
        dir = fs::temp_directory_path() / ("ovq-mkicon-test-" + std::to_string(rd()));
        fs::create_directories(dir);
    }
    void TearDown() override
    {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }

    RunResult run(const std::string& mapText) const
    {
        const fs::path in = dir / "icon.txt";
        const fs::path out = dir / "out.ico";
        const fs::path err = dir / "errors.txt";
        {
            std::ofstream f(in, std::ios::binary | std::ios::trunc);
            f << mapText;
        }
        std::error_code ec;
        fs::remove(out, ec);
        std::string command = quoted(OVQ_MKICON_PATH) + " " + quoted(in) + " " + quoted(out) + " 2>" + quoted(err);
#ifdef _WIN32
        command = "\"" + command + "\"";  // cmd.exe drops the outermost quotes
#endif
        RunResult r;
        r.status = std::system(command.c_str());
        r.errors = readText(err);
        r.wroteIcon = fs::exists(out);
        return r;
    }

    fs::path dir;
};

std::string legend()
{
    return "0 = 000000 black\n"
           "1 = 2864C8 blue\n"
           "2 = FFDC28 yellow\n"
           ". = transparent\n";
}

std::string rows(int count, const std::string& row = std::string(32, '1'))
{
    std::string text;
    for (int i = 0; i < count; ++i)
        text += row + "\n";
    return text;
}

std::string fullPalette(int entries)
{
    std::string text;
    for (int i = 0; i < entries; ++i)
        text += std::to_string(i % 16) + " = 102030\n";
    return text;
}

std::string validMap()
{
    return legend() + ".." + std::string(28, '1') + ".." + "\n" + rows(30, "2" + std::string(31, '1')) +
           rows(1, std::string(31, '0') + ".");
}

TEST_F(MkIcon, AcceptsAWellFormedMap)
{
    const RunResult r = run("# comment\r\n" + validMap());
    EXPECT_EQ(r.status, 0) << r.errors;
    EXPECT_TRUE(r.wroteIcon);
    EXPECT_EQ(fs::file_size(dir / "out.ico"), kFileSize);
}

TEST_F(MkIcon, AcceptsUpperCaseIndicesAndCrLf)
{
    std::string text = fullPalette(16);
    for (int i = 0; i < 32; ++i)
        text += std::string(16, 'F') + std::string(16, 'a') + "\r\n";
    const RunResult r = run(text);
    EXPECT_EQ(r.status, 0) << r.errors;
}

struct BadMap {
    const char* name;
    std::string text;
    const char* expectedMessage;
};

TEST_F(MkIcon, RejectsMalformedMaps)
{
    const std::string row = std::string(32, '1');
    const std::vector<BadMap> cases = {
        { "empty file", "", "missing pixel rows: found 0" },
        { "legend only", legend(), "missing pixel rows: found 0" },
        { "31 rows", legend() + rows(31), "missing pixel rows: found 31" },
        { "33 rows", legend() + rows(33), "more than 32 pixel rows" },
        { "short row", legend() + rows(5) + std::string(31, '1') + "\n" + rows(26),
          "pixel row 6 is 31 characters wide, expected 32" },
        { "long row", legend() + rows(31) + std::string(33, '1') + "\n",
          "pixel row 32 is 33 characters wide, expected 32" },
        { "indented row", legend() + " " + row + "\n" + rows(31),
          "pixel row 1 is 33 characters wide, expected 32" },  // a leading space shifts the row
        { "unknown character", legend() + rows(3) + std::string(10, '1') + "x" + std::string(21, '1') + "\n" + rows(28),
          "unknown character 'x' in pixel row 4, column 11" },
        { "space inside a row", legend() + std::string(10, '1') + " " + std::string(21, '1') + "\n" + rows(31),
          "unknown character a space in pixel row 1, column 11" },
        { "letter beyond f", legend() + rows(31) + std::string(31, '1') + "g\n", "unknown character 'g'" },
        { "undefined index", legend() + rows(31) + std::string(31, '1') + "7\n",
          "uses palette index 7, which the legend does not define" },
        { "index 16", "16 = FFFFFF white\n" + rows(32), "palette index 16 is above 15" },
        { "index 99", "99 = FFFFFF white\n" + rows(32), "palette index 99 is above 15" },
        { "17 entries", fullPalette(17) + rows(32), "more than 16 palette entries" },
        { "duplicate index", legend() + "1 = FFFFFF white\n" + rows(32), "palette index 1 is defined twice" },
        { "short colour", "0 = 12345 black\n" + rows(32, std::string(32, '0')), "colour must be six hex digits" },
        { "non-hex colour", "0 = 12345G black\n" + rows(32, std::string(32, '0')), "colour must be six hex digits" },
        { "missing colour", "0 =\n" + rows(32, std::string(32, '0')), "colour must be six hex digits" },
        { "colour run into name", "0 = 000000black\n" + rows(32, std::string(32, '0')),
          "colour must be six hex digits" },
        { "bad key", "x = 000000 black\n" + rows(32, std::string(32, '.')), "legend key 'x' is not a palette index" },
        { "hex key", "a = 000000 black\n" + rows(32, std::string(32, '.')), "legend key 'a' is not a palette index" },
        { "negative key", "-1 = 000000 black\n" + rows(32, std::string(32, '.')),
          "legend key '-1' is not a palette index" },
        { "bad transparent", ". = 000000\n" + rows(32, std::string(32, '.')), "'.' is always the transparent pixel" },
        { "legend after rows", legend() + rows(16) + "2 = FFFFFF white\n" + rows(16),
          "legend line after the pixel rows" },
    };

    for (const BadMap& c : cases) {
        SCOPED_TRACE(c.name);
        const RunResult r = run(c.text);
        EXPECT_NE(r.status, 0);
        EXPECT_NE(r.errors.find(c.expectedMessage), std::string::npos) << "error output was: " << r.errors;
        EXPECT_NE(r.errors.find("icon.txt"), std::string::npos)
            << "the message should name the map; error output was: " << r.errors;
        EXPECT_FALSE(r.wroteIcon);
    }
}

TEST_F(MkIcon, RejectsMissingInputAndWrongArguments)
{
    const fs::path missing = dir / "no-such-map.txt";
    std::string command = quoted(OVQ_MKICON_PATH) + " " + quoted(missing) + " " + quoted(dir / "out.ico") + " 2>" +
                          quoted(dir / "err.txt");
    std::string noArgs = quoted(OVQ_MKICON_PATH) + " 2>" + quoted(dir / "err2.txt");
#ifdef _WIN32
    command = "\"" + command + "\"";
    noArgs = "\"" + noArgs + "\"";
#endif
    EXPECT_NE(std::system(command.c_str()), 0);
    EXPECT_NE(readText(dir / "err.txt").find("cannot open"), std::string::npos);
    EXPECT_FALSE(fs::exists(dir / "out.ico"));

    EXPECT_NE(std::system(noArgs.c_str()), 0);
    EXPECT_NE(readText(dir / "err2.txt").find("usage: mkicon"), std::string::npos);
}

}  // namespace
