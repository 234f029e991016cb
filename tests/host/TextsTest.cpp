// Every user-visible text is the code page 932 form of its Japanese text.

#include <gtest/gtest.h>
#include <iconv.h>

#include <string>

#include "Texts.h"

namespace {

std::string ToCp932(const std::string& utf8)
{
    iconv_t cd = iconv_open("CP932", "UTF-8");
    EXPECT_NE(cd, reinterpret_cast<iconv_t>(-1));
    std::string in = utf8;
    std::string out(in.size() * 2 + 1, '\0');
    char* inPtr = &in[0];
    size_t inLeft = in.size();
    char* outPtr = &out[0];
    size_t outLeft = out.size();
    EXPECT_NE(iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft), static_cast<size_t>(-1)) << utf8;
    iconv_close(cd);
    out.resize(out.size() - outLeft);
    return out;
}

struct TextCase {
    const char* name;
    std::string bytes;
    const char* utf8;
    size_t length;
};

TEST(TextsTest, EachTextIsItsJapaneseFormInCodePage932)
{
    // A table laid out by hand, a row a line.
    // clang-format off
    const TextCase cases[] = {
        { "menu: permit", TEXT_MENU_PERMIT, "スクリーンセーバーの起動を許可(&S)", 34 },
        { "menu: version", TEXT_MENU_VERSION, "バージョン情報(&A)", 18 },
        { "menu: exit", TEXT_MENU_EXIT, "終了(&X)", 8 },
        { "tray tip", TEXT_TRAY_TIP, "スクリーンセーバー抑止", 22 },
        { "version caption", TEXT_VERSION_CAPTION, "バージョン情報", 14 },
        { "version line 1", TEXT_VERSION_TITLE, "スクリーンセーバー起動抑止プログラム", 36 },
        { "version line 4", TEXT_VERSION_OPTIONS, "コマンドラインオプション", 24 },
        { "version line 5", TEXT_VERSION_OPTION_S, "-s スクリーンセーバーの起動を許可", 33 },
        { "version line 6", TEXT_VERSION_OPTION_C, "-c -sの設定をクリアしスクリーンセーバーの起動を抑止", 51 },
        { "version line 7", TEXT_VERSION_OPTION_X, "-x プログラム終了", 17 },
    };
    // clang-format on
    for (const TextCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.bytes, ToCp932(c.utf8));
        EXPECT_EQ(c.bytes.size(), c.length);
    }
}

}  // namespace
