# shellcheck shell=bash
# shellcheck disable=SC2034
# Helpers for the Wine tests that look at ovq's icon in the taskbar's notification
# area and click it for real; sourced after lib.sh and wt_init.
#
# Where the icon is: Wine 8's taskbar ("Shell_TrayWnd", along the bottom of the
# virtual desktop) draws the notification icons straight onto itself, from its
# right end leftwards, one slot of the small-icon size plus a border each; it has
# no window per icon (later Wine versions have "__wine_tray_icon" children, which
# `probe tray-info` lists as icons=N). So the notification area is taken as the
# right quarter of the taskbar's rectangle (room for several slots), and the icon
# is found in a screenshot of that area by its two main colours, the yellow bolt
# (#FFDC28) and the blue square (#2864C8) of res/icon.txt. Counts are taken after
# subtracting those of the same area before ovq started, and compared with what
# one icon at the small-icon size has: the pixel counts of res/icon.txt scaled
# from 32x32. A missing icon counts zero, two icons side by side twice as much.
#
# Results: TRAY_AREA (WxH+X+Y on the X screen), TRAY_YELLOW/TRAY_BLUE (icon
# pixels above the baseline), TRAY_BOX (bounding box of the blue, WxH+X+Y on the X
# screen), TRAY_CLICK_X/Y (its centre), TRAY_STATE (none, one, or other).

TRAY_YELLOW_RGB='#FFDC28'
TRAY_BLUE_RGB='#2864C8'
TRAY_FUZZ=6%
TRAY_BASE_YELLOW=0
TRAY_BASE_BLUE=0

# tray_locate: the taskbar from the probe, the desktop's place on the X screen,
# the notification area to search and the expected counts of one icon.
tray_locate() {
    ovq_require_tools import convert xwininfo xdotool || wt_die "ImageMagick, xwininfo or xdotool is missing"
    probe wait-class Shell_TrayWnd 5000 || wt_die "no taskbar on the virtual desktop"
    probe tray-info || wt_die "tray-info failed"
    local rect small left top right bottom origin ox oy
    rect=$(kv rect)
    small=$(kv small_icon)
    IFS=, read -r left top right bottom <<<"$rect"
    [[ $small =~ ^([0-9]+)x([0-9]+)$ ]] || wt_die "no small-icon size from the probe ($small)"
    TRAY_SMALL_CX=${BASH_REMATCH[1]}
    TRAY_SMALL_CY=${BASH_REMATCH[2]}
    # The virtual desktop is an X window named "<desktop> - Wine desktop"; Windows
    # coordinates on it are relative to its top-left corner.
    origin=$(xwininfo -display "$DISPLAY" -root -tree | sed -n 's/.*"[^"]* - Wine desktop".* \([-+][0-9]*\)\([-+][0-9]*\)$/\1 \2/p' | head -n1)
    [[ -n $origin ]] || wt_die "the Wine desktop window is not on the X screen"
    read -r ox oy <<<"$origin"
    TRAY_OX=$((ox))
    TRAY_OY=$((oy))
    local width=$(((right - left) / 4)) height=$((bottom - top))
    ((width > 2 * (TRAY_SMALL_CX + 4) && height >= TRAY_SMALL_CY)) || wt_die "taskbar too small: $rect"
    TRAY_AREA="${width}x${height}+$((TRAY_OX + right - width))+$((TRAY_OY + top))"
    TRAY_AREA_X=$((TRAY_OX + right - width))
    TRAY_AREA_Y=$((TRAY_OY + top))
    TRAY_RIGHT=$((TRAY_OX + right))
    TRAY_HEIGHT=$height
    local icon_txt yellow blue
    icon_txt="$(dirname "${BASH_SOURCE[0]}")/../../res/icon.txt"
    [[ -f $icon_txt ]] || wt_die "no $icon_txt"
    yellow=$(grep -E '^[0-9a-f.]{32}$' "$icon_txt" | tr -cd 4 | wc -c)
    blue=$(grep -E '^[0-9a-f.]{32}$' "$icon_txt" | tr -cd 2 | wc -c)
    TRAY_EXPECT_YELLOW=$((yellow * TRAY_SMALL_CX * TRAY_SMALL_CY / 1024))
    TRAY_EXPECT_BLUE=$((blue * TRAY_SMALL_CX * TRAY_SMALL_CY / 1024))
    ((TRAY_EXPECT_YELLOW > 10 && TRAY_EXPECT_BLUE > 10)) || wt_die "res/icon.txt gives no icon colours"
    wt_log "taskbar $rect, desktop at +$TRAY_OX+$TRAY_OY, notification area $TRAY_AREA," \
        "one icon: $TRAY_EXPECT_YELLOW yellow, $TRAY_EXPECT_BLUE blue"
}

