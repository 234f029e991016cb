# shellcheck shell=bash
# shellcheck disable=SC2034
# ovq's Japanese texts as the Wine tests expect to find them, written once here
# in UTF-8; hex_of gives their bytes in the encoding a check reads them in (code
# page 932 from the probe, UTF-16 from inside ovq). Sourced after lib.sh.

# hex_of ENCODING TEXT: the bytes of TEXT (UTF-8 here) in ENCODING, as hex.
hex_of() { printf '%s' "$2" | iconv -f UTF-8 -t "$1" | xxd -p | tr -d '\n'; }

# The tray menu's commands by identifier.
declare -A MENU_ITEMS=(
    [202]='スクリーンセーバーの起動を許可(&S)'
    [201]='バージョン情報(&A)'
    [200]='終了(&X)'
)

VERSION_CAPTION='バージョン情報'
# The version text's seven lines, joined by CR, with none after the last.
VERSION_TEXT_LINES=(
    'スクリーンセーバー起動抑止プログラム'
    'ovq Ver:0.2.8.4'
    ''
    'コマンドラインオプション'
    '-s スクリーンセーバーの起動を許可'
    '-c -sの設定をクリアしスクリーンセーバーの起動を抑止'
    '-x プログラム終了'
)
VERSION_TEXT_HEX=$(printf '%s\r' "${VERSION_TEXT_LINES[@]}" | iconv -f UTF-8 -t CP932 | head -c -1 | xxd -p | tr -d '\n')
