#!/usr/bin/env bash
# scripts/screenshots.sh, run in this run's Wine environment into the artefact
# directory, makes the README's pictures, and each shows what it should:
#   - tray-menu.png: one icon (the yellow bolt and the blue square of
#     res/icon.txt, in their amounts at the small-icon size) at the icon's place
#     in the bottom right corner and nowhere else; the menu where the probe saw
#     it: a white rectangle in a grey frame with desktop above it, and the dark
#     pixels of its items' texts in its upper half and in its last quarter; no
#     check mark;
#   - tray-menu-permit.png: the same size, icon and menu, a check mark (dark
#     pixels) in the first item's check area, and no other pixel different;
#   - version-box.png: a box cropped exactly: a raised frame (light top and left
#     edge, dark bottom and right edge, no desktop), a blue caption band with its
#     text, a light body with seven lines' worth of text, and the OK button in
#     the middle third of its lower half, labelled and framed in blue: a
#     default button of the common controls 6, which the manifest asks for
#     (the older controls frame it in grey); and at the right end of its
#     caption band the close button, whose glyph is the one Windows shows, an
#     x: Wine draws it as Marlett's character "r", and without that font as
#     the letter r. The glyph is compared with Marlett's "r" drawn by
#     ImageMagick from the font file Wine has (scripts/wine-env.sh lists it in
#     the prefix), scaled to the glyph's size; the same check must fail on the
#     picture with a letter r drawn into the button instead;
#   - none is blank or of few colours; each is the recorded crop of its full
#     screenshot;
#   - the committed docs/*.png exist and have the sizes of the fresh ones;
#   - the script leaves no ovq and no icon behind.
# The checks are also run on the screen before ovq started (the same crops):
# there they must fail, so a picture without icon, menu or box cannot pass.
# Pictures and the script's working files: pictures/ and script/ in the
# artefact directory.
# shellcheck source=tests/wine/lib.sh
. "$(dirname "$0")/lib.sh"
# shellcheck source=tests/wine/tray-lib.sh
. "$(dirname "$0")/tray-lib.sh"
wt_init "$@"
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
ovq_require_tools convert identify compare timeout fc-match || wt_die "ImageMagick, fontconfig or timeout is missing"

tray_locate
PICS="$WT_DIR/pictures"
WORK="$WT_DIR/script"

# ---- run the script ----

# the script takes both programs from one build directory
[[ $(dirname "$OVQ_EXE")/probe.exe -ef $PROBE_EXE ]] || wt_die "probe.exe is not next to ovq.exe"
start=$(ovq_ms)
rc=0
OVQ_SKIP_BUILD=1 OVQ_BUILD_DIR=$(dirname "$OVQ_EXE") OVQ_SHOTS_LOG="$WORK" \
    timeout 150 bash "$ROOT/scripts/screenshots.sh" "$PICS" >"$WT_DIR/script.log" 2>&1 || rc=$?
wt_log "scripts/screenshots.sh ran $(($(ovq_ms) - start)) ms"
if ((rc != 0)); then
    tail -n 30 "$WT_DIR/script.log"
    wt_die "scripts/screenshots.sh exited with $rc"
fi
wt_expect "no ovq left by the script" probe wait-gone 0
tray_mouse_away
tray_wait_state none 5000 after-script
wt_expect "no icon left in the notification area by the script ($TRAY_YELLOW yellow, $TRAY_BLUE blue)" \
    test "$TRAY_STATE" = none

# ---- what the script recorded ----