# tray_mask IMAGE COLOUR FORMAT: FORMAT (ImageMagick) of the notification area
# of IMAGE with COLOUR white and everything else black.
tray_mask() {
    convert "$1" -crop "$TRAY_AREA" +repage -fuzz "$TRAY_FUZZ" -fill black +opaque "$2" \
        -fill white -opaque "$2" -format "$3" info:
}

# tray_shot FILE: a screenshot of the whole X screen.
tray_shot() {
    import -display "$DISPLAY" -window root "$1" >/dev/null 2>&1
}

# tray_measure IMAGE: sets TRAY_YELLOW, TRAY_BLUE, TRAY_BOX, TRAY_CLICK_X/Y, TRAY_STATE.
tray_measure() {
    local img=$1 yellow blue box
    yellow=$(tray_mask "$img" "$TRAY_YELLOW_RGB" '%[fx:round(mean*w*h)]') || return 1
    blue=$(tray_mask "$img" "$TRAY_BLUE_RGB" '%[fx:round(mean*w*h)]') || return 1
    [[ $yellow =~ ^[0-9]+$ && $blue =~ ^[0-9]+$ ]] || return 1
    # the bounding box of the blue (ImageMagick has none for an all-black mask)
    box=
    ((blue > 0)) && box=$(tray_mask "$img" "$TRAY_BLUE_RGB" '%@' 2>/dev/null)
    TRAY_YELLOW=$((yellow - TRAY_BASE_YELLOW))
    TRAY_BLUE=$((blue - TRAY_BASE_BLUE))
    TRAY_BOX=
    TRAY_CLICK_X=
    TRAY_CLICK_Y=
    if ((blue > 0)) && [[ $box =~ ^([0-9]+)x([0-9]+)\+([0-9]+)\+([0-9]+)$ ]]; then
        local w=${BASH_REMATCH[1]} h=${BASH_REMATCH[2]} x=${BASH_REMATCH[3]} y=${BASH_REMATCH[4]}
        TRAY_BOX="${w}x${h}+$((TRAY_AREA_X + x))+$((TRAY_AREA_Y + y))"
        TRAY_BOX_W=$w
        TRAY_BOX_H=$h
        TRAY_CLICK_X=$((TRAY_AREA_X + x + w / 2))
        TRAY_CLICK_Y=$((TRAY_AREA_Y + y + h / 2))
    fi
    # one icon: both counts within 40 % of the expected ones
    if ((TRAY_YELLOW <= 2 && TRAY_BLUE <= 2)); then
        TRAY_STATE=none
    elif ((10 * TRAY_YELLOW >= 6 * TRAY_EXPECT_YELLOW && 10 * TRAY_YELLOW <= 14 * TRAY_EXPECT_YELLOW &&
        10 * TRAY_BLUE >= 6 * TRAY_EXPECT_BLUE && 10 * TRAY_BLUE <= 14 * TRAY_EXPECT_BLUE)); then
        TRAY_STATE=one
    else
        TRAY_STATE=other
    fi
}

# tray_baseline: the counts of the area while ovq has no icon; later counts are
# taken above them.
tray_baseline() {
    local img="$WT_DIR/.baseline.png"
    tray_shot "$img" || wt_die "no screenshot"
    TRAY_BASE_YELLOW=0
    TRAY_BASE_BLUE=0
    tray_measure "$img" || wt_die "cannot measure $img"
    TRAY_BASE_YELLOW=$TRAY_YELLOW
    TRAY_BASE_BLUE=$TRAY_BLUE
    mv "$img" "$WT_DIR/tray-before.png"
    wt_log "before ovq: $TRAY_BASE_YELLOW yellow, $TRAY_BASE_BLUE blue pixels in the notification area"
}