RECORD="$WORK/screenshots.txt"
[[ -f $RECORD ]] || wt_die "the script wrote no $RECORD"
rec() { sed -n "s/^$1=//p" "$RECORD" | head -n1; }
GEOM_RE='^([0-9]+)x([0-9]+)\+([0-9]+)\+([0-9]+)$'
# parse GEOM: sets GW GH GX GY.
parse() {
    [[ $1 =~ $GEOM_RE ]] || wt_die "not a geometry: '$1'"
    GW=${BASH_REMATCH[1]} GH=${BASH_REMATCH[2]} GX=${BASH_REMATCH[3]} GY=${BASH_REMATCH[4]}
}
# rel GEOM ORIGIN: GEOM (on the X screen) relative to ORIGIN's top left corner.
rel() {
    local ox oy
    parse "$2"
    ox=$GX oy=$GY
    parse "$1"
    printf '%dx%d+%d+%d' "$GW" "$GH" $((GX - ox)) $((GY - oy))
}
# shrink GEOM N: GEOM with N pixels taken off each side.
shrink() {
    parse "$1"
    printf '%dx%d+%d+%d' $((GW - 2 * $2)) $((GH - 2 * $2)) $((GX + $2)) $((GY + $2))
}
TRAY_CROP=$(rec tray_crop) BOX=$(rec box)
MENU=$(rel "$(rec menu)" "$TRAY_CROP")
ICON=$(rel "$(rec icon)" "$TRAY_CROP")
OK=$(rel "$(rec ok_button)" "$BOX")
wt_log "tray crop $TRAY_CROP: menu at $MENU, icon at $ICON; box $BOX, OK at $OK"
wt_expect_eq "$(rec menu_permit)" "$(rec menu)" "the checked menu's place"
wt_expect_eq "$(rec small_icon)" "${TRAY_SMALL_CX}x$TRAY_SMALL_CY" "small-icon size"

# ---- pixel measures ----