# tray_wait_state STATE MS NAME: polls screenshots until the area shows STATE on
# three shots in a row spanning at least 400 ms (the taskbar repaints after a
# change, so one shot can catch a passing state); keeps the last as NAME.png.
# Returns 1 at the deadline, with the last measurement in TRAY_*.
tray_wait_state() {
    local want=$1 deadline=$(($(ovq_ms) + $2)) name=$3 img="$WT_DIR/.poll.png" run=0 since=0 now
    while :; do
        tray_shot "$img" || wt_die "no screenshot"
        tray_measure "$img" || wt_die "cannot measure $img"
        now=$(ovq_ms)
        if [[ $TRAY_STATE == "$want" ]]; then
            ((run++ == 0)) && since=$now
            if ((run >= 3 && now - since >= 400)); then
                mv "$img" "$WT_DIR/$name.png"
                return 0
            fi
        else
            run=0
        fi
        if ((now >= deadline)); then
            mv "$img" "$WT_DIR/$name.png"
            return 1
        fi
        sleep 0.1
    done
}

# tray_expect_one WHAT: the area shows exactly one icon of the right size in the
# rightmost slot of the taskbar.
tray_expect_one() {
    local what=$1
    wt_expect "$what: one icon ($TRAY_YELLOW yellow, $TRAY_BLUE blue; one is $TRAY_EXPECT_YELLOW, $TRAY_EXPECT_BLUE)" \
        test "$TRAY_STATE" = one
    wt_expect "$what: icon box $TRAY_BOX is at most ${TRAY_SMALL_CX}x$TRAY_SMALL_CY and at least half of it" \
        test -n "$TRAY_BOX" -a "${TRAY_BOX_W:-0}" -le "$TRAY_SMALL_CX" -a "${TRAY_BOX_H:-0}" -le "$TRAY_SMALL_CY" \
        -a "$((2 * ${TRAY_BOX_W:-0}))" -ge "$TRAY_SMALL_CX" -a "$((2 * ${TRAY_BOX_H:-0}))" -ge "$TRAY_SMALL_CY"
    wt_expect "$what: icon centre x=$TRAY_CLICK_X within the rightmost slot (taskbar ends at $TRAY_RIGHT)" \
        test -n "$TRAY_CLICK_X" -a "${TRAY_CLICK_X:-0}" -lt "$TRAY_RIGHT" \
        -a "${TRAY_CLICK_X:-0}" -ge "$((TRAY_RIGHT - TRAY_SMALL_CX - 4))"
}

# tray_pointer_to X Y: moves the pointer and polls until the X server reports it
# there (xdotool's own --sync waits some 15 s when the pointer is there already).
tray_pointer_to() {
    local x=$1 y=$2 deadline=$(($(ovq_ms) + 3000))
    xdotool mousemove "$x" "$y" || wt_die "xdotool failed"
    until [[ $(xdotool getmouselocation 2>/dev/null) == "x:$x y:$y "* ]]; do
        (($(ovq_ms) >= deadline)) && wt_die "the pointer does not reach $x,$y"
        sleep 0.02
    done
}

# tray_click BUTTON: a real click (1 left, 3 right) on the icon's centre.
tray_click() {
    [[ -n $TRAY_CLICK_X ]] || wt_die "no icon to click"
    tray_pointer_to "$TRAY_CLICK_X" "$TRAY_CLICK_Y"
    xdotool click "$1" || wt_die "xdotool failed"
    wt_log "clicked button $1 at $TRAY_CLICK_X,$TRAY_CLICK_Y"
}

# tray_mouse_away: moves the pointer to the middle of the desktop, away from the
# icon (its tooltip would cover parts of later screenshots).
tray_mouse_away() {
    tray_pointer_to $((TRAY_OX + 300)) $((TRAY_OY + 200))
}

# tray_exit_from_menu: X from a menu opened by a real click on the icon: the
# first copy (FIRST_PID) ends with 0 and takes its icon away (after-exit.png).
tray_exit_from_menu() {
    tray_click 3
    probe wait-menu 3000 || wt_die "no menu for X after a click on the icon"
    probe menu-key x
    probe wait-menu-gone 3000 || wt_die "the menu stays open after X"
    ovq_wait_exit "$FIRST_PID" 5000 || wt_die "ovq still runs 5 s after the menu's X"
    wt_expect_eq "$OVQ_EXIT" 0 "exit code after X"
    tray_mouse_away
    tray_wait_state none 5000 after-exit
    wt_expect "no icon left after ovq ended ($TRAY_YELLOW yellow, $TRAY_BLUE blue)" test "$TRAY_STATE" = none
}