# count IMAGE GEOM FX: the pixels in GEOM of IMAGE for which FX (an ImageMagick
# -fx expression of r, g, b in 0..1) holds.
count() {
    convert "$1" -crop "$2" +repage -fx "$3" -format '%[fx:round(mean*w*h)]' info:
}
LUMA='(0.299*r+0.587*g+0.114*b)'
# text is black; the desktop (luma 0.36) and the frames' greys are not dark
DARK="$LUMA<0.25"
LIGHT='min(r,min(g,b))>0.9'
GREY="abs(r-g)<0.05&&abs(g-b)<0.05&&$LUMA>0.4&&$LUMA<0.85"
BLUE='b-r>0.3'
YELLOW='abs(r-1)<0.06&&abs(g-0.863)<0.06&&abs(b-0.157)<0.06'
SQUARE='abs(r-0.157)<0.06&&abs(g-0.392)<0.06&&abs(b-0.784)<0.06'
size_of() { identify -format '%wx%h' "$1"; }
# area GEOM: its pixel count.
area() {
    parse "$1"
    echo $((GW * GH))
}
# at_least N PERCENT OF: N is at least PERCENT % of OF.
at_least() { ((100 * $1 >= $2 * $3)); }
# near N WANT: N within 40 % of WANT (as tray-lib.sh counts one icon).
near() { ((10 * $1 >= 6 * $2 && 10 * $1 <= 14 * $2)); }
# inside INNER OUTER_SIZE: geometry INNER lies within a picture of OUTER_SIZE (WxH).
inside() {
    local w=${2%x*} h=${2#*x}
    parse "$1"
    ((GX >= 0 && GY >= 0 && GX + GW <= w && GY + GH <= h))
}
# note TEXT: a measurement, logged under the check that made it.
note() { wt_log "  $*"; }

# Each check_* IMAGE returns 0 when the picture shows the thing, logging why not.

# Not blank, not one colour: some colours and some contrast.
check_not_blank() {
    local colours spread
    colours=$(identify -format '%k' "$1") spread=$(identify -format '%[fx:round(1000*standard_deviation)]' "$1")
    note "$(basename "$1"): $colours colours, spread $spread/1000"
    ((colours >= 6 && spread >= 100))
}

# The icon: its colours in one icon's amounts at ICON, in the bottom right
# corner (the taskbar's notification area), and nowhere else in the picture.
check_icon() {
    local img=$1 size yellow blue all_yellow all_blue w h
    size=$(size_of "$img")
    w=${size%x*} h=${size#*x}
    inside "$ICON" "$size" || { note "icon box $ICON outside $size"; return 1; }
    yellow=$(count "$img" "$ICON" "$YELLOW") blue=$(count "$img" "$ICON" "$SQUARE")
    all_yellow=$(count "$img" "$size+0+0" "$YELLOW") all_blue=$(count "$img" "$size+0+0" "$SQUARE")
    note "icon at $ICON: $yellow yellow, $blue blue (one icon: $TRAY_EXPECT_YELLOW, $TRAY_EXPECT_BLUE);" \
        "whole picture $all_yellow, $all_blue"
    parse "$ICON"
    near "$yellow" "$TRAY_EXPECT_YELLOW" && near "$blue" "$TRAY_EXPECT_BLUE" &&
        ((all_yellow == yellow && all_blue == blue)) &&
        ((GX + GW >= w - TRAY_SMALL_CX - 4 && GY >= h - TRAY_HEIGHT))
}

# ring IMAGE GEOM FX: the pixels of GEOM's outermost ring for which FX holds,
# and the ring's length ("N of M").
ring() {
    local g n=0 len=0
    parse "$2"
    for g in "${GW}x1+$GX+$GY" "${GW}x1+$GX+$((GY + GH - 1))" "1x$((GH - 2))+$GX+$((GY + 1))" \
        "1x$((GH - 2))+$((GX + GW - 1))+$((GY + 1))"; do
        n=$((n + $(count "$1" "$g" "$3")))
        len=$((len + $(area "$g")))
    done
    echo "$n of $len"
}

# The menu at MENU: desktop (not white) above it, a grey frame, a white inside
# with dark text in its upper half (two items) and its last quarter (Exit).
check_menu() {
    local img=$1 size inner above frame frame_len light dark top bottom
    size=$(size_of "$img")
    inside "$MENU" "$size" || { note "menu $MENU outside $size"; return 1; }
    parse "$MENU"
    local mw=$GW mh=$GH mx=$GX my=$GY
    ((my >= 6)) || { note "no desktop above the menu"; return 1; }
    above=$(count "$img" "${mw}x6+$mx+$((my - 6))" "$LIGHT")
    read -r frame _ frame_len <<<"$(ring "$img" "$MENU" "$GREY")"
    inner=$(shrink "$MENU" 2)
    light=$(count "$img" "$inner" "$LIGHT")
    dark=$(count "$img" "$inner" "$DARK")
    top=$(count "$img" "$((mw - 4))x$((mh / 2 - 2))+$((mx + 2))+$((my + 2))" "$DARK")
    bottom=$(count "$img" "$((mw - 4))x$((mh / 4))+$((mx + 2))+$((my + mh - 2 - mh / 4))" "$DARK")
    note "menu at $MENU: $above of $((mw * 6)) light above it; frame $frame of $frame_len grey;" \
        "inside $light of $(area "$inner") light, $dark dark ($top in the upper half, $bottom in the last quarter)"
    at_least "$((mw * 6 - above))" 90 "$((mw * 6))" && at_least "$frame" 90 "$frame_len" &&
        at_least "$light" 85 "$(area "$inner")" && ((top >= 250 && bottom >= 40))
}

# The first item's check area: the left margin of its row.
check_area() {
    parse "$MENU"
    printf '%dx%d+%d+%d' 16 $((GH / 3 - 2)) $((GX + 2)) $((GY + 2))
}
# check_mark IMAGE: dark pixels in the check area.
check_mark() {
    local n
    n=$(count "$1" "$(check_area)" "$DARK")
    note "$(basename "$1"): $n dark pixels in the check area $(check_area)"
    ((n >= 10))
}
no_check_mark() {
    local n
    n=$(count "$1" "$(check_area)" "$DARK")
    note "$(basename "$1"): $n dark pixels in the check area $(check_area)"
    ((n == 0))
}

# The version box, cropped to its window: a raised frame and no desktop at the
# edges, a blue caption band with text, a light body with much text, and the OK
# button framed, labelled, in the middle third of the lower half.
check_box() {
    local img=$1 size w h ring_blue=0 g top_edge left_edge bottom_edge right_edge caption caption_text body body_dark
    size=$(size_of "$img")
    w=${size%x*} h=${size#*x}
    ((w >= 100 && h >= 80)) || { note "box picture only $size"; return 1; }
    for g in "${w}x1+0+0" "${w}x1+0+$((h - 1))" "1x$h+0+0" "1x$h+$((w - 1))+0"; do
        ring_blue=$((ring_blue + $(count "$img" "$g" "$BLUE")))
    done
    top_edge=$(count "$img" "$((w - 4))x1+2+0" "$LUMA>0.8") left_edge=$(count "$img" "1x$((h - 4))+0+2" "$LUMA>0.8")
    bottom_edge=$(count "$img" "$((w - 4))x1+2+$((h - 1))" "$LUMA<0.5")
    right_edge=$(count "$img" "1x$((h - 4))+$((w - 1))+2" "$LUMA<0.5")
    # the caption band: below the frame, as tall as a line of text
    caption=$(count "$img" "$((w - 8))x14+4+4" "$BLUE")
    caption_text=$(count "$img" "$((w / 2))x14+4+4" "$DARK")
    body=$(count "$img" "$((w - 8))x$((h / 2))+4+$((h / 4))" "$LIGHT")
    body_dark=$(count "$img" "$((w - 8))x$((h - 30))+4+24" "$DARK")
    note "box $size: $ring_blue blue on the outer edge; light top/left edge $top_edge/$((w - 4)), $left_edge/$((h - 4));" \
        "dark bottom/right edge $bottom_edge/$((w - 4)), $right_edge/$((h - 4)); caption $caption of $(((w - 8) * 14)) blue," \
        "$caption_text dark; body $body of $(((w - 8) * (h / 2))) light, $body_dark dark"
    ((ring_blue == 0)) && at_least "$top_edge" 95 $((w - 4)) && at_least "$left_edge" 95 $((h - 4)) &&
        at_least "$bottom_edge" 95 $((w - 4)) && at_least "$right_edge" 95 $((h - 4)) &&
        at_least "$caption" 70 $(((w - 8) * 14)) && ((caption_text >= 40)) &&
        at_least "$body" 70 $(((w - 8) * (h / 2))) && ((body_dark >= 800)) || return 1
    inside "$OK" "$size" || { note "OK button $OK outside $size"; return 1; }
    parse "$OK"
    local label frame frame_len off
    label=$(count "$img" "$(shrink "$OK" 3)" "$DARK")
    read -r frame _ frame_len <<<"$(ring "$img" "$OK" "$BLUE")"
    parse "$OK"
    off=$((GX + GW / 2 - w / 2))
    note "OK button $OK: $label dark inside, frame $frame of $frame_len blue, centre off the box's by $off"
    ((label >= 20 && GY >= h / 2 && 6 * off <= w && 6 * off >= -w)) && at_least "$frame" 90 "$frame_len"
}

# The version box's close button: the raised button at the right end of the
# caption band (its light face and upper-left edge), and in it the glyph, the
# pixels darker than the face. At least 60 % of the pixels dark in the glyph or
# in Marlett's "r" (drawn from the font file, scaled to the glyph's box) must
# be dark in both: the x of Marlett matches itself all but exactly, a letter r
# drawn in its place overlaps it by about a quarter. Sets CLOSE_GLYPH, the
# glyph's box in the picture.
MARLETT=$(ovq_wine_data_dir)/fonts/marlett.ttf
check_close_button() {
    local img=$1 size w h x y flags band_top=-1 band_bottom=-1 region button glyph both either
    size=$(size_of "$img")
    w=${size%x*} h=${size#*x}
    # the band: the rows where the caption is blue, left of the button
    x=$((3 * w / 4))
    flags=$(convert "$img" -crop "1x$((h / 3))+$x+0" +repage -fx "$BLUE ? 1 : 0" -depth 8 -compress none pgm:- |
        tail -n +4 | tr -s ' \n' '\n' | grep .)
    y=0
    while read -r flag; do
        if ((flag)); then
            ((band_top < 0)) && band_top=$y
            band_bottom=$y
        elif ((band_top >= 0)); then
            break
        fi
        y=$((y + 1))
    done <<<"$flags"
    ((band_top >= 0 && band_bottom - band_top >= 10)) || { note "no caption band at x=$x"; return 1; }
    # up to the box's frame, 4 pixels wide as check_box has it, whose inner edge is light
    region="$((w - 4 - x))x$((band_bottom - band_top + 1))+$x+$band_top"
    button=$(convert "$img" -crop "$region" +repage -fx "$LIGHT ? 1 : 0" -format '%@' info:)
    parse "$button"
    ((GW >= 8 && GH >= 8)) || { note "no button in the caption band's right end $region ($button)"; return 1; }
    button="${GW}x${GH}+$((x + GX))+$((band_top + GY))"
    glyph=$(convert "$img" -crop "$(shrink "$button" 1)" +repage -fx "$LUMA < 0.7 ? 1 : 0" -format '%@' info:)
    parse "$glyph"
    ((GW >= 3 && GW < 100 && GH >= 3 && GH < 100)) || { note "no glyph in the close button $button"; return 1; }
    parse "$(shrink "$button" 1)"
    local bx=$GX by=$GY
    parse "$glyph"
    CLOSE_GLYPH="${GW}x${GH}+$((bx + GX))+$((by + GY))"
    convert "$img" -crop "$CLOSE_GLYPH" +repage -fx "$LUMA < 0.7 ? 0 : 1" "$WT_DIR/.glyph.png"
    convert -background white -fill black -font "$MARLETT" -pointsize 96 label:r -trim +repage \
        -resize "${GW}x${GH}!" -fx 'p < 0.5 ? 0 : 1' "$WT_DIR/.marlett.png" ||
        { note "cannot draw Marlett's r from $MARLETT"; return 1; }
    either=$(convert "$WT_DIR/.glyph.png" "$WT_DIR/.marlett.png" -compose multiply -composite \
        -format '%[fx:round((1-mean)*w*h)]' info:)
    both=$(convert "$WT_DIR/.glyph.png" "$WT_DIR/.marlett.png" -compose lighten -composite \
        -format '%[fx:round((1-mean)*w*h)]' info:)
    note "$(basename "$img"): caption band rows $band_top-$band_bottom, close button $button," \
        "glyph $CLOSE_GLYPH; dark in the glyph or Marlett's r: $either, in both: $both"
    ((either > 0)) && at_least "$both" 60 "$either"
}

not() { ! "$@"; }

# ---- the pictures ----

for name in tray-menu tray-menu-permit version-box; do
    [[ -f $PICS/$name.png ]] || wt_die "the script made no $name.png"
    wt_expect "$name.png is a PNG" test "$(identify -format '%m' "$PICS/$name.png")" = PNG
    wt_expect "$name.png is not blank" check_not_blank "$PICS/$name.png"
    # what the record says is where the picture was cut from
    crop=$TRAY_CROP
    [[ $name == version-box ]] && crop=$BOX
    convert "$WORK/$name-full.png" -crop "$crop" +repage "$WT_DIR/recrop-$name.png"
    wt_expect_eq "$(compare -metric AE "$PICS/$name.png" "$WT_DIR/recrop-$name.png" null: 2>&1)" 0 \
        "pixels of $name.png unlike its full screenshot cropped at $crop"
done
parse "$TRAY_CROP"
wt_expect_eq "$(size_of "$PICS/tray-menu.png")" "${GW}x$GH" "size of tray-menu.png"
wt_expect_eq "$(size_of "$PICS/tray-menu-permit.png")" "${GW}x$GH" "size of tray-menu-permit.png"
parse "$BOX"
wt_expect_eq "$(size_of "$PICS/version-box.png")" "${GW}x$GH" "size of version-box.png"

wt_expect "tray-menu.png shows the icon" check_icon "$PICS/tray-menu.png"
wt_expect "tray-menu.png shows the menu" check_menu "$PICS/tray-menu.png"
wt_expect "tray-menu.png shows no check mark" no_check_mark "$PICS/tray-menu.png"
wt_expect "tray-menu-permit.png shows the icon" check_icon "$PICS/tray-menu-permit.png"
wt_expect "tray-menu-permit.png shows the menu" check_menu "$PICS/tray-menu-permit.png"
wt_expect "tray-menu-permit.png shows a check mark" check_mark "$PICS/tray-menu-permit.png"
# Nothing but the check mark tells the two apart.
parse "$(check_area)"
for name in tray-menu tray-menu-permit; do
    convert "$PICS/$name.png" -fill black -draw "rectangle $GX,$GY $((GX + GW - 1)),$((GY + GH - 1))" \
        "$WT_DIR/masked-$name.png"
done
diff_outside=$(compare -metric AE "$WT_DIR/masked-tray-menu.png" "$WT_DIR/masked-tray-menu-permit.png" null: 2>&1)
wt_expect_eq "$diff_outside" 0 "pixels that differ between the two menus outside the check area"
wt_expect "version-box.png shows the box" check_box "$PICS/version-box.png"
wt_expect "version-box.png shows the close button's x, as Marlett draws it" check_close_button "$PICS/version-box.png"

# ---- the same checks on the screen before ovq started must fail ----

before="$WORK/tray-before.png"
[[ -f $before ]] || wt_die "the script kept no screenshot from before ovq started"
convert "$before" -crop "$TRAY_CROP" +repage "$WT_DIR/control-tray.png"
convert "$before" -crop "$BOX" +repage "$WT_DIR/control-box.png"
wt_expect "the icon check fails on the screen before ovq started" not check_icon "$WT_DIR/control-tray.png"
wt_expect "the menu check fails on the screen before ovq started" not check_menu "$WT_DIR/control-tray.png"
wt_expect "the check-mark check fails on the unchecked menu" not check_mark "$PICS/tray-menu.png"
wt_expect "the box check fails on the screen before ovq started" not check_box "$WT_DIR/control-box.png"
# The box as Wine draws it without Marlett: the button's face painted over the
# glyph, and a letter r in its place, in the sans-serif font the system falls
# back to, at the glyph's size.
if [[ -n ${CLOSE_GLYPH:-} ]]; then
    parse "$CLOSE_GLYPH"
    letter_font=$(fc-match -f '%{file}' sans-serif)
    convert "$PICS/version-box.png" -fill 'rgb(245,245,245)' \
        -draw "rectangle $((GX - 1)),$((GY - 1)) $((GX + GW)),$((GY + GH))" \
        \( -background none -fill black -font "$letter_font" -pointsize 96 label:r -trim +repage -resize "${GW}x${GH}!" \) \
        -geometry "+$GX+$GY" -composite "$WT_DIR/control-letter-r.png"
    wt_expect "the close-button check fails on the box with a letter r in the button" \
        not check_close_button "$WT_DIR/control-letter-r.png"
fi

# ---- the committed pictures ----

for name in tray-menu tray-menu-permit version-box; do
    if [[ -f $ROOT/docs/$name.png ]]; then
        wt_expect_eq "$(size_of "$ROOT/docs/$name.png")" "$(size_of "$PICS/$name.png")" "size of docs/$name.png"
        if cmp -s "$ROOT/docs/$name.png" "$PICS/$name.png"; then
            wt_log "docs/$name.png is byte for byte the fresh one"
        else
            wt_log "docs/$name.png differs from the fresh one (same size; run scripts/screenshots.sh to renew it)"
        fi
    else
        wt_log "FAIL: docs/$name.png is missing"
        WT_FAILED=1
    fi
done
